# Under Wine: the Windows layer over the system's own functions and the real
# account service, with the units of the core that need no POSIX facilities.
# The end-to-end suite drives lodgate.exe.
add_executable(windows_unit_tests tests/wine/windows_layer_test.cc
    command/tokenizer_test.cc text/text_test.cc log/line_format_test.cc
    accounts/parameter_number_test.cc)
target_link_libraries(windows_unit_tests PRIVATE lodgate_command GTest::gtest_main)
# One Wine process for all cases: each start costs a few tenths of a second,
# and accounts live only as long as the process.
add_test(NAME windows_unit_tests COMMAND windows_unit_tests)
add_test(NAME wine_end_to_end
    COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/tests/wine/end_to_end $<TARGET_FILE:lodgate>)
# Both change the one prefix (registry, C:\windows\system32).
set_tests_properties(windows_unit_tests wine_end_to_end PROPERTIES RESOURCE_LOCK wineprefix)
