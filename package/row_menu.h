// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QMenu>
#include <QString>

#include <functional>

class QTableWidget;

// The table's context menu for one row: on a container "Unpack to…" and
// "Show contents…", on a file or folder to pack "Pack as…". Each action
// calls its handler with the row's path.
struct Row_Menu_Handlers
{
    std::function<void(const QString &container)> unpack_to;
    std::function<void(const QString &container)> show_contents;
    std::function<void(const QString &path)> pack_as;
};

// Null when the row offers nothing (an empty table).
QMenu *make_row_menu(const QString &path, bool is_encryption, const Row_Menu_Handlers &handlers, QWidget *parent);

// Opens what menu_for(row) gives (nothing when null) on a right click, the
// Menu key and Shift+F10 as desktops have it: at the row under the pointer,
// or from the keyboard at the current row.
void attach_row_menu(QTableWidget *table, const std::function<QMenu *(int row)> &menu_for);
