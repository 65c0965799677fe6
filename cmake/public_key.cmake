# The one signing key the client trusts, embedded in its data. The default is
# the testbed's demo key, whose private half is public: a deployment must set
# QRV_PUBLIC_KEY_FILE to its own record (type 5, exponent 17 implied, layout as
# written by testbed/bundle_tool.py pubkey-record).
#
# Included after qrv3lib is defined: it adds the generated source to it.

cmake_path(ABSOLUTE_PATH CMAKE_CURRENT_LIST_DIR OUTPUT_VARIABLE _qrv_list_dir NORMALIZE)
cmake_path(GET _qrv_list_dir PARENT_PATH _qrv_top)
set(QRV_PUBLIC_KEY_FILE "${_qrv_top}/testbed/keys/demo_public.key" CACHE FILEPATH
    "public key record the client verifies core bundles with")

if(NOT EXISTS "${QRV_PUBLIC_KEY_FILE}")
  message(FATAL_ERROR "QRV_PUBLIC_KEY_FILE: ${QRV_PUBLIC_KEY_FILE} does not exist")
endif()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${QRV_PUBLIC_KEY_FILE}")

file(READ "${QRV_PUBLIC_KEY_FILE}" _qrv_key_hex HEX)
string(LENGTH "${_qrv_key_hex}" _qrv_key_hexlen)
math(EXPR _qrv_key_size "${_qrv_key_hexlen} / 2")

# Big-endian field of the record, as a number.
function(_qrv_key_field out offset size)
  math(EXPR _start "${offset} * 2")
  math(EXPR _len "${size} * 2")
  string(SUBSTRING "${_qrv_key_hex}" ${_start} ${_len} _h)
  math(EXPR _v "0x${_h}")
  set(${out} ${_v} PARENT_SCOPE)
endfunction()

function(_qrv_key_refuse why)
  message(FATAL_ERROR "QRV_PUBLIC_KEY_FILE ${QRV_PUBLIC_KEY_FILE}: ${why}")
endfunction()

if(_qrv_key_size LESS 48)
  _qrv_key_refuse("${_qrv_key_size} bytes is shorter than the 48-byte record header")
endif()
_qrv_key_field(_qrv_key_type 0 2)
_qrv_key_field(_qrv_key_reserved 2 2)
_qrv_key_field(_qrv_key_bits 4 4)
if(NOT _qrv_key_type EQUAL 5 OR NOT _qrv_key_reserved EQUAL 0)
  _qrv_key_refuse("not a public key record (type ${_qrv_key_type}, reserved ${_qrv_key_reserved}; want 5 and 0)")
endif()
math(EXPR _qrv_key_rem "${_qrv_key_bits} % 8")
if(_qrv_key_bits LESS 512 OR NOT _qrv_key_rem EQUAL 0)
  _qrv_key_refuse("a ${_qrv_key_bits}-bit key is refused: at least 512 bits, in whole bytes")
endif()
# The verifier opens a signature with exponent 17 and examines only the last
# 42 bytes (336 bits) of the opened message. Above about 5,700 bits (17 x 336)
# anyone could forge a signature without the private key: the 17th root
# modulo 2^336 of the wanted tail, raised to the 17th power, stays below such a
# modulus, so the tail comes out unchanged. 4096 bits keeps a wide margin.
if(_qrv_key_bits GREATER 4096)
  _qrv_key_refuse("a ${_qrv_key_bits}-bit key is refused: with public exponent 17 and only the last 336 bits of the signed message checked, keys above about 5,700 bits let anyone forge core signatures, so the client accepts at most 4096 bits")
endif()
math(EXPR _qrv_key_want "48 + ${_qrv_key_bits} / 8")
if(NOT _qrv_key_size EQUAL _qrv_key_want)
  _qrv_key_refuse("${_qrv_key_size} bytes; a ${_qrv_key_bits}-bit record has ${_qrv_key_want}")
endif()
_qrv_key_field(_qrv_key_top 48 1)
if(_qrv_key_top LESS 128)
  _qrv_key_refuse("the modulus does not have the ${_qrv_key_bits} bits the record states")
endif()

string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," _qrv_key_bytes "${_qrv_key_hex}")
string(REPEAT "0x..," 16 _qrv_key_line)  # CMake regexes have no {n}
string(REGEX REPLACE "(${_qrv_key_line})" "\\1\n    " _qrv_key_bytes "${_qrv_key_bytes}")
string(STRIP "${_qrv_key_bytes}" _qrv_key_bytes)
file(CONFIGURE OUTPUT "${QRV_GENERATED_DIR}/public_key_record.cpp" CONTENT
"// Generated at configure time from ${QRV_PUBLIC_KEY_FILE}.
#include \"core/public_key_record.h\"

extern const uint8_t kQrvPublicKeyRecord[] = {
    ${_qrv_key_bytes}
};
extern const size_t kQrvPublicKeyRecordSize = sizeof(kQrvPublicKeyRecord);
" @ONLY)
target_sources(qrv3lib PRIVATE "${QRV_GENERATED_DIR}/public_key_record.cpp")
message(STATUS "Core bundles are verified with the ${_qrv_key_bits}-bit key ${QRV_PUBLIC_KEY_FILE}")
