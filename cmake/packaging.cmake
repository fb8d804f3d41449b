# What `cmake --install` puts where, and the Debian packages made from it by CPack
# (`make package`): "lapora" (the program, its manual, menu entry, icon and man page; the sounds
# and pictures are compiled into the program) and "lapora-tools" (the box, results-software and
# detection-server simulators). Installed under /usr, the program finds its own files in
# /usr/share/lapora (Folders::GetSharedFolder).
include(GNUInstallDirs)

install(TARGETS lapora RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT lapora)
if(LAPORA_MANUAL_PDF)
  install(FILES ${LAPORA_MANUAL_PDF} DESTINATION ${CMAKE_INSTALL_DATADIR}/lapora COMPONENT lapora)
endif()
install(FILES ${PROJECT_SOURCE_DIR}/packaging/lapora.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT lapora)
install(FILES ${PROJECT_SOURCE_DIR}/resources/images/lapora.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/32x32/apps COMPONENT lapora)
install(FILES ${LAPORA_MAN_PAGE} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT lapora)
install(TARGETS boxsim resultsim detserver RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
        COMPONENT tools)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME lapora)
set(CPACK_PACKAGE_VENDOR Orvane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL lapora tools)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Orvane Lapora team <lapora@orvane.invalid>")
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Dependencies come from the libraries the programs are linked with (dpkg-shlibdeps).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

set(CPACK_DEBIAN_LAPORA_PACKAGE_NAME lapora)
string(CONCAT CPACK_COMPONENT_LAPORA_DESCRIPTION
    "race-timing acquisition module\n"
    "Lapora connects to up to four RFID timing boxes over TCP or a serial line, records every\n"
    "chip detection at once to a file, shows it to the operator and pushes it in real time to\n"
    "the results software. The operator manual is /usr/share/lapora/Lapora.pdf.")
# The manual opens through xdg-open; the voice needs espeak-ng's data; the toolkit's own
# French texts (Oui/Non) come with its translations.
set(CPACK_DEBIAN_LAPORA_PACKAGE_RECOMMENDS "xdg-utils, espeak-ng-data, qt6-translations-l10n")

set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME lapora-tools)
string(CONCAT CPACK_COMPONENT_TOOLS_DESCRIPTION
    "simulators for rehearsing with Lapora\n"
    "boxsim plays a timing box (TCP or a pseudo-terminal), resultsim the results software and\n"
    "detserver a detection server, for rehearsals and tests without the real equipment.")
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION misc)

include(CPack)
