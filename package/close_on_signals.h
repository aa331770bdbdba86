// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

class QWidget;

// SIGINT, SIGTERM and SIGHUP (the terminal that started the program closed,
// the session ended) close the window as its close button does: a run is
// cancelled and cleans up before the program ends.
void close_on_signals(QWidget *window);

// Set (true) on the window before such a close: nobody is there to answer a question.
inline constexpr char unattended_close_property[] = "unattended_close";
