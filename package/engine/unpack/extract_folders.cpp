#include "unpack/extract_folders.h"

#include "core/free_name.h"
#include "core/path_rules.h"
#include "unpack/extract_log.h"

#include <algorithm>

Extract_Folders::Folder Extract_Folders::folder_for(const QByteArray &relative)
{
    if (relative.isEmpty())
        return {destination, false};
    const auto found = folders.constFind(relative);
    if (found != folders.constEnd())
        return *found;
    const Folder parent = folder_for(parent_of(relative));
    Folder folder;
    if (!parent.path.isEmpty()) {
        int error = 0;
        const QByteArray name = leaf_of(relative);
        const Claimed_Name claimed = claim_folder(parent.path, name, &folder.created, &error);
        if (claimed.outcome == Name_Claim::Claimed) {
            folder.path = claimed.path;
            if (claimed.portable)
                log.warning(QStringLiteral("%1: the destination cannot hold this name; unpacked as \"%2\"")
                                .arg(display_path(relative), display_path(leaf_of(claimed.path))));
        } else {
            const QString why = error ? os::reason(error) : QStringLiteral("no free name");
            log.error(QStringLiteral("%1: cannot create the folder: %2; its contents are not extracted")
                          .arg(display_path(relative), why),
                      parent_of(relative));
        }
    }
    folders.insert(relative, folder);
    return folder;
}

void Extract_Folders::remember(const QByteArray &relative, bool has_permissions, quint32 permissions, bool has_time,
                               qint64 mtime)
{
    metas.insert(relative, {has_permissions, permissions, has_time, mtime});
}

std::vector<std::pair<QByteArray, Extract_Folders::Folder>> Extract_Folders::deepest_first(bool created_only) const
{
    std::vector<std::pair<QByteArray, Folder>> list;
    for (auto it = folders.constBegin(); it != folders.constEnd(); ++it)
        if (!it->path.isEmpty() && (it->created || !created_only))
            list.emplace_back(it.key(), *it);
    std::sort(list.begin(), list.end(), [](const auto &a, const auto &b) {
        const qsizetype da = a.first.count('/'), db = b.first.count('/');
        return da != db ? da > db : a.first < b.first;
    });
    return list;
}

void Extract_Folders::restore_modes_and_times()
{
    for (const auto &[relative, folder] : deepest_first(false)) {
        const auto meta = metas.constFind(relative);
        if (meta == metas.constEnd())
            continue;
        if (meta->has_permissions)
            if (const int error = os::set_permissions(folder.path, meta->permissions | 0700))
                log.warning(QStringLiteral("%1: cannot set its permissions: %2").arg(display_path(relative), os::reason(error)));
        if (meta->has_time)
            if (const int error = os::set_time(folder.path, meta->mtime))
                log.warning(QStringLiteral("%1: cannot set its time: %2").arg(display_path(relative), os::reason(error)));
    }
}

void Extract_Folders::remove_empty_created(bool all)
{
    const QSet<QByteArray> failed = all ? QSet<QByteArray>() : log.failed_folders();
    const auto leads_to_failure = [&](const QByteArray &relative) {
        for (const QByteArray &f : failed)
            if (f == relative || f.startsWith(relative + '/'))
                return true;
        return false;
    };
    // Deepest first, so a folder whose children went is empty in turn; only
    // an empty folder can be removed at all.
    for (const auto &[relative, folder] : deepest_first(true))
        if (all || leads_to_failure(relative))
            os::remove_folder(folder.path);
}
