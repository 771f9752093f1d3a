# GoogleTest programs for the module's and the guard's Wine tests. The shared GoogleTest build of
# the Windows flavours does not compile with MinGW's win32 thread model; this one forces in
# gtest_mingw_threads.h, which supplies the two missing standard lock types.
include_guard(GLOBAL)

if(NOT WIN32)
  return()
endif()

set(vx_gtest_root /usr/src/googletest/googletest)
set(vx_gtest_shim ${CMAKE_CURRENT_LIST_DIR}/gtest_mingw_threads.h)
add_library(vx_module_gtest STATIC ${vx_gtest_root}/src/gtest-all.cc ${vx_gtest_root}/src/gtest_main.cc)
target_include_directories(vx_module_gtest PRIVATE ${vx_gtest_root})
target_include_directories(vx_module_gtest SYSTEM PUBLIC ${vx_gtest_root}/include)
target_compile_options(vx_module_gtest PRIVATE -w)
target_compile_options(vx_module_gtest PUBLIC -include ${vx_gtest_shim})

# vx_module_wine_test(NAME SOURCES ... LIBS ...): built by both Windows flavours, run by win64.
function(vx_module_wine_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} vx_module_gtest)
  if(VXIDENT_FLAVOUR STREQUAL "win64")
    add_test(NAME ${name} COMMAND ${name} --gtest_brief=0)
    vx_wine_test_properties(${name})
  endif()
endfunction()
