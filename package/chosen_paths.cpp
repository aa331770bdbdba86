// SPDX-License-Identifier: GPL-3.0-or-later
#include "chosen_paths.h"

#include "Basic_Text.h"
#include "package_pipeline.h"

#include <QFile>
#include <QFileInfo>
#include <QMimeData>

#include <algorithm>

namespace {

void add_in_dialog_form(const QFileInfo &info, Chosen_Paths *chosen)
{
    const QString path = QDir::cleanPath(info.absoluteFilePath());
    (info.isDir() ? chosen->folders : chosen->files).append(path);
}

} // namespace

bool Chosen_Paths::only_containers() const
{
    return folders.isEmpty() && !files.isEmpty() && std::all_of(files.cbegin(), files.cend(), is_container);
}

QString Chosen_Paths::problems_text() const
{
    return Basic_Text::instance()->txt_not_listed + QLatin1Char('\n') + problems.join(QLatin1Char('\n'));
}

void Chosen_Paths::keep_only_containers()
{
    const QString why = Basic_Text::instance()->txt_not_container;
    for (const QString &path : std::as_const(folders) + files)
        if (!is_container(path))
            problems.append(QStringLiteral("%1: %2").arg(display_path(QFile::encodeName(path)), why));
    folders.clear();
    files.removeIf([](const QString &path) { return !is_container(path); });
}

bool is_container(const QString &path)
{
    return path.endsWith(container_suffix(), Qt::CaseInsensitive);
}

Chosen_Paths sort_opened(const QStringList &paths, const QDir &base)
{
    const Basic_Text *text = Basic_Text::instance();
    Chosen_Paths chosen;
    for (const QString &given : paths) {
        const QFileInfo info(base, given);
        QString why;
        if (given.isEmpty() || !info.exists())
            why = text->txt_no_such_path;
        else if (!info.isFile() && !info.isDir())
            why = text->txt_not_file_or_folder;
        else if (!info.isReadable())
            why = text->txt_cannot_read;
        if (why.isEmpty())
            add_in_dialog_form(info, &chosen);
        else
            chosen.problems.append(QStringLiteral("%1: %2").arg(display_path(QFile::encodeName(given)), why));
    }
    return chosen;
}

Chosen_Paths sort_dropped(const QList<QUrl> &urls, bool is_encryption)
{
    Chosen_Paths chosen;
    for (const QUrl &url : urls) {
        if (!url.isLocalFile())
            continue;
        const QFileInfo info(url.toLocalFile());
        if (!info.exists())
            continue;
        // Folders are packed, never unpacked.
        if (is_encryption || (info.isFile() && is_container(info.fileName())))
            add_in_dialog_form(info, &chosen);
    }
    return chosen;
}

Chosen_Paths sort_dropped(const QMimeData *mime, bool is_encryption)
{
    return mime ? sort_dropped(mime->urls(), is_encryption) : Chosen_Paths();
}
