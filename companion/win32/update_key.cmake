# Signed updates: the operator's public key is embedded in Ostrel.dll as RCDATA 133,
# and the release sequence it is built at as RCDATA 134.
#   -DOSTREL_UPDATE_KEY=/path/to/public.pem   (or the same environment variable)
#                                            the shipped library installs only what
#                                            that key's owner signed
#   (empty)                                  the library trusts the network: it checks
#                                            only sizes and CRC-32 of what it fetches
#   -DOSTREL_UPDATE_SEQUENCE=N               (or the same environment variable) the
#                                            last release sequence signed with that key
#                                            (update_publish.py last-sequence): the
#                                            library refuses signed folders up to N
# Besides the shipped library, the build makes bin/testkey/Ostrel.dll, the same
# library holding a test key that the configure step generates in
# ${PROJECT_BINARY_DIR}/testkey/ (private.pem, public.pem) and built at release
# sequence OSTREL_TEST_SEQUENCE, for the Wine tests.
set(OSTREL_UPDATE_KEY "" CACHE FILEPATH "the update signer's public key (PEM) for Ostrel.dll")
set(OSTREL_UPDATE_SEQUENCE 0 CACHE STRING "the release sequence Ostrel.dll is built at")
set(OSTREL_TEST_SEQUENCE 5)
# The environment may name them too (OSTREL_UPDATE_KEY=... scripts/build win32).
if(DEFINED ENV{OSTREL_UPDATE_KEY})
  set(OSTREL_UPDATE_KEY "$ENV{OSTREL_UPDATE_KEY}" CACHE FILEPATH
      "the update signer's public key (PEM) for Ostrel.dll" FORCE)
endif()
if(DEFINED ENV{OSTREL_UPDATE_SEQUENCE})
  set(OSTREL_UPDATE_SEQUENCE "$ENV{OSTREL_UPDATE_SEQUENCE}" CACHE STRING
      "the release sequence Ostrel.dll is built at" FORCE)
endif()
if(NOT OSTREL_UPDATE_SEQUENCE MATCHES "^[0-9]+$" OR OSTREL_UPDATE_SEQUENCE GREATER 4294967295)
  message(FATAL_ERROR "OSTREL_UPDATE_SEQUENCE must be a number from 0 to 4294967295")
endif()
if(OSTREL_UPDATE_KEY AND OSTREL_UPDATE_SEQUENCE EQUAL 0)
  message(WARNING "Ostrel.dll holds an update key but no release sequence: until its first "
                  "update it accepts every signed folder ever published, old ones included. "
                  "Set OSTREL_UPDATE_SEQUENCE to the key's last sequence.")
endif()

function(ostrel_embed_update_key target key sequence)
  get_filename_component(key "${key}" ABSOLUTE)
  if(NOT EXISTS "${key}")
    message(FATAL_ERROR "update key ${key} does not exist")
  endif()
  set(rc "${CMAKE_CURRENT_BINARY_DIR}/${target}_UpdateKey.rc")
  configure_file("${CMAKE_CURRENT_LIST_DIR}/UpdateKey.rc.in" "${rc}" @ONLY)
  set_source_files_properties("${rc}" PROPERTIES OBJECT_DEPENDS "${key}")
  target_sources(${target} PRIVATE "${rc}")
endfunction()

if(OSTREL_UPDATE_KEY)
  ostrel_embed_update_key(Ostrel "${OSTREL_UPDATE_KEY}" "${OSTREL_UPDATE_SEQUENCE}")
endif()

find_program(OPENSSL_TOOL openssl)
if(OPENSSL_TOOL)
  set(test_key_dir "${PROJECT_BINARY_DIR}/testkey")
  if(NOT EXISTS "${test_key_dir}/public.pem")
    file(MAKE_DIRECTORY "${test_key_dir}")
    execute_process(COMMAND "${OPENSSL_TOOL}" genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:3072
                            -out "${test_key_dir}/private.pem" OUTPUT_QUIET ERROR_QUIET)
    execute_process(COMMAND "${OPENSSL_TOOL}" pkey -in "${test_key_dir}/private.pem" -pubout
                            -out "${test_key_dir}/public.pem" OUTPUT_QUIET ERROR_QUIET)
  endif()
  # The same library as Ostrel, plus the test key.
  get_target_property(sources Ostrel SOURCES)
  list(FILTER sources EXCLUDE REGEX "_UpdateKey\\.rc$")
  add_library(Ostrel_testkey SHARED ${sources})
  foreach(property INCLUDE_DIRECTORIES COMPILE_DEFINITIONS COMPILE_OPTIONS LINK_OPTIONS
          LINK_LIBRARIES)
    get_target_property(value Ostrel ${property})
    if(value)
      set_property(TARGET Ostrel_testkey PROPERTY ${property} "${value}")
    endif()
  endforeach()
  set_target_properties(Ostrel_testkey PROPERTIES PREFIX "" OUTPUT_NAME Ostrel
                        RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/bin/testkey
                        ARCHIVE_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/testkey)
  ostrel_embed_update_key(Ostrel_testkey "${test_key_dir}/public.pem" ${OSTREL_TEST_SEQUENCE})
endif()
