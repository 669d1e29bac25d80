# The Debian package of brevun-check (CPack's DEB generator): `bash scripts/package.sh`.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME brevun-check)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
# The same address signs contrib/changelog; lintian reads both.
set(CPACK_PACKAGE_CONTACT "brevun developers <developers@brevun.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "monitoring plugin that checks time servers")
# Debian wants the lines of the long description within 80 columns.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "brevun-check asks a time server over SNTP or the Time Protocol (RFC 868) and\n\
judges the offset of its clock against the local clock, or between two servers,\n\
by the threshold ranges of the monitoring plugin guidelines. For Icinga 2,\n\
Nagios and Naemon; the package brings a CheckCommand and command definitions\n\
as examples.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The dependencies are what the program links against (the C library alone), as dpkg-shlibdeps
# finds them, and the two libraries --nts loads by soname (nts/tls_library.h), which
# dpkg-shlibdeps cannot see.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libgnutls30 (>= 3.6.13), libnettle8")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "icinga2 | nagios4 | naemon")
set(CPACK_STRIP_FILES ON)
# Debian wants a changelog in every package, gzipped; a package whose version has no Debian
# revision (a native one) keeps it as changelog.gz.
set(brevun_changelog ${PROJECT_BINARY_DIR}/changelog.gz)
add_custom_command(OUTPUT ${brevun_changelog}
                   COMMAND gzip -9n -c ${PROJECT_SOURCE_DIR}/contrib/changelog > ${brevun_changelog}
                   DEPENDS contrib/changelog VERBATIM)
add_custom_target(brevun_check_changelog ALL DEPENDS ${brevun_changelog})
install(FILES ${brevun_changelog} DESTINATION share/doc/brevun-check)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/package)
# Installing (and so packaging) builds only what it installs, not every test program.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY TRUE)
include(CPack)
