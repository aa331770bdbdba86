// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/system.h"

#include <QString>

// What the planner saw of a file: a file read later must still be this one.
struct File_Identity
{
    qint64 size = 0;
    qint64 mtime_ns = 0;
    quint64 inode = 0;
};

// "<path>: the file changed while it was packed ...": a file read for
// packing that is no longer the one the plan saw.
QString changed_reason(const os::Path &path);

// A chosen item: where it is, and the name it has at the archive's root.
struct Pack_Root
{
    os::Path source;
    QByteArray name;
};

// A file as packing reads it later: what the plan saw of it, and its name in
// the archive, from which its path follows. The name is libzip's own copy,
// which stays where it is while the archive is open, so nothing per file is
// kept twice.
struct Planned_File
{
    const Pack_Root *root = nullptr;
    const char *name = nullptr;
    File_Identity identity;
    bool deflate = false;
    qint32 job = -1; // a deflated file's job in the deflate pool, once it is one

    os::Path path() const { return root->source + QByteArray(name + root->name.size()); }
};

// A planned file, read for packing through a plain descriptor: a folder of
// many small files costs more in status calls than in reading, so there are
// no more than opening and one check needs.
class Input_File
{
public:
    explicit Input_File(const os::Path &path) : path(path) {}

    bool open();
    bool seek(qint64 offset);
    // The bytes read, 0 at the end, -1 on a failure.
    qint64 read(char *data, qint64 length);
    // Still the file the plan saw: the same file, size and modification time.
    bool is_as_planned(const File_Identity &planned) const;
    // "<path>: <the system's reason>" for the last failure.
    QString reason() const;

private:
    os::Path path;
    os::File file;
    qint64 position = 0;
    int last_error = 0;
};
