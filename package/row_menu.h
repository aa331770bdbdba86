// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QMenu>
#include <QString>

#include <functional>

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
