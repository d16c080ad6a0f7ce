# Packages of the installed programs. On Linux: the Debian packages kestrel (the dialog, the
# console tool, desktop entry, icons, AppStream metainfo, man pages, and the maintainer scripts
# that give the group kestrel its rights) and kestrel-vdev (the virtual device). On Windows: a
# zip and an NSIS installer. scripts/package makes them from the release builds.

# What the packages say about the project, in one place. The homepage, the contact address and
# the licence (LICENSE) stand in until the project has its own; the release date goes with
# project(VERSION) in the top-level CMakeLists.txt.
set(KESTREL_RELEASE_DATE 2026-12-08)
set(KESTREL_HOMEPAGE "https://kestrel.example.org")
set(KESTREL_APPSTREAM_ID org.example.kestrel.upgrade)
set(KESTREL_LICENSE "LicenseRef-Kestrel-All-Rights-Reserved")
set(KESTREL_APPSTREAM_LICENSE "LicenseRef-proprietary")

set(CPACK_PACKAGE_NAME kestrel)
set(CPACK_PACKAGE_VENDOR "The Kestrel developers")
set(CPACK_PACKAGE_CONTACT "The Kestrel developers <kestrel@example.org>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_HOMEPAGE_URL ${KESTREL_HOMEPAGE})
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)

set(packaging ${PROJECT_SOURCE_DIR}/packaging)
set(generated ${PROJECT_BINARY_DIR}/packaging)

if(WIN32)
  include(${CMAKE_CURRENT_LIST_DIR}/PackagingWindows.cmake)
else()
  include(${CMAKE_CURRENT_LIST_DIR}/PackagingDebian.cmake)
endif()

include(CPack)
