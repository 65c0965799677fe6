# The Debian package (make deb): CPack's DEB generator over the install
# rules of this folder, with library dependencies found by dpkg-shlibdeps,
# a stripped binary, the copyright file and the changelog in the doc folder,
# and maintainer scripts that make the system user and reload systemd but
# leave the service stopped and disabled until the volunteer has chosen a
# name (qrv3(1), RUNNING AS A SERVICE).

install(FILES debian/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})
set(QRV_CHANGELOG_GZ ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz)
add_custom_command(OUTPUT ${QRV_CHANGELOG_GZ}
  COMMAND gzip -9 -n -c ${CMAKE_CURRENT_SOURCE_DIR}/debian/changelog > ${QRV_CHANGELOG_GZ}
  DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/debian/changelog)
add_custom_target(qrv3_changelog ALL DEPENDS ${QRV_CHANGELOG_GZ})
install(FILES ${QRV_CHANGELOG_GZ} DESTINATION ${CMAKE_INSTALL_DOCDIR})

# A package that trusts the testbed's demo key (whose private half is in
# this repository) or asks the testbed's loopback servers for work is no
# client for volunteers. cpack refuses to make one unless the builder says
# it is for a test (QRV_PACKAGE_FOR_TESTBED).
option(QRV_PACKAGE_FOR_TESTBED "allow a package with the demo key and the testbed's server addresses (tests only)" OFF)
file(SHA256 "${QRV_PUBLIC_KEY_FILE}" _key_sum)
file(SHA256 "${PROJECT_SOURCE_DIR}/testbed/keys/demo_public.key" _demo_key_sum)
set(QRV_PACKAGE_PROBLEMS "")
if(_key_sum STREQUAL _demo_key_sum)
  list(APPEND QRV_PACKAGE_PROBLEMS "it trusts the testbed's demo key (set QRV_PUBLIC_KEY_FILE to the project's public key record)")
endif()
foreach(host IN ITEMS ${QRV_ASSIGN_HOST_PRIMARY} ${QRV_ASSIGN_HOST_SECONDARY})
  if(host MATCHES "^(127\\.|localhost$|0\\.0\\.0\\.0$)")
    list(APPEND QRV_PACKAGE_PROBLEMS "its assignment server ${host} is a loopback address of the testbed (set QRV_ASSIGN_HOST_PRIMARY and QRV_ASSIGN_HOST_SECONDARY)")
    break()
  endif()
endforeach()
configure_file(package_checks.cmake.in ${CMAKE_CURRENT_BINARY_DIR}/package_checks.cmake @ONLY)
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_BINARY_DIR}/package_checks.cmake)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME qrv3)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Quorvel project <${QRV_HELP_ADDRESS}>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "console client of the Quorvel volunteer computing project")
set(CPACK_PACKAGE_DESCRIPTION
"The Quorvel client lends the idle processor time of a computer to the
Quorvel project's research in molecular simulation. Started once, it
fetches work units from the project's servers, downloads and verifies the
signed computation core that a unit needs, runs it at idle priority,
supervises it, returns the results, and survives bad units, bad cores, bad
networks and crashes without losing work.
.
The package installs the client qrv3, its manual page and a systemd
service that runs it as the system user quorvel in /var/lib/quorvel. The
service is neither enabled nor started on installation.")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${QRV_WEB_ADDRESS})
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The system user is made by systemd-sysusers where systemd is installed,
# else by adduser.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "adduser")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${CMAKE_CURRENT_SOURCE_DIR}/debian/postinst
    ${CMAKE_CURRENT_SOURCE_DIR}/debian/prerm
    ${CMAKE_CURRENT_SOURCE_DIR}/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# Files are owned by root whoever builds the package.
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
include(CPack)
