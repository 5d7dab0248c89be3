# Every public header must compile on its own (it includes what it uses) and next to all the others (no
# two define the same name). One translation unit per header includes it twice (its guard holds), and one
# includes them all. The targets are built by the test HeaderCheck.EveryPublicHeaderCompilesAloneAndTogether,
# not by default, so that a broken header fails that test and leaves the others to run.
#
# dblib_header_check(<target> <library> <root> <glob>...): headers matching the globs (relative to root),
# compiled with the include paths and options of library.
function(dblib_header_check target library root)
  set(sources)
  set(all "// Generated: every header of ${target} in one translation unit.\n")
  set(headers)
  foreach(glob IN LISTS ARGN)
    file(GLOB found CONFIGURE_DEPENDS RELATIVE ${root} ${root}/${glob})
    list(APPEND headers ${found})
  endforeach()
  list(SORT headers)
  set(dir ${CMAKE_CURRENT_BINARY_DIR}/${target})
  foreach(header IN LISTS headers)
    string(MAKE_C_IDENTIFIER ${header} name)
    # Written only when the text changes, so that a new configure compiles nothing again.
    file(CONFIGURE OUTPUT ${dir}/${name}.cpp CONTENT "#include \"${header}\"\n#include \"${header}\"\n" @ONLY)
    list(APPEND sources ${dir}/${name}.cpp)
    string(APPEND all "#include \"${header}\"\n")
  endforeach()
  file(CONFIGURE OUTPUT ${dir}/all_headers.cpp CONTENT "${all}" @ONLY)
  list(APPEND sources ${dir}/all_headers.cpp)
  add_library(${target} OBJECT EXCLUDE_FROM_ALL ${sources})
  target_link_libraries(${target} PRIVATE ${library})
  target_include_directories(${target} PRIVATE ${root})
endfunction()

dblib_header_check(dblib_header_check dblib ${PROJECT_SOURCE_DIR} "dblib/*.h" "dblib/*/*.h" "platform/*.h")
set(header_check_targets dblib_header_check)
if(TARGET dblib_dialogs)
  dblib_header_check(dblib_dialogs_header_check dblib_dialogs ${PROJECT_SOURCE_DIR} "dialogs/*.h")
  list(APPEND header_check_targets dblib_dialogs_header_check)
endif()

add_test(NAME HeaderCheck.EveryPublicHeaderCompilesAloneAndTogether
         COMMAND ${CMAKE_COMMAND} --build ${CMAKE_BINARY_DIR} --target ${header_check_targets})
set_tests_properties(HeaderCheck.EveryPublicHeaderCompilesAloneAndTogether PROPERTIES TIMEOUT 1200)
