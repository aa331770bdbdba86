// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/system.h"

#include <QByteArray>
#include <QHash>
#include <QString>

#include <deque>
#include <list>
#include <memory>
#include <mutex>
#include <vector>

class Extract_Log;

// The real folders an extraction writes into, by their path in the archive,
// each reached through its parent's handle and never by a path: a folder
// swapped for a link, or moved away, mid-run cannot lead a write outside the
// destination. An existing folder of this user is shared; a name taken by a
// file, a link or another user's folder gets a numbered name, so nothing is
// overwritten or written through a link.
// Only a bounded number of folders is held open; the others are opened again
// from their parents when needed, so no number of folders exhausts the
// descriptors a process may hold. Only folders are remembered: their names,
// and the times and modes their entries carry until the end, when files no
// longer change them.
class Extract_Folders
{
public:
    using Id = int;
    static constexpr Id none = -1; // a folder that could not be made
    static constexpr Id top = 0;   // the destination

    // The destination, already open; display is its path, for messages.
    // most_open: how many other folders may be held open at once.
    Extract_Folders(std::shared_ptr<const os::Folder> destination, const os::Path &display, Extract_Log &log,
                    size_t most_open);

    // The folder at relative, made with its parents when missing; none when
    // it could not be made, which is reported. On the reading thread only.
    Id folder_for(const QByteArray &relative);
    bool created(Id id) const;
    // Its path, for messages.
    os::Path path_of(Id id) const;
    // The folder open, from any thread: null, with the errno value in
    // *error, when it can no longer be opened from its parent.
    std::shared_ptr<const os::Folder> open(Id id, int *error);
    // The same, to make name in it: what no path would reach is refused
    // with ENAMETOOLONG, as the system refuses such a path, so that what is
    // unpacked can be packed again.
    std::shared_ptr<const os::Folder> open_for(Id id, const QByteArray &name, int *error);

    // A folder entry's own mode and time, restored by finish().
    void remember(const QByteArray &relative, bool has_permissions, quint32 permissions, bool has_time, qint64 mtime);
    // Modes and times of every folder entry, deepest first, the owner
    // keeping rwx so that what was unpacked can be opened and removed.
    // Failures are warnings: the content is there.
    void restore_modes_and_times();
    // Every folder of the extraction, the destination last, synced: the
    // names in them on disk. 0 or the first errno value.
    int sync_all();
    // Folders made here that stayed empty go again: all of them (after a
    // cancel), or those on the way to an entry that failed.
    void remove_empty_created(bool all);

private:
    struct Meta
    {
        bool has_permissions = false;
        quint32 permissions = 0;
        bool has_time = false;
        qint64 mtime = 0;
    };
    struct Node
    {
        Id parent = none;
        QByteArray name; // in its parent, as claimed
        qsizetype path_length = 0;
        bool created = false;
        std::shared_ptr<const os::Folder> handle; // null while closed
        std::list<Id>::iterator recent;           // its place in recently_used while open
    };

    os::Path display;
    Extract_Log &log;
    const size_t most_open;
    // Guarded by mutex: the nodes (by Id) and the open ones, most recently used first.
    mutable std::mutex mutex;
    std::deque<Node> nodes;
    std::list<Id> recently_used;
    // The reading thread's own.
    QHash<QByteArray, Id> ids;
    QHash<Id, Meta> metas;

    std::shared_ptr<const os::Folder> open_locked(Id id, int *error);
    void keep_open_locked(Id id, std::shared_ptr<const os::Folder> handle);
    // Folders by relative path, deepest first.
    std::vector<std::pair<QByteArray, Id>> deepest_first(bool created_only) const;
};
