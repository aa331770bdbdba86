#pragma once

#include "platform/system.h"

#include <QByteArray>
#include <QHash>
#include <QSet>

#include <vector>

class Extract_Log;

// The real folders an extraction writes into, by their path in the archive.
// An existing real folder is shared; a name taken by a file or a link gets a
// numbered name, so nothing is overwritten or written through a link.
// Only folders are remembered: their paths, and the times and modes their
// entries carry until the end, when files no longer change them.
class Extract_Folders
{
public:
    Extract_Folders(const os::Path &destination, Extract_Log &log) : destination(destination), log(log) {}

    struct Folder
    {
        os::Path path;         // empty when it could not be made
        bool created = false;  // by this run
    };

    // The folder at relative (made with its parents when missing); its path
    // is empty when it could not be made, which is reported.
    Folder folder_for(const QByteArray &relative);
    // A folder entry's own mode and time, restored by finish().
    void remember(const QByteArray &relative, bool has_permissions, quint32 permissions, bool has_time, qint64 mtime);
    // Modes and times of every folder entry, deepest first, the owner
    // keeping rwx so that what was unpacked can be opened and removed.
    // Failures are warnings: the content is there.
    void restore_modes_and_times();
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

    os::Path destination;
    Extract_Log &log;
    QHash<QByteArray, Folder> folders;
    QHash<QByteArray, Meta> metas;

    std::vector<std::pair<QByteArray, Folder>> deepest_first(bool created_only) const;
};
