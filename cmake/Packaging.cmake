# Debian packages with CPack: `cpack -G DEB` in the build tree writes
#   zimpprotocol_<version>_amd64.deb   the programs, simulators, desktop entry, icon, manual
#                                      pages and completion (component ZimpProtocol)
#   libcorvex_<version>_amd64.deb      the Corvex shared library (component Corvex)
#   libcorvex-dev_<version>_amd64.deb  its header, CMake package and pkg-config file (CorvexDev)
# The version is the project's. Dependencies on the system's libraries are found by
# dpkg-shlibdeps, never listed here.

set(ZIMP_PACKAGE_CONTACT "ZimpProtocol maintainers <zimpprotocol@localhost>"
  CACHE STRING "Maintainer field of the Debian packages")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zimpprotocol)
set(CPACK_PACKAGE_VENDOR "ZimpProtocol")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${ZIMP_PACKAGE_CONTACT}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL ZimpProtocol Corvex CorvexDev)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# A shlibs file for the package with the shared library, so that what links it depends on it.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
# libcorvex-dev depends on libcorvex of the same version.
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
set(CPACK_COMPONENT_CORVEXDEV_DEPENDS Corvex)

set(CPACK_DEBIAN_ZIMPPROTOCOL_PACKAGE_NAME zimpprotocol)
set(CPACK_DEBIAN_ZIMPPROTOCOL_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_ZIMPPROTOCOL_DESCRIPTION
  "ZIMP workbench: load, save and boot-load radio memories
The desktop program zimpprotocol and the command-line program zimp load S-Record
files into a radio's memories over a serial line, save and verify them, and
boot-load programs; zimp-radio-sim and rnc-sim simulate a radio and an RNC server.")

set(CPACK_DEBIAN_CORVEX_PACKAGE_NAME libcorvex)
set(CPACK_DEBIAN_CORVEX_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_CORVEX_DESCRIPTION
  "Corvex RNC client library
The shared library of Corvex, a client of the RNC server.")

set(CPACK_DEBIAN_CORVEXDEV_PACKAGE_NAME libcorvex-dev)
set(CPACK_DEBIAN_CORVEXDEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_CORVEXDEV_DESCRIPTION
  "Corvex RNC client library: development files
The header, the CMake package (find_package(Corvex)) and the pkg-config file
(corvex) of the Corvex library.")

include(CPack)
