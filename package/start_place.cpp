// SPDX-License-Identifier: GPL-3.0-or-later
#include "start_place.h"

#include "package_pipeline.h"

#include <QDir>
#include <QFileInfo>
#include <QScreen>
#include <QWidget>

bool can_make_working_folder(const QString &base_dir)
{
    QDir base(base_dir);
    const QFileInfo folder(base.filePath(working_folder_name()));
    if (folder.exists())
        return folder.isDir() && folder.isWritable();
    if (!base.mkdir(working_folder_name()))
        return false;
    // Made only to see that it can be: the first run makes it again.
    base.rmdir(working_folder_name());
    return true;
}

QString choose_base_dir(const QString &current, const QString &home)
{
    if (can_make_working_folder(current) || !can_make_working_folder(home))
        return current;
    return home;
}

QRect fit_on_screen(const QSize &wanted, const QSize &minimum, const QRect &available)
{
    QRect frame(QPoint(0, 0), wanted.boundedTo(available.size()).expandedTo(minimum));
    frame.moveCenter(available.center());
    frame.moveTopLeft(QPoint(qMax(frame.left(), available.left()), qMax(frame.top(), available.top())));
    return frame;
}

QString file_dialog_folder(bool is_encryption, const QString &base_dir)
{
    const QString work_folder = QDir(base_dir).filePath(working_folder_name());
    return is_encryption || !QFileInfo(work_folder).isDir() ? base_dir : work_folder;
}

void place_window(QWidget *window, const QSize &wanted)
{
    // Every text stays readable down to the layout's minimum.
    window->setMinimumSize(window->minimumSizeHint());
    if (const QScreen *where = window->screen())
        window->setGeometry(fit_on_screen(wanted, window->minimumSize(), where->availableGeometry()));
}
