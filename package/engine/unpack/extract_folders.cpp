// SPDX-License-Identifier: GPL-3.0-or-later
#include "unpack/extract_folders.h"

#include "core/free_name.h"
#include "core/path_rules.h"
#include "unpack/extract_log.h"

#include <QSet>

#include <algorithm>
#include <cerrno>

Extract_Folders::Extract_Folders(std::shared_ptr<const os::Folder> destination, const os::Path &display,
                                 Extract_Log &log, size_t most_open)
    : display(display), log(log), most_open(std::max<size_t>(most_open, 1))
{
    // The destination is held open throughout, outside the count.
    nodes.push_back({none, QByteArray(), display.size(), false, std::move(destination), {}});
}

Extract_Folders::Id Extract_Folders::folder_for(const QByteArray &relative)
{
    if (relative.isEmpty())
        return top;
    const auto found = ids.constFind(relative);
    if (found != ids.constEnd())
        return *found;
    const Id parent = folder_for(parent_of(relative));
    Id id = none;
    if (parent != none) {
        int error = 0;
        bool created = false;
        os::Folder folder;
        Claimed_Name claimed;
        const QByteArray name = leaf_of(relative);
        if (const std::shared_ptr<const os::Folder> above = open_for(parent, name, &error))
            claimed = claim_folder(*above, name, &folder, &created, &error);
        if (claimed.outcome == Name_Claim::Claimed) {
            const std::lock_guard<std::mutex> lock(mutex);
            id = Id(nodes.size());
            const qsizetype length = nodes[size_t(parent)].path_length + 1 + claimed.name.size();
            nodes.push_back({parent, claimed.name, length, created, nullptr, {}});
            keep_open_locked(id, std::make_shared<const os::Folder>(std::move(folder)));
            if (claimed.portable)
                log.respelled(display_path(relative), claimed.name);
        } else {
            const QString why = error ? os::reason(error) : QStringLiteral("no free name");
            log.error(QStringLiteral("%1: cannot create the folder: %2; its contents are not extracted")
                          .arg(display_path(relative), why),
                      parent_of(relative));
        }
    }
    ids.insert(relative, id);
    return id;
}

bool Extract_Folders::created(Id id) const
{
    const std::lock_guard<std::mutex> lock(mutex);
    return nodes[size_t(id)].created;
}

os::Path Extract_Folders::path_of(Id id) const
{
    const std::lock_guard<std::mutex> lock(mutex);
    os::Path path;
    for (; id != top; id = nodes[size_t(id)].parent)
        path = '/' + nodes[size_t(id)].name + path;
    return display + path;
}

std::shared_ptr<const os::Folder> Extract_Folders::open(Id id, int *error)
{
    const std::lock_guard<std::mutex> lock(mutex);
    return open_locked(id, error);
}

std::shared_ptr<const os::Folder> Extract_Folders::open_for(Id id, const QByteArray &name, int *error)
{
    const std::lock_guard<std::mutex> lock(mutex);
    if (nodes[size_t(id)].path_length + 1 + name.size() > os::longest_path) {
        *error = ENAMETOOLONG;
        return nullptr;
    }
    return open_locked(id, error);
}

std::shared_ptr<const os::Folder> Extract_Folders::open_locked(Id id, int *error)
{
    Node &node = nodes[size_t(id)];
    if (node.handle) {
        if (id != top)
            recently_used.splice(recently_used.begin(), recently_used, node.recent);
        return node.handle;
    }
    // Opened again from the parent, never following a link. Its identity is
    // not compared: FUSE file systems number a folder anew once their cache
    // dropped it. What the name holds now is a real folder inside ours.
    const std::shared_ptr<const os::Folder> parent = open_locked(node.parent, error);
    if (!parent)
        return nullptr;
    auto folder = std::make_shared<os::Folder>();
    if ((*error = folder->open_in(*parent, node.name)) != 0)
        return nullptr;
    keep_open_locked(id, folder);
    return folder;
}

void Extract_Folders::keep_open_locked(Id id, std::shared_ptr<const os::Folder> handle)
{
    nodes[size_t(id)].handle = std::move(handle);
    recently_used.push_front(id);
    nodes[size_t(id)].recent = recently_used.begin();
    // The least recently used closes once nobody holds it any more.
    while (recently_used.size() > most_open) {
        nodes[size_t(recently_used.back())].handle.reset();
        recently_used.pop_back();
    }
}

void Extract_Folders::remember(const QByteArray &relative, bool has_permissions, quint32 permissions, bool has_time,
                               qint64 mtime)
{
    const Id id = ids.value(relative, relative.isEmpty() ? top : none);
    if (id != none)
        metas.insert(id, {has_permissions, permissions, has_time, mtime});
}

std::vector<std::pair<QByteArray, Extract_Folders::Id>> Extract_Folders::deepest_first(bool created_only) const
{
    std::vector<std::pair<QByteArray, Id>> list;
    for (auto it = ids.constBegin(); it != ids.constEnd(); ++it)
        if (*it != none && (!created_only || created(*it)))
            list.emplace_back(it.key(), *it);
    std::sort(list.begin(), list.end(), [](const auto &a, const auto &b) {
        const qsizetype da = a.first.count('/'), db = b.first.count('/');
        return da != db ? da > db : a.first < b.first;
    });
    return list;
}

int Extract_Folders::sync_all()
{
    int first = 0;
    const auto sync = [&](Id id) {
        int error = 0;
        if (const std::shared_ptr<const os::Folder> folder = open(id, &error))
            error = folder->sync();
        if (!first)
            first = error;
    };
    for (const auto &[relative, id] : deepest_first(false))
        if (id != top)
            sync(id);
    sync(top);
    return first;
}

void Extract_Folders::restore_modes_and_times()
{
    for (const auto &[relative, id] : deepest_first(false)) {
        const auto meta = metas.constFind(id);
        if (meta == metas.constEnd())
            continue;
        int error = 0;
        const std::shared_ptr<const os::Folder> folder = open(id, &error);
        if (!folder) {
            log.warning(QStringLiteral("%1: cannot set its permissions and time: %2").arg(display_path(relative), os::reason(error)));
            continue;
        }
        if (meta->has_permissions)
            if ((error = folder->set_permissions(meta->permissions | 0700)))
                log.warning(QStringLiteral("%1: cannot set its permissions: %2").arg(display_path(relative), os::reason(error)));
        if (meta->has_time)
            if ((error = folder->set_time(meta->mtime)))
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
    for (const auto &[relative, id] : deepest_first(true)) {
        if (!all && !leads_to_failure(relative))
            continue;
        int error = 0;
        Id parent = none;
        QByteArray name;
        {
            const std::lock_guard<std::mutex> lock(mutex);
            parent = nodes[size_t(id)].parent;
            name = nodes[size_t(id)].name;
        }
        if (const std::shared_ptr<const os::Folder> above = open(parent, &error))
            above->remove_folder(name);
    }
}
