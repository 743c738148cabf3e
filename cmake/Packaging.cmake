# The Debian package: `make package` (cmake/BuildPackage.cmake) builds it from a Release build with
# Debian's hardening flags, installed under /usr, stripped, with Depends worked out by dpkg-shlibdeps
# from the programs' shared libraries. The result is qor-oneclick_<version>_<arch>.deb.

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME qor-oneclick)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR Tavrix)
set(QOR_PACKAGE_MAINTAINER "QorOneClick developers <qor-oneclick@tavrix.example>" CACHE STRING
    "Maintainer field of the Debian package")
set(CPACK_PACKAGE_CONTACT ${QOR_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${QOR_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "upgrade a router and its built-in 3G modem")
# the extended description below the summary; CPack indents the lines and writes the empty ones as " ."
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
"QorOneClick upgrades the firmware of a home router with a built-in 3G
wireless modem from a PC joined to the router's LAN. Check finds and
verifies the upgrade images, discovers the router, reads the current
version of every module and decides which ones may be upgraded; Upgrade
sends the images module by module and writes every step to a log.

The package holds the desktop tool (qor-oneclick), a terminal front end
with JSON output (qor-oneclick-cli), a router emulator for trying the tool
without a device (qor-router-sim) and a tool that builds and inspects
upgrade images (qor-mkimage).")
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_STRIP_FILES ON)
# Depends from the ELF files; the window also needs a Qt platform plugin, which no library names
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
# Qt's own texts (buttons, option messages) in the user's language; the help opens in the browser
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n, xdg-utils")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# directories as Debian has them, whatever the builder's umask (see cmake/Install.cmake)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS ${CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS})
# no source package from CPack: the source is the repository
set(CPACK_SOURCE_GENERATOR "")

include(CPack)
