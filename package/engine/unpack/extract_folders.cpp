#include "unpack/extract_folders.h"

#include "core/free_name.h"

#include <QStringList>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>

namespace {

void set_folder_time(const QString &path, qint64 mtime)
{
#ifdef Q_OS_UNIX
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = time_t(mtime);
    times[1].tv_nsec = 0;
    ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0);
#else
    Q_UNUSED(path);
    Q_UNUSED(mtime);
#endif
}

QString folder_of(const QString &relative)
{
    const qsizetype slash = relative.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? QString() : relative.left(slash);
}

} // namespace

QFile::Permissions permissions_of(quint32 mode)
{
    QFile::Permissions p;
    if (mode & 0400) p |= QFile::ReadOwner | QFile::ReadUser;
    if (mode & 0200) p |= QFile::WriteOwner | QFile::WriteUser;
    if (mode & 0100) p |= QFile::ExeOwner | QFile::ExeUser;
    if (mode & 0040) p |= QFile::ReadGroup;
    if (mode & 0020) p |= QFile::WriteGroup;
    if (mode & 0010) p |= QFile::ExeGroup;
    if (mode & 0004) p |= QFile::ReadOther;
    if (mode & 0002) p |= QFile::WriteOther;
    if (mode & 0001) p |= QFile::ExeOther;
    return p;
}

void Extract_Folders::make(std::vector<Archive_Entry> &entries)
{
    QStringList folder_names;
    for (const Archive_Entry &e : entries) {
        if (e.is_dir) {
            folder_names.append(e.relative);
            folder_entries.insert(e.relative, &e);
        } else if (e.relative.lastIndexOf(QLatin1Char('/')) > 0) {
            folder_names.append(folder_of(e.relative));
        }
    }
    folder_names.sort();
    for (const QString &f : folder_names)
        folder_for(f);
    for (Archive_Entry &e : entries)
        if (!e.is_dir)
            e.parent = folder_for(folder_of(e.relative));
}

QString Extract_Folders::folder_for(const QString &relative)
{
    if (relative.isEmpty())
        return destination;
    const auto found = folders.constFind(relative);
    if (found != folders.constEnd())
        return *found;
    const QString parent = folder_for(folder_of(relative));
    QString path;
    if (!parent.isEmpty()) {
        bool created = false;
        QString reason;
        const Claimed_Name folder = claim_folder(parent, relative.section(QLatin1Char('/'), -1), &created, &reason);
        if (folder.ok)
            path = folder.path;
        else
            report(QStringLiteral("%1: cannot create the folder: %2; its contents are not extracted").arg(relative, reason));
        if (created)
            created_folders.push_back(path);
    }
    folders.insert(relative, path);
    return path;
}

void Extract_Folders::sort_deepest_first()
{
    std::sort(created_folders.begin(), created_folders.end(),
              [](const QString &a, const QString &b) { return a.size() > b.size(); });
}

void Extract_Folders::restore_times()
{
    sort_deepest_first();
    QHash<QString, const Archive_Entry *> by_path;
    for (auto it = folder_entries.constBegin(); it != folder_entries.constEnd(); ++it)
        by_path.insert(folders.value(it.key()), it.value());
    for (const QString &path : created_folders) {
        const Archive_Entry *e = by_path.value(path);
        if (!e)
            continue;
        if (e->mode != 0)
            QFile::setPermissions(path, permissions_of(e->mode | 0700));
        if (e->mtime >= 0)
            set_folder_time(path, e->mtime);
    }
}

void Extract_Folders::remove_empty_created()
{
    // Deepest first, so a folder whose children went is empty in turn;
    // rmdir never removes a folder that holds anything.
    sort_deepest_first();
    for (const QString &path : created_folders)
        ::rmdir(QFile::encodeName(path).constData());
}
