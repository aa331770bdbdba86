# SPDX-License-Identifier: GPL-3.0-or-later
# The main window: selection lists, type switch, package job, report.
corvanta_add_test(test_pellanor
  SOURCES test_pellanor.cpp engine_test_support.h window_test_support.h
  LIBS corvanta_window corvanta_engine_internals)
# Installed, checked as a desktop sees it, opened with a container as the file
# manager would and started with the keyboard on a real X server.
add_test(NAME test_open_container
         COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/desktop/test_open_container.sh ${CMAKE_BINARY_DIR})
set_tests_properties(test_open_container PROPERTIES TIMEOUT 300)
# The Debian package CPack makes of the same install.
add_test(NAME test_package COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/desktop/test_package.sh ${CMAKE_BINARY_DIR})
set_tests_properties(test_package PROPERTIES TIMEOUT 300)
# Its small units: progress text, path sorting and lists, the report, where it opens.
corvanta_add_test(test_window_units SOURCES test_window_units.cpp LIBS corvanta_window)
# The package job on its own, without a window.
corvanta_add_test(test_package_job SOURCES test_package_job.cpp engine_test_support.h
  LIBS corvanta_window corvanta_engine_internals)
# The window's texts by the locale: Chinese for zh_* (also first in LANGUAGE),
# English otherwise.
corvanta_add_test(test_language SOURCES test_language.cpp LIBS corvanta_window)
foreach(run IN ITEMS "zh|zh|LANG=zh_CN.UTF-8" "c|en|LANG=C" "de|en|LANG=de_DE.UTF-8"
                     "language|zh|LANG=en_US.UTF-8;LANGUAGE=zh_TW:en")
  string(REPLACE "|" ";" parts "${run}")
  list(GET parts 0 tag)
  list(GET parts 1 expect)
  list(SUBLIST parts 2 -1 locale)
  if(tag STREQUAL "zh")
    set(test_name test_language)
  else()
    set(test_name test_language_${tag})
    add_test(NAME ${test_name} COMMAND test_language)
  endif()
  set_tests_properties(${test_name} PROPERTIES TIMEOUT 600
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;LC_ALL=;LC_MESSAGES=;LANGUAGE=;${locale};CORVANTA_TEST_LANGUAGE=${expect}")
endforeach()
# How the program meets misuse and a missing display.
add_test(NAME test_window_usage COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/desktop/test_usage.sh $<TARGET_FILE:corvanta>)
# The password: set for packing, asked for when unpacking, by keyboard.
corvanta_add_test(test_password_window SOURCES test_password_window.cpp engine_test_support.h window_test_support.h
  LIBS corvanta_window corvanta_engine_internals)
# The table's context menu and the contents dialog.
corvanta_add_test(test_row_menu SOURCES test_row_menu.cpp engine_test_support.h window_test_support.h
  LIBS corvanta_window corvanta_engine_internals)
