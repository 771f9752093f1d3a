# Test registration shared by every folder.
#
# Native flavour: vx_add_native_test(NAME SOURCES ... LIBS ...) builds a GoogleTest program with
# ASan and UBSan and registers it.
# Windows flavours: vx_add_wine_test(NAME SOURCES ... LIBS ...) builds a GoogleTest program for
# Windows; the win64 flavour registers it to run under wine64, the win32 flavour only compiles it.
# vx_wine_test_properties(TEST...) gives any hand-made Wine test the prefix fixture and environment.

set(VXIDENT_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
set(VXIDENT_WINE_ENV "WINEPREFIX=${VXIDENT_WINEPREFIX};WINEDEBUG=-all")

if(VXIDENT_FLAVOUR STREQUAL "native")
  find_package(GTest REQUIRED)
  include(GoogleTest)
else()
  # GoogleTest from Debian's sources, built for Windows with the same compiler. MinGW's win32
  # thread model has no std::mutex or std::condition_variable; a small header supplies them.
  set(vx_gtest_root /usr/src/googletest/googletest)
  add_library(vx_gtest STATIC ${vx_gtest_root}/src/gtest-all.cc ${vx_gtest_root}/src/gtest_main.cc)
  target_include_directories(vx_gtest PRIVATE ${vx_gtest_root})
  target_include_directories(vx_gtest SYSTEM PUBLIC ${vx_gtest_root}/include)
  target_compile_options(vx_gtest PRIVATE -w)
  target_compile_options(vx_gtest PUBLIC -include ${CMAKE_CURRENT_LIST_DIR}/gtest_mingw_threads.h)
  add_library(GTest::gtest ALIAS vx_gtest)
  add_library(GTest::gtest_main ALIAS vx_gtest)
endif()

function(vx_add_native_test name)
  if(NOT VXIDENT_FLAVOUR STREQUAL "native")
    return()
  endif()
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_compile_options(${name} PRIVATE ${VXIDENT_SANITIZE})
  target_link_options(${name} PRIVATE ${VXIDENT_SANITIZE})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest_main GTest::gtest)
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 120)
endfunction()

function(vx_wine_test_properties)
  set_tests_properties(${ARGN} PROPERTIES
    FIXTURES_REQUIRED wineprefix
    ENVIRONMENT "${VXIDENT_WINE_ENV}"
    TIMEOUT 300)
endfunction()

function(vx_add_wine_test name)
  if(VXIDENT_FLAVOUR STREQUAL "native")
    return()
  endif()
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest_main GTest::gtest)
  if(VXIDENT_FLAVOUR STREQUAL "win64")
    # One registered test per program: starting Wine costs about a second, so the cases of one
    # program run together and the program's own output names each one.
    add_test(NAME ${name} COMMAND ${name} --gtest_brief=0)
    vx_wine_test_properties(${name})
  endif()
endfunction()

if(VXIDENT_FLAVOUR STREQUAL "win64")
  # One prefix for the whole run, with a wine server kept warm between programs.
  add_test(NAME wineprefix_setup COMMAND ${CMAKE_SOURCE_DIR}/tools/wine-prefix.sh start ${VXIDENT_WINEPREFIX})
  set_tests_properties(wineprefix_setup PROPERTIES FIXTURES_SETUP wineprefix TIMEOUT 300)
  add_test(NAME wineprefix_cleanup COMMAND ${CMAKE_SOURCE_DIR}/tools/wine-prefix.sh stop ${VXIDENT_WINEPREFIX})
  set_tests_properties(wineprefix_cleanup PROPERTIES FIXTURES_CLEANUP wineprefix)
endif()
