# Windows: DLLs that are not KnownDLLs are looked for in the program's own folder first. An
# elevated Kestrel started from a download folder would load a bcrypt.dll planted beside it,
# before main runs, if bcrypt were imported the usual way. It is delay-loaded instead: loaded
# at its first use, after main has limited the DLL search to System32
# (SetDefaultDllDirectories). The delay-import library is made from a list of the functions
# Kestrel uses; mingw-w64's runtime supplies the loader (__delayLoadHelper2).
find_program(KESTREL_DLLTOOL NAMES x86_64-w64-mingw32-dlltool dlltool REQUIRED)
set(_kestrel_bcrypt_def ${PROJECT_BINARY_DIR}/bcrypt-delay.def)
file(WRITE ${_kestrel_bcrypt_def} "LIBRARY bcrypt.dll\nEXPORTS\n"
  "  BCryptCloseAlgorithmProvider\n  BCryptCreateHash\n  BCryptDestroyHash\n"
  "  BCryptFinishHash\n  BCryptGenRandom\n  BCryptHashData\n  BCryptOpenAlgorithmProvider\n")
set(_kestrel_bcrypt_lib ${PROJECT_BINARY_DIR}/libbcrypt-delay.a)
add_custom_command(OUTPUT ${_kestrel_bcrypt_lib}
  COMMAND ${KESTREL_DLLTOOL} --input-def ${_kestrel_bcrypt_def} --dllname bcrypt.dll
    --output-delaylib ${_kestrel_bcrypt_lib}
  DEPENDS ${_kestrel_bcrypt_def}
  COMMENT "Making bcrypt.dll's delay-import library")
add_custom_target(kestrel_bcrypt_delay_lib DEPENDS ${_kestrel_bcrypt_lib})
# Link this instead of bcrypt.
add_library(kestrel_bcrypt INTERFACE)
target_link_libraries(kestrel_bcrypt INTERFACE ${_kestrel_bcrypt_lib})
add_dependencies(kestrel_bcrypt kestrel_bcrypt_delay_lib)
