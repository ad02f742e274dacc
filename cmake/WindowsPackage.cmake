# The Windows zip and installer: the programs and a short readme. The install
# rules stage them; scripts/build-windows.sh signs them, zips them
# (fwupgrader-<version>-win64.zip) and builds the MSI (fwupgrader-<version>-x64.msi)
# with the values it reads from fwupgrader-package.vars.
set(FWUP_WINDOWS_PROGRAMS fwupgrader-cli)
set(FWUP_README_WINDOW "")
if(TARGET fwupgraderVelmora)
    list(APPEND FWUP_WINDOWS_PROGRAMS fwupgraderVelmora)
    set(FWUP_README_WINDOW "fwupgraderVelmora.exe the updater's window: pick the port, Connect, Load Binary\n                      File, UPLOAD; or auto mode for a production bench.\n                        fwupgraderVelmora --record units.jsonl\n                      appends one JSON line per finished unit to units.jsonl\n")
endif()
install(TARGETS ${FWUP_WINDOWS_PROGRAMS} RUNTIME DESTINATION .)
configure_file(${CMAKE_CURRENT_LIST_DIR}/windows-readme.txt.in
               ${CMAKE_BINARY_DIR}/README.txt @ONLY NEWLINE_STYLE CRLF)
install(FILES ${CMAKE_BINARY_DIR}/README.txt DESTINATION .)

# "Name <address>": the name is the publisher, the address the contact.
string(REGEX REPLACE " *<.*$" "" FWUP_PUBLISHER "${FWUP_PACKAGE_MAINTAINER}")
string(REGEX REPLACE "^[^<]*<([^>]*)>.*$" "\\1" FWUP_CONTACT "${FWUP_PACKAGE_MAINTAINER}")
file(WRITE ${CMAKE_BINARY_DIR}/fwupgrader-package.vars
     "version=${PROJECT_VERSION}\npublisher=${FWUP_PUBLISHER}\ncontact=${FWUP_CONTACT}\n")

