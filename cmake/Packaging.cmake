# Debian packages with CPack (cpack -G DEB in the build folder; tools/test-package builds
# and checks them). Three packages from the install components:
#   corvane           the program, its data, menu entry, icons, metadata, manual page and the
#                     example plug-ins' sources
#   corvane-contacts  the address-book module (COMPONENT contacts), so that a desktop without
#                     Evolution's data server does not pull it in
#   corvane-tools     the line and modem simulators, to try Corvane without ISDN
# The packages install below /usr: configure with -DCMAKE_INSTALL_PREFIX=/usr, as the
# program looks for its data where it was configured to be.
# CPack rather than dpkg-buildpackage: the packages come from the same install rules as
# "cmake --install", with no debian/ tree of rules to keep in step, and from the build that
# the tests ran, where dpkg-buildpackage would build everything once more in a tree of its own.
set(CORVANE_PACKAGE_MAINTAINER "The Corvane developers <maintainers@corvane.org>"
  CACHE STRING "Maintainer field of the Debian packages")

# The manual's PDFs, Corvane_e.pdf and Corvane_g.pdf, belong beside orte.asc in
# ${CMAKE_INSTALL_DATADIR}/corvane (COMPONENT corvane), where Help looks for them; not in
# /usr/share/doc, which systems may leave out (dpkg path-exclude).

# Every package carries the copyright file and the changelog Debian policy asks for.
set(debian_doc ${CMAKE_BINARY_DIR}/debian)
configure_file(${PROJECT_SOURCE_DIR}/data/debian/changelog.in ${debian_doc}/changelog @ONLY)
add_custom_command(OUTPUT ${debian_doc}/changelog.gz
  COMMAND gzip -9nf -k ${debian_doc}/changelog
  DEPENDS ${debian_doc}/changelog
  VERBATIM)
add_custom_target(debian_changelog ALL DEPENDS ${debian_doc}/changelog.gz)
foreach(component corvane contacts tools)
  if(component STREQUAL "corvane")
    set(package corvane)
  else()
    set(package corvane-${component})
  endif()
  install(FILES ${PROJECT_SOURCE_DIR}/data/debian/copyright ${debian_doc}/changelog.gz
    DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${component})
endforeach()

# What the packages hold, built without the tests (tools/test-package builds this).
add_custom_target(package_files)
add_dependencies(package_files corvane corvane-app capisim capisim-cli modemsim manpage manual debian_changelog)
if(TARGET corvane_contacts_module)
  add_dependencies(package_files corvane_contacts_module)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME corvane)
set(CPACK_PACKAGE_VENDOR "The Corvane developers")
set(CPACK_PACKAGE_CONTACT "${CORVANE_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL corvane contacts tools)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION comm)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Dependencies from the libraries the binaries link (dpkg-shlibdeps).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)

set(CPACK_DEBIAN_CORVANE_PACKAGE_NAME corvane)
# libcapi20 is loaded at run time, and a router's call monitor needs none.
set(CPACK_DEBIAN_CORVANE_PACKAGE_RECOMMENDS "libcapi20-3, corvane-contacts")
set(CPACK_DEBIAN_CORVANE_PACKAGE_SUGGESTS "corvane-tools")
set(CPACK_DEBIAN_CORVANE_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/data/debian/postrm)
set(CPACK_DEBIAN_CORVANE_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
set(CPACK_DEBIAN_CORVANE_DESCRIPTION "caller ID monitor for ISDN lines and home routers
Corvane shows who is calling on an ISDN line (through a CAPI 2.0 controller
and libcapi20) or on a home router's call monitor, in a small popup that
stays above other windows: the name from the phone book or the address book,
or the number with the town of its area code. It keeps a call list, a phone
book of nicknames and the own numbers (MSNs), looks unknown callers up,
rejects unwanted ones and dials back through a modem. It lives in the tray.")

set(CPACK_DEBIAN_CONTACTS_PACKAGE_NAME corvane-contacts)
set(CPACK_DEBIAN_CONTACTS_DESCRIPTION "desktop address book for Corvane
Names callers from the desktop's address book (Evolution Data Server: the
contacts of GNOME, Evolution, online accounts and CardDAV books) and from
vCard files, and exports nicknames to the address book. Corvane loads this
module only when its address-book search is switched on.")

set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME corvane-tools)
set(CPACK_DEBIAN_TOOLS_DESCRIPTION "line and modem simulators for Corvane
capisim plays an ISDN exchange in place of libcapi20 and a home router's call
monitor; modemsim plays a modem for dialling back. Together they let one try
Corvane without ISDN hardware: start it with
CORVANE_CAPI_LIBRARY=${CMAKE_INSTALL_FULL_LIBDIR}/corvane/libcapisim.so")

# The program's data directory is compiled in: packages from a tree configured for another
# prefix would look for their data where nothing is installed.
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_BINARY_DIR}/CPackProjectConfig.cmake)
file(WRITE ${CPACK_PROJECT_CONFIG_FILE}
  "if(CPACK_GENERATOR STREQUAL \"DEB\" AND NOT \"${CMAKE_INSTALL_PREFIX}\" STREQUAL \"/usr\")\n"
  "  message(FATAL_ERROR \"Debian packages need a build configured with -DCMAKE_INSTALL_PREFIX=/usr (this one: ${CMAKE_INSTALL_PREFIX})\")\n"
  "endif()\n")

include(CPack)
cpack_add_component(corvane DISPLAY_NAME "Corvane" REQUIRED)
cpack_add_component(contacts DISPLAY_NAME "Address book" DEPENDS corvane)
cpack_add_component(tools DISPLAY_NAME "Line and modem simulators")
