# ctest runs every Windows test program under Wine of the build's bitness, in a prefix inside the
# build tree (64-bit for the 64-bit build).
# One fixture starts the session (Xvfb when no display is set, the prefix, one persistent
# wineserver) before the first test and stops it after the last.
set(KESTRIX_WINE_SESSION ${CMAKE_BINARY_DIR}/wine-session)
configure_file(${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh.in ${CMAKE_BINARY_DIR}/wine-run @ONLY
               FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                WORLD_READ WORLD_EXECUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-run)
# What the session script needs to know of this tree's Wine.
file(WRITE ${CMAKE_BINARY_DIR}/wine-arch "WINEARCH=${KESTRIX_WINEARCH}\nWINE=${KESTRIX_WINE}\n")

set(wine_session_script ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-session.sh)
add_test(NAME wine.session.start COMMAND bash ${wine_session_script} start ${CMAKE_BINARY_DIR})
add_test(NAME wine.session.stop COMMAND bash ${wine_session_script} stop ${CMAKE_BINARY_DIR})
set_tests_properties(wine.session.start PROPERTIES FIXTURES_SETUP wine TIMEOUT 300)
set_tests_properties(wine.session.stop PROPERTIES FIXTURES_CLEANUP wine TIMEOUT 60)

# kestrix_add_wine_test(NAME name COMMAND target args... [ENVIRONMENT var=value...] [TIMEOUT s])
function(kestrix_add_wine_test)
  cmake_parse_arguments(arg "" "NAME;TIMEOUT" "COMMAND;ENVIRONMENT;LABELS" ${ARGN})
  if(NOT arg_TIMEOUT)
    set(arg_TIMEOUT 120)
  endif()
  add_test(NAME ${arg_NAME} COMMAND ${arg_COMMAND} WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
  set_tests_properties(${arg_NAME} PROPERTIES FIXTURES_REQUIRED wine TIMEOUT ${arg_TIMEOUT})
  if(arg_ENVIRONMENT)
    set_tests_properties(${arg_NAME} PROPERTIES ENVIRONMENT "${arg_ENVIRONMENT}")
  endif()
  if(arg_LABELS)
    set_tests_properties(${arg_NAME} PROPERTIES LABELS "${arg_LABELS}")
  endif()
endfunction()
