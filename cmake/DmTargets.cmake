# Warnings are errors in the project's own code.
function(dm_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
endfunction()

# dm_add_library(name SOURCES ... LIBS ...): one static library per folder under src/.
function(dm_add_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC ${ARG_LIBS})
  dm_warnings(${name})
endfunction()

# Environment every test runs with: the offscreen Qt platform and the project-local ODBC driver
# registry that scripts/dbenv.sh writes.
set(DM_TEST_ENVIRONMENT
  "QT_QPA_PLATFORM=offscreen"
  "ODBCSYSINI=${PROJECT_SOURCE_DIR}/.dbenv/odbc"
  "DM_SOURCE_DIR=${PROJECT_SOURCE_DIR}"
  "DM_BINARY_DIR=${CMAKE_BINARY_DIR}"
  "ASAN_OPTIONS=detect_leaks=0:abort_on_error=0"
  "UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1")
if(WIN32 AND CMAKE_CROSSCOMPILING)
  # Windows test programs run under Wine, in the build's own Wine prefix (scripts/test-windows.sh
  # creates it), without a display and without Wine's chatter. They see the checkout through
  # Wine's drive Z:, which maps the host's root; Wine's odbc32 hands ODBC calls to the host's
  # unixODBC, which reads ODBCSYSINI as it is.
  set(DM_TEST_ENVIRONMENT
    "ODBCSYSINI=${PROJECT_SOURCE_DIR}/.dbenv/odbc"
    "DM_SOURCE_DIR=Z:${PROJECT_SOURCE_DIR}"
    "DM_BINARY_DIR=Z:${CMAKE_BINARY_DIR}"
    "WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix"
    "WINEDEBUG=-all"
    "WINEDLLOVERRIDES=mscoree,mshtml="
    "DISPLAY=")
endif()

# GoogleTest compiled from Debian's sources (package googletest) with the cross compiler; its
# targets carry the names that find_package(GTest) gives on the build host (GTest::gtest, ...).
function(dm_add_googletest_from_source)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
endfunction()

# dm_add_test(name SOURCES ... LIBS ... [QT_MAIN] [LABELS ...] [TIMEOUT s]): one GoogleTest
# executable per test file, registered with CTest case by case. QT_MAIN gives the executable a
# main() that creates a QApplication on the offscreen platform, for tests that need widgets or an
# event loop.
function(dm_add_test name)
  cmake_parse_arguments(ARG "QT_MAIN" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  if(ARG_QT_MAIN)
    set(main_lib dm_qt_test_main)
  else()
    set(main_lib GTest::gtest_main)
  endif()
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} dm_test_support ${main_lib} GTest::gtest GTest::gmock)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  dm_warnings(${name})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  # The environment goes in through env(1) as the test's launcher: gtest_discover_tests passes a
  # list-valued ENVIRONMENT property on as separate words, which would keep only its first entry.
  set(launcher /usr/bin/env ${DM_TEST_ENVIRONMENT} ${CMAKE_CROSSCOMPILING_EMULATOR})
  set_target_properties(${name} PROPERTIES CROSSCOMPILING_EMULATOR "${launcher}")
  # Tests labelled db share the two stand-in databases (they seed, truncate and count rows there):
  # one at a time, also when ctest runs others in parallel.
  set(lock)
  if("db" IN_LIST ARG_LABELS)
    set(lock RESOURCE_LOCK stand-in-databases)
  endif()
  if(CMAKE_CROSSCOMPILING)
    # One test per program: every start of a program under Wine costs a fraction of a second.
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES LABELS "${ARG_LABELS}" TIMEOUT ${ARG_TIMEOUT} ${lock})
  else()
    gtest_discover_tests(${name}
      DISCOVERY_MODE PRE_TEST
      PROPERTIES LABELS "${ARG_LABELS}" TIMEOUT ${ARG_TIMEOUT} ${lock})
  endif()
endfunction()
