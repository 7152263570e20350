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
add_executable(win32_window_test ${TARVIK_WIN32_TESTS}/win32_window_test.cpp
               ${TARVIK_WIN32_TESTS}/support/win32_person.cpp)
# oleacc and oleaut32: the tests read the window as a screen reader does, through MSAA.
target_link_libraries(win32_window_test PRIVATE tarvik_test_support tarvik_platform_win32 tarvik_win32_resources
                      oleacc oleaut32)
# The signature table of tests/CMakeLists.txt gives the signed scenes their images.
gtest_discover_tests(win32_window_test DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 30
                     PROPERTIES RESOURCE_LOCK display LABELS display FIXTURES_REQUIRED signature_vectors
                                ENVIRONMENT TARVIK_SIGNATURE_VECTORS=${CMAKE_BINARY_DIR}/tests/signature-vectors)

# Nothing but the system's own DLLs may be imported: the executable is copied
# alone onto machines that have no MinGW runtime.
add_test(NAME TarvikUpdate.ImportsOnlySystemDlls
         COMMAND ${CMAKE_COMMAND} -DEXECUTABLE=$<TARGET_FILE:TarvikUpdate> -DOBJDUMP=${CMAKE_OBJDUMP}
                 -P ${PROJECT_SOURCE_DIR}/desktop/win32/CheckImports.cmake)

if(TARGET tarvik-update-cli)
  tarvik_test(win32_cli_console_test ${TARVIK_WIN32_TESTS}/cli_console_test.cpp)
  target_link_libraries(win32_cli_console_test PRIVATE tarvik_cli_console)
  tarvik_test(win32_controller_bus_test ${TARVIK_WIN32_TESTS}/controller_bus_test.cpp
              ${PROJECT_SOURCE_DIR}/cli/controller_bus.cpp ${PROJECT_SOURCE_DIR}/cli/held_enumeration_bus.cpp)

  add_test(NAME tarvik-update-cli.ImportsOnlySystemDlls
           COMMAND ${CMAKE_COMMAND} -DEXECUTABLE=$<TARGET_FILE:tarvik-update-cli> -DOBJDUMP=${CMAKE_OBJDUMP}
                   -P ${PROJECT_SOURCE_DIR}/desktop/win32/CheckImports.cmake)

  # The command-line program under Wine, on the sample images, written by the
  # samples' own program for Windows before the cases run.
  add_executable(win32_make_samples ${PROJECT_SOURCE_DIR}/samples/make_samples.cpp)
  set(TARVIK_WIN32_CLI_WORK ${CMAKE_BINARY_DIR}/tests/win32-cli)
  file(MAKE_DIRECTORY ${TARVIK_WIN32_CLI_WORK}/images)
  add_test(NAME tarvik-update-cli.Samples COMMAND win32_make_samples ${TARVIK_WIN32_CLI_WORK}/images)
  set_tests_properties(tarvik-update-cli.Samples PROPERTIES FIXTURES_SETUP win32_cli_images)
  foreach(case no_controller image image_sha256 list_simulated flash_all flash_all_unplug device watch chinese)
    add_test(NAME tarvik-update-cli.${case}
             COMMAND ${CMAKE_COMMAND} -DCLI=$<TARGET_FILE:tarvik-update-cli> -DWINE=${TARVIK_WINE}
                     -DIMAGES=${TARVIK_WIN32_CLI_WORK}/images -DWORK=${TARVIK_WIN32_CLI_WORK}/${case}
                     -DCASE=${case} -P ${TARVIK_WIN32_TESTS}/win32_cli_test.cmake)
    set_tests_properties(tarvik-update-cli.${case} PROPERTIES FIXTURES_REQUIRED win32_cli_images)
  endforeach()
endif()

# The person at TarvikUpdate.exe's window from a process of its own: the kernel
# test's guest runs the window under Wine on a USB gadget controller
# (tests/kernel/wine_in_guest.sh).
add_executable(win32_dialog_person ${TARVIK_WIN32_TESTS}/kernel/dialog_person.cpp
               ${TARVIK_WIN32_TESTS}/support/win32_person.cpp)
target_include_directories(win32_dialog_person PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(win32_dialog_person PRIVATE tarvik_platform_win32)
target_compile_options(win32_dialog_person PRIVATE -municode)
target_link_options(win32_dialog_person PRIVATE -municode)
