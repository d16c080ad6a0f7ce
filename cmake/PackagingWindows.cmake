# The Windows zip and NSIS installer (see Packaging.cmake): the programs, the README and the
# licence, with a Start-menu folder and an uninstaller.
if(TARGET kestrel-upgrade)  # the Win32 dialog, where this build has it
  install(TARGETS kestrel-upgrade RUNTIME DESTINATION bin COMPONENT kestrel)
endif()
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION . COMPONENT kestrel)
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION . RENAME LICENSE.txt COMPONENT kestrel)

set(CPACK_GENERATOR "ZIP;NSIS")
set(CPACK_PACKAGE_FILE_NAME "kestrel-${PROJECT_VERSION}-win64")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Firmware upgrade tool for USB devices that show up as drives")
set(CPACK_PACKAGE_INSTALL_DIRECTORY Kestrel)
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY Kestrel)

set(CPACK_NSIS_PACKAGE_NAME Kestrel)
set(CPACK_NSIS_DISPLAY_NAME "Kestrel ${PROJECT_VERSION}")
set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
# A 64-bit installer for the 64-bit programs: it runs where they run, without a 32-bit layer.
set(CPACK_NSIS_DEFINES "Target amd64-unicode")
set(CPACK_NSIS_URL_INFO_ABOUT ${KESTREL_HOMEPAGE})
set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
# Start menu: the dialog where this build has it, and the README; CPack adds the uninstaller.
set(CPACK_PACKAGE_EXECUTABLES "")
if(TARGET kestrel-upgrade)
  list(APPEND CPACK_PACKAGE_EXECUTABLES kestrel-upgrade "Kestrel Upgrade")
endif()
set(CPACK_NSIS_MENU_LINKS README.md "Kestrel README")
