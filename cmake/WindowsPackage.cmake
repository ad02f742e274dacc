# The Windows zip: the programs and a short readme, named after the project's
# version (fwupgrader-<version>-win64.zip). scripts/build-windows.sh runs cpack.
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

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME fwupgrader)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME fwupgrader-${PROJECT_VERSION}-win64)
set(CPACK_STRIP_FILES ON)
include(CPack)
