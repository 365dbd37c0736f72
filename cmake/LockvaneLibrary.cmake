# lockvane_library(NAME DIR [DEPS ...])
# One static library per source folder. Sources are picked up from the folder so that
# adding a file needs no edit here; a folder with no sources yet gives an interface target.
function(lockvane_library name dir)
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS "${dir}/*.cpp")
  if(sources)
    add_library(${name} STATIC ${sources})
    target_include_directories(${name} PUBLIC "${PROJECT_SOURCE_DIR}/src")
    target_link_libraries(${name} PUBLIC ${ARGN})
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE "${PROJECT_SOURCE_DIR}/src")
    target_link_libraries(${name} INTERFACE ${ARGN})
  endif()
endfunction()

# What every test of a ThreadSanitizer build runs with: the suppressions excuse only reports that
# lie wholly inside the system's libraries; any report with a racing access of ours fails the
# test. Some tests start a job in a forked child, which the sanitizer allows only when told to.
# The suites that run Qt (LOCKVANE_QT_TEST_PROPERTIES) also leave out the accesses that modules
# built without the sanitizer make through the C library: Qt, GLib, D-Bus and X order their
# memory with locks and atomics the sanitizer cannot see, so each of their hand-overs would look
# like a race whose top frame is the sanitizer's own memcpy or free, which no suppression can
# name narrowly. Their locking through the C library still counts, and every access of code
# built with the sanitizer (ours, and the Qt templates compiled into it) is still checked.
set(LOCKVANE_TEST_PROPERTIES)
set(LOCKVANE_QT_TEST_PROPERTIES)
if(LOCKVANE_TSAN)
  set(tsan_options "suppressions=${PROJECT_SOURCE_DIR}/tests/sanitizers/tsan-suppressions.txt:second_deadlock_stack=1:die_after_fork=0")
  list(APPEND LOCKVANE_TEST_PROPERTIES ENVIRONMENT_MODIFICATION "TSAN_OPTIONS=set:${tsan_options}")
  list(APPEND LOCKVANE_QT_TEST_PROPERTIES ENVIRONMENT_MODIFICATION
       "TSAN_OPTIONS=set:${tsan_options}:ignore_noninstrumented_modules=1")
endif()
# A sanitizer build excuses the leaks of the system's libdbus (and nothing else): it keeps a
# little memory for good once Qt's X platform has talked to the session bus.
if(LOCKVANE_SANITIZE)
  set(lsan_options ENVIRONMENT_MODIFICATION
      "LSAN_OPTIONS=set:suppressions=${PROJECT_SOURCE_DIR}/tests/sanitizers/lsan-suppressions.txt:print_suppressions=0")
  list(APPEND LOCKVANE_TEST_PROPERTIES ${lsan_options})
  list(APPEND LOCKVANE_QT_TEST_PROPERTIES ${lsan_options})
endif()

# lockvane_test(NAME DIR [DEPS ...]): one GoogleTest executable per test folder.
function(lockvane_test name dir)
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS "${dir}/*.cpp")
  if(NOT sources)
    return()
  endif()
  add_executable(${name} ${sources})
  target_link_libraries(${name} PRIVATE ${ARGN} GTest::gtest GTest::gtest_main)
  target_compile_definitions(${name} PRIVATE
    LOCKVANE_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    LOCKVANE_BINARY_DIR="${PROJECT_BINARY_DIR}")
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 600 ${LOCKVANE_TEST_PROPERTIES})
endfunction()

# lockvane_qt_test(NAME DIR [DEPS ...]): a suite that needs a QApplication; its entry point
# (tests/qtsupport/QtTestMain.cpp) gives each run private home and XDG folders.
function(lockvane_qt_test name dir)
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS "${dir}/*.cpp")
  if(NOT sources)
    return()
  endif()
  add_executable(${name} ${sources} "${PROJECT_SOURCE_DIR}/tests/qtsupport/QtTestMain.cpp")
  target_link_libraries(${name} PRIVATE ${ARGN} GTest::gtest Qt6::Test)
  set_target_properties(${name} PROPERTIES AUTOMOC ON)
  target_compile_definitions(${name} PRIVATE
    LOCKVANE_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    LOCKVANE_BINARY_DIR="${PROJECT_BINARY_DIR}")
  # The screenshots and the tests through the X server run on a real X server (tests/), not
  # offscreen.
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 TEST_FILTER "-Screenshots*:ThroughX*"
    PROPERTIES TIMEOUT 600 ENVIRONMENT "QT_QPA_PLATFORM=offscreen" ${LOCKVANE_QT_TEST_PROPERTIES})
endfunction()
