# Test registration shared by every folder.
#
# Native flavour: vx_add_native_test(NAME SOURCES ... LIBS ...) builds a GoogleTest program with
# ASan and UBSan and registers it.
# Windows flavours: vx_add_wine_test(NAME SOURCES ... LIBS ... [ENVIRONMENT VAR=VALUE...] [OWN_PREFIX])
# builds a GoogleTest program for Windows; the win64 flavour registers it to run under wine64, the
# win32 flavour only compiles it. OWN_PREFIX: the program changes the machine (the registry), so on
# the host it gets a Wine prefix of its own.
# vx_add_driver(NAME DRIVER FILE [HOST] [EMU32] [TIMEOUT S] [ENVIRONMENT VAR=VALUE...]) lists a
# Python driver (FILE relative to tests/): HOST registers it with the win64 flavour's ctest, EMU32
# runs it in the emulated 32-bit machine against the win32 build.
# vx_wine_test_properties(TEST...) gives any hand-made Wine test the prefix fixture and environment.
#
# Both Windows flavours write what they registered to bin/test_programs.json: the one list of test
# programs, which the emulated machine's job reads (tests/vxtest/test_list.py).

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
  # HOST_ONLY: the program reads what only the host has (the release tree), so the emulated
  # machine, which runs the listed programs, leaves it out.
  cmake_parse_arguments(ARG "OWN_PREFIX;HOST_ONLY" "" "SOURCES;LIBS;ENVIRONMENT" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest_main GTest::gtest)
  vx_json_bool(own_prefix "${ARG_OWN_PREFIX}")
  vx_json_object(environment ${ARG_ENVIRONMENT})
  if(NOT ARG_HOST_ONLY)
    vx_list_test(wine_programs
      "{\"name\": \"${name}\", \"file\": \"${name}.exe\", \"own_prefix\": ${own_prefix}, \"environment\": ${environment}}")
  endif()
  if(NOT VXIDENT_FLAVOUR STREQUAL "win64")
    return()
  endif()
  # One registered test per program: starting Wine costs about a second, so the cases of one
  # program run together and the program's own output names each one.
  add_test(NAME ${name} COMMAND ${name} --gtest_brief=0)
  if(ARG_OWN_PREFIX)
    set(prefix ${CMAKE_BINARY_DIR}/${name}-wineprefix)
    add_test(NAME ${name}_prefix_setup COMMAND ${CMAKE_SOURCE_DIR}/tools/wine-prefix.sh start ${prefix})
    add_test(NAME ${name}_prefix_cleanup COMMAND ${CMAKE_SOURCE_DIR}/tools/wine-prefix.sh stop ${prefix})
    set_tests_properties(${name}_prefix_setup PROPERTIES FIXTURES_SETUP ${name}_prefix TIMEOUT 300)
    set_tests_properties(${name}_prefix_cleanup PROPERTIES FIXTURES_CLEANUP ${name}_prefix)
    set(environment WINEPREFIX=${prefix} WINEDEBUG=-all ${ARG_ENVIRONMENT})
    set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED ${name}_prefix TIMEOUT 300
      ENVIRONMENT "${environment}")
  else()
    vx_wine_test_properties(${name})
    if(ARG_ENVIRONMENT)
      set_property(TEST ${name} APPEND PROPERTY ENVIRONMENT ${ARG_ENVIRONMENT})
    endif()
  endif()
endfunction()

if(NOT VXIDENT_FLAVOUR STREQUAL "native")
  find_package(Python3 REQUIRED COMPONENTS Interpreter)
endif()

# What every driver finds in its environment (tests/vxtest/settings.py says what each is).
set(vx_driver_env
  "VXIDENT_BIN=${CMAKE_BINARY_DIR}/bin"
  "VXIDENT_WINE=${PROJECT_SOURCE_DIR}/tools/wine64-run"
  "VXIDENT_WORK=${CMAKE_BINARY_DIR}/work"
  "VXIDENT_ARTIFACTS=${CMAKE_BINARY_DIR}/artifacts"
  ${VXIDENT_WINE_ENV})
if(VXIDENT_NATIVE_BUILD)
  list(APPEND vx_driver_env
    "VXIDENT_COLLECTOR=${VXIDENT_NATIVE_BUILD}/collector/collector"
    "VXIDENT_SCREENSHOT_CHECK=${VXIDENT_NATIVE_BUILD}/tests/screenshot/screenshot_check"
    "VXIDENT_CRASH_ANALYZE=${VXIDENT_NATIVE_BUILD}/collector/analysis/crash_analyze"
    "VXIDENT_LOSSY_RELAY=${VXIDENT_NATIVE_BUILD}/benchmarks/wire/lossy_relay")
endif()

function(vx_add_driver name)
  if(VXIDENT_FLAVOUR STREQUAL "native")
    return()
  endif()
  cmake_parse_arguments(ARG "HOST;EMU32" "DRIVER;TIMEOUT" "ENVIRONMENT" ${ARGN})
  if(NOT EXISTS ${PROJECT_SOURCE_DIR}/tests/${ARG_DRIVER})
    message(FATAL_ERROR "vx_add_driver(${name}): no tests/${ARG_DRIVER}")
  endif()
  vx_json_bool(host "${ARG_HOST}")
  vx_json_bool(emu32 "${ARG_EMU32}")
  vx_list_test(drivers "{\"name\": \"${name}\", \"file\": \"${ARG_DRIVER}\", \"host\": ${host}, \"emu32\": ${emu32}}")
  if(NOT ARG_HOST OR NOT VXIDENT_FLAVOUR STREQUAL "win64")
    return()
  endif()
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  add_test(NAME ${name} COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/tests/vxtest ${ARG_DRIVER} -v)
  set(environment ${vx_driver_env} ${ARG_ENVIRONMENT})
  set_tests_properties(${name} PROPERTIES
    FIXTURES_REQUIRED wineprefix
    ENVIRONMENT "${environment}"
    TIMEOUT ${ARG_TIMEOUT}
    SKIP_RETURN_CODE 77)  # vxtest.EXIT_SKIPPED: a case could not check what it came for
endfunction()

# bin/test_programs.json is built from these: vx_json_bool(OUT VALUE) and vx_json_object(OUT
# VAR=VALUE...) give JSON texts, vx_list_test(KIND ENTRY) appends one entry to the list of KIND.
function(vx_json_bool out value)
  if(value)
    set(${out} true PARENT_SCOPE)
  else()
    set(${out} false PARENT_SCOPE)
  endif()
endfunction()

function(vx_json_object out)
  set(members)
  foreach(item IN LISTS ARGN)
    string(FIND "${item}" "=" equals)
    string(SUBSTRING "${item}" 0 ${equals} key)
    math(EXPR equals "${equals} + 1")
    string(SUBSTRING "${item}" ${equals} -1 value)
    list(APPEND members "\"${key}\": \"${value}\"")
  endforeach()
  list(JOIN members ", " joined)
  set(${out} "{${joined}}" PARENT_SCOPE)
endfunction()

function(vx_list_test kind entry)
  set_property(GLOBAL APPEND PROPERTY VXIDENT_TEST_LIST_${kind} "${entry}")
endfunction()

function(vx_write_test_list)
  set(json "{")
  foreach(kind wine_programs drivers)
    get_property(entries GLOBAL PROPERTY VXIDENT_TEST_LIST_${kind})
    list(JOIN entries ",\n    " joined)
    if(NOT kind STREQUAL "wine_programs")
      string(APPEND json ",")
    endif()
    string(APPEND json "\n  \"${kind}\": [\n    ${joined}\n  ]")
  endforeach()
  string(APPEND json "\n}\n")
  file(WRITE ${CMAKE_BINARY_DIR}/bin/test_programs.json "${json}")
endfunction()

if(NOT VXIDENT_FLAVOUR STREQUAL "native")
  cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL vx_write_test_list)
endif()

if(VXIDENT_FLAVOUR STREQUAL "win64")
  # One prefix for the whole run, with a wine server kept warm between programs.
  add_test(NAME wineprefix_setup COMMAND ${CMAKE_SOURCE_DIR}/tools/wine-prefix.sh start ${VXIDENT_WINEPREFIX})
  set_tests_properties(wineprefix_setup PROPERTIES FIXTURES_SETUP wineprefix TIMEOUT 300)
  add_test(NAME wineprefix_cleanup COMMAND ${CMAKE_SOURCE_DIR}/tools/wine-prefix.sh stop ${VXIDENT_WINEPREFIX})
  set_tests_properties(wineprefix_cleanup PROPERTIES FIXTURES_CLEANUP wineprefix)
endif()
