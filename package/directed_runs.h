// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "package_job.h"
#include "pellanor_view.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

class Contents_Dialog;
class QMenu;
class QWidget;
class Window_Dialogs;

// The runs a user directs beyond the start button: from a row's menu or the
// contents dialog, containers into a chosen folder (whole, or the entries
// chosen) and rows into a container the user names; from a run's report,
// a salvage of what the run refused as damaged.
class Directed_Runs
{
public:
    using Row = Pellanor_View::Row;
    struct Window
    {
        QWidget *widget;             // parents the menus and dialogs
        Window_Dialogs *dialogs;     // asks for the folder and the name
        std::function<bool()> is_busy;
        std::function<QString()> base_dir;
        std::function<void(const Package_Job::Input &)> start;
    };

    explicit Directed_Runs(Window window) : window(std::move(window)) {}

    // What the row offers (null when nothing); `selected`: the selected rows,
    // packed together when the row is one of them. The caller owns the menu.
    QMenu *row_menu(const Row &row, const QList<Row> &selected, bool is_encryption);
    void unpack_to(const QStringList &containers, const QList<QByteArray> &patterns = {});
    void pack_as(const Row &row, const QList<Row> &selected);
    Contents_Dialog *show_contents(const QString &container);
    // Shows the report of `run` and does what the user picks there: open
    // the result's folder, or recover what is intact of the containers it
    // refused as damaged, in a run of its own once this one has ended.
    void report(const Package_Result &result, const Package_Job::Input &run);

private:
    Window window;
};
