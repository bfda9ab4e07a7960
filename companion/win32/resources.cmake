# Ostrel.rc takes the signature list (RCDATA 131) from the build tree: the tool
# turns the readable list beside this file into the scrambled resource.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
set(OSTREL_SIGNATURES_BIN ${CMAKE_CURRENT_BINARY_DIR}/signatures.bin)
add_custom_command(
  OUTPUT ${OSTREL_SIGNATURES_BIN}
  COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/tools/signature_list.py build
          ${CMAKE_CURRENT_SOURCE_DIR}/win32/signatures.txt ${OSTREL_SIGNATURES_BIN}
  DEPENDS ${PROJECT_SOURCE_DIR}/tools/signature_list.py ${CMAKE_CURRENT_SOURCE_DIR}/win32/signatures.txt
  COMMENT "Building the signature list resource")
add_custom_target(ostrel_signatures DEPENDS ${OSTREL_SIGNATURES_BIN})
add_dependencies(Ostrel ostrel_signatures)
set_source_files_properties(${CMAKE_CURRENT_SOURCE_DIR}/win32/Ostrel.rc PROPERTIES
  OBJECT_DEPENDS ${OSTREL_SIGNATURES_BIN})

# The .def names initThread undecorated for both i686 and x86_64; on i686 the
# linker binds it to the stdcall symbol initThread@4 (and --kill-at exports the
# plain name). Asking for the fix-up explicitly keeps the link quiet.
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "i686")
  target_link_options(Ostrel PRIVATE -Wl,--enable-stdcall-fixup)
endif()
