// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QRect>
#include <QSize>
#include <QString>

// Whether "<base_dir>/AddData" is, or can be made, a folder to write
// containers in. Tried for real: permissions alone miss read-only places.
bool can_make_working_folder(const QString &base_dir);

// The folder whose AddData the runs use: the current one, or the home folder
// when the current one cannot hold it (a launcher that starts the program in "/").
QString choose_base_dir(const QString &current, const QString &home);

// Where a window opens: the wanted size where the screen area allows, never
// below its minimum, centred, its title bar on the screen.
QRect fit_on_screen(const QSize &wanted, const QSize &minimum, const QRect &available);

// Where the file dialog opens: in decryption mode the working folder once
// there is one, as containers are made there; else the base folder (home,
// when started where nothing can be written).
QString file_dialog_folder(bool is_encryption, const QString &base_dir);

class QWidget;

// The size the main window opens at, where the screen allows.
inline constexpr QSize described_window_size(600, 420);

// Sets window's minimum to what its layout needs and places it inside its
// screen's available area at `wanted` where that fits.
void place_window(QWidget *window, const QSize &wanted);
