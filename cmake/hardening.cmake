# Hardening of what a volunteer installs: the client runs unattended for
# months, talks to the network and starts programs it downloaded, so a memory
# fault in it should end it rather than hand it over. Position-independent
# code (ASLR), stack protection, fortified libc calls, and relocations made
# read-only (full RELRO: resolved at start, then locked).
#
# Off for the sanitizer and fuzzing builds, which bring their own
# instrumentation, and settable for a packager whose flags already do this.

option(QRV_HARDENING "build position-independent, with stack protection, _FORTIFY_SOURCE, full RELRO and immediate binding" ON)
if(NOT QRV_HARDENING OR QRV_SANITIZE OR QRV_FUZZ)
  return()
endif()

include(CheckPIESupported)
check_pie_supported(LANGUAGES C CXX)
set(CMAKE_POSITION_INDEPENDENT_CODE ON)

add_compile_options(-fstack-protector-strong)
add_link_options(LINKER:-z,relro LINKER:-z,now)

# _FORTIFY_SOURCE works only when optimizing, and some compilers (Ubuntu's)
# define it themselves then: defining it again with another level would be
# a redefinition warning, which is an error here. So it is added only where
# neither the compiler nor the caller's flags set it, and never for Debug.
include(CheckCXXSourceCompiles)
set(CMAKE_REQUIRED_FLAGS "-O2")
check_cxx_source_compiles("
#ifdef _FORTIFY_SOURCE
#error the compiler fortifies already
#endif
int main() { return 0; }" QRV_COMPILER_LEAVES_FORTIFY_UNSET)
unset(CMAKE_REQUIRED_FLAGS)
if(QRV_COMPILER_LEAVES_FORTIFY_UNSET AND NOT "${CMAKE_CXX_FLAGS} ${CMAKE_C_FLAGS}" MATCHES "_FORTIFY_SOURCE")
  add_compile_definitions($<$<NOT:$<CONFIG:Debug>>:_FORTIFY_SOURCE=2>)
endif()
