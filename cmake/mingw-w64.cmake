# Cross-build for 64-bit Windows with Debian's mingw-w64 (posix threads flavour).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# CLI11 and nlohmann/json are header-only, and Debian ships them for the host only. Their
# headers and package files are staged under a root of their own, so that find_package finds
# them without putting the host's /usr/include (glibc) on the Windows compiler's path.
set(_kestrel_host_headers "${CMAKE_BINARY_DIR}/host-header-only")
if(NOT EXISTS "${_kestrel_host_headers}/usr/include")
  file(MAKE_DIRECTORY "${_kestrel_host_headers}/usr/include" "${_kestrel_host_headers}/usr/share/cmake")
  foreach(_pkg CLI11 nlohmann_json)
    file(COPY "/usr/share/cmake/${_pkg}" DESTINATION "${_kestrel_host_headers}/usr/share/cmake")
  endforeach()
  foreach(_dir CLI nlohmann)
    file(CREATE_LINK "/usr/include/${_dir}" "${_kestrel_host_headers}/usr/include/${_dir}" SYMBOLIC)
  endforeach()
endif()
list(APPEND CMAKE_FIND_ROOT_PATH "${_kestrel_host_headers}")
