# The Debian packages kestrel and kestrel-vdev (see Packaging.cmake).
include(GNUInstallDirs)

execute_process(COMMAND date -u -R -d "${KESTREL_RELEASE_DATE} 12:00"
  OUTPUT_VARIABLE KESTREL_RELEASE_DATE_RFC2822 OUTPUT_STRIP_TRAILING_WHITESPACE)

string(SUBSTRING ${KESTREL_RELEASE_DATE} 0 4 KESTREL_COPYRIGHT_YEAR)

# AppStream metainfo, named after its id.
set(metainfo ${generated}/${KESTREL_APPSTREAM_ID}.metainfo.xml)
configure_file(${packaging}/appstream/kestrel-upgrade.metainfo.xml.in ${metainfo} @ONLY)

# copyright and changelog for each package's doc folder; the licence text from LICENSE.
file(STRINGS ${PROJECT_SOURCE_DIR}/LICENSE license_lines)
set(license_text "")
foreach(line IN LISTS license_lines)
  if(line STREQUAL "")
    string(APPEND license_text " .\n")
  else()
    string(APPEND license_text " ${line}\n")
  endif()
endforeach()
configure_file(${packaging}/deb/copyright.in ${generated}/copyright @ONLY)
file(APPEND ${generated}/copyright "${license_text}")
configure_file(${packaging}/deb/changelog.in ${generated}/changelog @ONLY)
add_custom_command(OUTPUT ${generated}/changelog.gz
  COMMAND gzip -9n -c ${generated}/changelog > ${generated}/changelog.gz
  DEPENDS ${generated}/changelog VERBATIM)
add_custom_target(kestrel_package_docs ALL DEPENDS ${generated}/changelog.gz)

set(components kestrel)
if(KESTREL_EMULATION)
  list(APPEND components kestrel-vdev)
endif()
foreach(component IN LISTS components)
  install(FILES ${generated}/copyright ${generated}/changelog.gz
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${component} COMPONENT ${component})
endforeach()
install(FILES ${PROJECT_SOURCE_DIR}/README.md
  DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/kestrel COMPONENT kestrel)
if(KESTREL_GUI)
  install(FILES ${metainfo} DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/metainfo COMPONENT kestrel)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL ${components})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE "")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)

set(CPACK_DEBIAN_KESTREL_PACKAGE_NAME kestrel)
# addgroup and setcap run in postinst.
set(CPACK_DEBIAN_KESTREL_PACKAGE_DEPENDS "adduser, libcap2-bin")
# kestrel-cli station loads libudev at run time for device events, and rescans without it.
set(CPACK_DEBIAN_KESTREL_PACKAGE_RECOMMENDS libudev1)
set(CPACK_DEBIAN_KESTREL_PACKAGE_CONTROL_EXTRA ${packaging}/deb/postinst ${packaging}/deb/postrm)
set(CPACK_DEBIAN_KESTREL_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
set(CPACK_COMPONENT_KESTREL_DESCRIPTION
  "firmware upgrade tool for USB devices that show up as drives
Kestrel upgrades the firmware of microcontroller devices that attach over
USB and show up as a removable or CD-ROM drive: it loads a raw binary or
Intel HEX image, checks it against the device and sends it block by block.
It comes as a dialog (kestrel-upgrade) and a console tool (kestrel-cli).
Members of the system group kestrel upgrade devices without root: a small
helper, installed root:kestrel, mode 0750, with the capability
cap_sys_rawio, sends the device's commands; the programs carry none.")

set(CPACK_DEBIAN_KESTREL-VDEV_PACKAGE_NAME kestrel-vdev)
# The umockdev preload library is loaded by name at run time, so shlibdeps cannot see it.
set(CPACK_DEBIAN_KESTREL-VDEV_PACKAGE_DEPENDS "umockdev, kestrel (= ${PROJECT_VERSION})")
set(CPACK_COMPONENT_KESTREL-VDEV_DESCRIPTION
  "virtual upgrade device for Kestrel, to try it without hardware
kestrel-vdev runs a command with a virtual upgrade device attached through
umockdev, with no root and no hardware, so that kestrel-upgrade and
kestrel-cli can be tried end to end. As root it can also serve the device
as a real SCSI disk of the running kernel (target_core_user and tcm_loop).")
