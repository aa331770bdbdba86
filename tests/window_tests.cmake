# The main window: selection lists, type switch, package job, report.
corvanta_add_test(test_pellanor
  SOURCES test_pellanor.cpp
  LIBS corvanta_window corvanta_engine_internals)
# Installed, opened with a container as the file manager would, started once.
add_test(NAME test_open_container
         COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/desktop/test_open_container.sh ${CMAKE_BINARY_DIR})
set_tests_properties(test_open_container PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 300)
# Its small units: progress text, path sorting, the report, where it opens.
corvanta_add_test(test_window_units SOURCES test_window_units.cpp LIBS corvanta_window)
