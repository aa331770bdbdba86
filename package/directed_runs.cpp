// SPDX-License-Identifier: GPL-3.0-or-later
#include "directed_runs.h"

#include "Basic_Text.h"
#include "contents_dialog.h"
#include "row_menu.h"
#include "window_dialogs.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTimer>
#include <QUrl>

#include <algorithm>

QMenu *Directed_Runs::row_menu(const Row &row, const QList<Row> &selected, bool is_encryption)
{
    if (window.is_busy())
        return nullptr;
    return make_row_menu(row.path, is_encryption,
                         {[this](const QString &c) { unpack_to({c}); }, [this](const QString &c) { show_contents(c); },
                          [this, row, selected](const QString &) { pack_as(row, selected); }},
                         window.widget);
}

void Directed_Runs::unpack_to(const QStringList &containers, const QList<QByteArray> &patterns)
{
    if (window.is_busy() || containers.isEmpty())
        return;
    const QString folder = window.dialogs->choose_folder(QCoreApplication::translate("Pellanor", "Unpack to"));
    if (folder.isEmpty())
        return;
    Package_Job::Input input{false, containers, {}, window.base_dir(), {}, {}, {}};
    input.unpack.destination = QFile::encodeName(folder);
    input.unpack.include = patterns;
    window.start(input);
}

void Directed_Runs::pack_as(const Row &row, const QList<Row> &selected)
{
    if (window.is_busy())
        return;
    const QString base_dir = window.base_dir();
    const QString file = window.dialogs->choose_save_file(QCoreApplication::translate("Pellanor", "Pack as"),
                                                          QDir(base_dir).filePath(working_folder_name()),
                                                          container_filter());
    if (file.isEmpty())
        return;
    Package_Job::Input input{true, {}, {}, base_dir, {}, {}, {}};
    // The selected rows, or the one the menu was opened on.
    const bool in_selection
        = std::any_of(selected.cbegin(), selected.cend(), [&](const Row &r) { return r.path == row.path; });
    for (const Row &r : in_selection ? selected : QList<Row>{row})
        (r.is_dir ? input.folders : input.files).append(r.path);
    input.pack.output_file = QFile::encodeName(file);
    window.start(input);
}

Contents_Dialog *Directed_Runs::show_contents(const QString &container)
{
    auto *dialog = new Contents_Dialog(container, window.widget);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(dialog, &Contents_Dialog::unpack_requested, window.widget,
                     [this](const QString &c, const QList<QByteArray> &patterns) { unpack_to({c}, patterns); });
    dialog->show();
    return dialog;
}

void Directed_Runs::report(const Package_Result &result, const Package_Job::Input &run)
{
    const Run_Report shown = make_run_report(result, blocked_working_folder(result, run.base_dir));
    const Run_Report::Answer answer = window.dialogs->show_report(Basic_Text::instance()->txt_title, shown);
    if (answer == Run_Report::Answer::Open_Folder && !shown.folder.isEmpty())
        window.dialogs->open_url(QUrl::fromLocalFile(shown.folder));
    if (answer != Run_Report::Answer::Recover || shown.recoverable.isEmpty())
        return;
    // Into where the refused run would have unpacked.
    Package_Job::Input salvage = run;
    salvage.files = shown.recoverable;
    salvage.folders.clear();
    salvage.unpack.salvage = true;
    QTimer::singleShot(0, window.widget, [this, salvage] {
        if (!window.is_busy())
            window.start(salvage);
    });
}
