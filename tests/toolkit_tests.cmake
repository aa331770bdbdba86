# SPDX-License-Identifier: GPL-3.0-or-later
# Resource bundle, style and the frameless window toolkit.
corvanta_add_test(test_kt_button SOURCES test_kt_button.cpp LIBS corvanta_toolkit)
corvanta_add_test(test_frame SOURCES test_frame.cpp LIBS corvanta_toolkit corvanta_resources)

# The frame again at a device pixel ratio of 2: sizes stay in logical pixels.
add_test(NAME test_frame_hidpi COMMAND test_frame)
set_tests_properties(test_frame_hidpi PROPERTIES
  ENVIRONMENT "QT_QPA_PLATFORM=offscreen;QT_SCALE_FACTOR=2" TIMEOUT 600)

