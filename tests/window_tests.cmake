# The main window: selection lists, type switch, package job, report.
corvanta_add_test(test_pellanor
  SOURCES test_pellanor.cpp
  LIBS corvanta_window libzip::zip)
