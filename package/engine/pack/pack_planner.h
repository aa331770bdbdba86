#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <deque>
#include <functional>

#include "pack/input_file.h"
#include "platform/system.h"

class Job_Control;

// One entry of the archive to be written.
struct Pack_Entry
{
    os::Path source_path;  // empty for folders and links
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

struct Pack_Plan
{
    std::deque<Pack_Entry> entries; // a deque: entries keep their places as more are added
    qint64 total_bytes = 0;      // bytes of file content to read
    qint64 deflate_bytes = 0;    // of which to be deflated
    QStringList warnings;        // what was left out or packed differently, and why
};

// Walks the chosen files and folders, names as the system gives them, in
// bytes. Each chosen item sits at the archive's root under its own name; a
// later item whose name is taken gets "name (2).ext". Inside chosen folders:
// - a link to a file is packed as the file it points to, with a warning when
//   that file lies outside the chosen items;
// - other links (to folders, dangling) are stored as links and not followed,
//   so nothing outside the chosen items comes in and no loop is possible; a
//   link that unpacking would refuse (absolute, or leading out of the packed
//   items) is left out with a warning;
// - sockets, pipes and devices are left out with a warning.
// Appends one line per problem to errors (which fail the run), with the system's reason.
Pack_Plan plan_pack(const QList<QByteArray> &files, const QList<QByteArray> &folders, QStringList *errors,
                    Job_Control &control);
// The same into *plan, calling on_file for each file as soon as it is in the
// plan, where it stays: work on it can start while the walk goes on.
using Planned_File = std::function<void(const Pack_Entry &)>;
void plan_pack(const QList<QByteArray> &files, const QList<QByteArray> &folders, QStringList *errors,
               Job_Control &control, Pack_Plan *plan, const Planned_File &on_file);

QString changed_reason(const os::Path &path);
