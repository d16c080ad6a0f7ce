# One static library per folder of the program (services, image, device, app, ui, line, ledger,
# and the front ends above them); the libraries each one links are the edges the layering allows
# (see README, Layout). Every library sees the whole tree's headers; scripts/check-layering keeps
# the includes to the same edges.
function(kestrel_library name)
  add_library(${name} STATIC ${ARGN})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR} ${PROJECT_BINARY_DIR}/generated)
  target_link_libraries(${name} PRIVATE kestrel_warnings)
endfunction()

# A static library links nothing by itself, so a call across a forbidden edge would only show
# in a program that happened to link both ends. This program links every object of the library
# with only the libraries it names: a call into a folder it does not link stays unresolved and
# the build fails. Built with the library (ALL), on both platforms.
function(kestrel_link_check name)
  add_executable(${name}_links ${PROJECT_SOURCE_DIR}/cmake/LinkCheck.cpp)
  target_link_libraries(${name}_links PRIVATE "$<LINK_LIBRARY:WHOLE_ARCHIVE,${name}>")
  if(WIN32)
    target_link_options(${name}_links PRIVATE -static)
  endif()
endfunction()
