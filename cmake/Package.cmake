# The Debian package (scripts/package configures a Release build for /usr
# with FEROBRIXLAN_PACKAGE and runs cpack): the four programs, the desktop
# entry and icon, the pictures and the manual, the service's unit and sample
# configuration, the manual pages, and the changelog and copyright every
# Debian package carries. The version is the project's.
if(NOT FEROBRIXLAN_PACKAGE)
    return()
endif()

set(FBX_DEB ${PROJECT_SOURCE_DIR}/packaging)
set(FBX_MAINTAINER "ferobrixlan maintainers <maintainers@users.noreply.c-seed-e2f85ae3.example>")

configure_file(${FBX_DEB}/changelog.in ${PROJECT_BINARY_DIR}/packaging/changelog @ONLY)
add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/packaging/changelog.gz
    COMMAND gzip -9nkf ${PROJECT_BINARY_DIR}/packaging/changelog
    DEPENDS ${PROJECT_BINARY_DIR}/packaging/changelog
    VERBATIM)
add_custom_target(package_changelog ALL DEPENDS ${PROJECT_BINARY_DIR}/packaging/changelog.gz)
install(FILES ${PROJECT_BINARY_DIR}/packaging/changelog.gz ${FBX_DEB}/copyright
    DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/ferobrixlan)
install(FILES ${FBX_DEB}/lintian-overrides
    DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME ferobrixlan)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ferobrixlan)
set(CPACK_PACKAGE_CONTACT ${FBX_MAINTAINER})
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The maintainer scripts create the service's user with adduser.
set(CPACK_DEBIAN_PACKAGE_DEPENDS adduser)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${FBX_DEB}/postinst ${FBX_DEB}/prerm ${FBX_DEB}/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "moves NC programs between a PC and CNC machine tools
ferobrixlan sends part programs to a machine tool's controller over an
RS-232 line (or a serial device server), paced by the machine's XON/XOFF
and hardware handshake, drip-feeds them in DNC mode, and receives the
programs a machine punches out, translating ISO/EIA tape code.
.
The package holds the window program, the command-line program
ferobrixlan-cli, the shop-floor service ferobrixlan-server with its systemd
unit (it starts once /etc/ferobrixlan/shop.ini exists and the unit is
enabled), and ferobrixlan-machine, a simulated machine tool for trying
it all without one.")
include(CPack)
