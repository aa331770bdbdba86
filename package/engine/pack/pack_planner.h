// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <deque>
#include <functional>

#include "pack/input_file.h"
#include "platform/system.h"

class Job_Control;

// One entry of the archive to be written, as the walk finds it.
struct Pack_Entry
{
    const Pack_Root *root = nullptr; // the chosen item it was found under
    os::Path source_path;  // where it is; empty for folders and links
    QByteArray name;       // in the archive, as the file system names it; folders end with "/"
    bool is_dir = false;
    bool is_link = false;  // stored as a link: link_target is its content
    QByteArray link_target;
    bool deflate = false;  // false: stored as is (empty or incompressible)
    qint64 size = 0;
    qint64 mtime = 0;      // seconds since the epoch
    quint32 unix_mode = 0; // type and permission bits
    qint64 mtime_ns = 0;   // as planned, to tell a file that changes while it is read
    quint64 inode = 0;

    File_Identity identity() const { return {size, mtime_ns, inode}; }
};

// What a walk found besides its entries.
struct Plan_Totals
{
    qint64 entries = 0;
    qint64 bytes = 0;         // of file content to read
    qint64 deflate_bytes = 0; // of which to be deflated
    QStringList warnings;     // what was left out or packed differently, and why
};

// Walks the chosen files and folders, names as the system gives them, in
// bytes, handing each entry to on_entry as soon as it is found; nothing is
// kept per entry, so a walk of millions of files takes no more memory than
// one of a few. on_entry returning false stops the walk. Each chosen item
// sits at the archive's root under its own name (in *roots, which must stay
// put while its entries are used); a later item whose name is taken gets
// "name (2).ext". Inside chosen folders:
// - a link to a file is packed as the file it points to, with a warning when
//   that file lies outside the chosen items;
// - other links (to folders, dangling) are stored as links and not followed,
//   so nothing outside the chosen items comes in and no loop is possible; a
//   link that unpacking would refuse (absolute, or leading out of the packed
//   items) is left out with a warning;
// - sockets, pipes and devices are left out with a warning.
// Appends one line per problem to errors (which fail the run), with the system's reason.
using Planned_Entry = std::function<bool(const Pack_Entry &entry)>;
void plan_pack(const QList<QByteArray> &files, const QList<QByteArray> &folders, QStringList *errors,
               Job_Control &control, std::deque<Pack_Root> *roots, Plan_Totals *totals, const Planned_Entry &on_entry);

// The whole plan at once, for small trees.
struct Pack_Plan : Plan_Totals
{
    std::deque<Pack_Root> roots;
    std::deque<Pack_Entry> entries;
};
Pack_Plan plan_pack(const QList<QByteArray> &files, const QList<QByteArray> &folders, QStringList *errors,
                    Job_Control &control);
