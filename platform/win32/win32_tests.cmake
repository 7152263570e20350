# The Windows platform's tests, run under Wine by CTest. Included at the end of
# the top-level directory (see CMakeLists.txt here), where tests/CMakeLists.txt
# has defined tarvik_test and GoogleTest.
include_guard(GLOBAL)
# gtest_discover_tests finds its helper script through a variable of the
# directory that included GoogleTest: this one must include it too.
include(GoogleTest)

set(TARVIK_WIN32_TESTS ${PROJECT_SOURCE_DIR}/tests)

tarvik_test(win32_text_test ${TARVIK_WIN32_TESTS}/win32_text_test.cpp)
target_link_libraries(win32_text_test PRIVATE tarvik_platform_win32)

tarvik_test(win32_hid_bus_test ${TARVIK_WIN32_TESTS}/win32_hid_bus_test.cpp)
target_link_libraries(win32_hid_bus_test PRIVATE tarvik_platform_win32)

# The next three carry the executable's resources: the string table, the
# dialog template, the icon, the version and the manifest.
tarvik_test(win32_resource_test ${TARVIK_WIN32_TESTS}/win32_resource_test.cpp)
target_link_libraries(win32_resource_test PRIVATE tarvik_platform_win32 tarvik_win32_resources)
target_compile_definitions(win32_resource_test PRIVATE
  TARVIK_VERSION_MAJOR=${PROJECT_VERSION_MAJOR} TARVIK_VERSION_MINOR=${PROJECT_VERSION_MINOR}
  TARVIK_VERSION_PATCH=${PROJECT_VERSION_PATCH})

tarvik_test(win32_system_test ${TARVIK_WIN32_TESTS}/win32_system_test.cpp)
target_link_libraries(win32_system_test PRIVATE tarvik_platform_win32 tarvik_win32_resources)

# Drives real windows: needs a display (an X server under Wine). One window
# test at a time: a screenshot must not catch another test's window on top.
add_executable(win32_window_test ${TARVIK_WIN32_TESTS}/win32_window_test.cpp)
target_link_libraries(win32_window_test PRIVATE tarvik_test_support tarvik_platform_win32 tarvik_win32_resources)
gtest_discover_tests(win32_window_test DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 30
                     PROPERTIES RESOURCE_LOCK display LABELS display)

# Nothing but the system's own DLLs may be imported: the executable is copied
# alone onto machines that have no MinGW runtime.
add_test(NAME TarvikUpdate.ImportsOnlySystemDlls
         COMMAND ${CMAKE_COMMAND} -DEXECUTABLE=$<TARGET_FILE:TarvikUpdate> -DOBJDUMP=${CMAKE_OBJDUMP}
                 -P ${PROJECT_SOURCE_DIR}/desktop/win32/CheckImports.cmake)
