// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

#include <zip.h>

// One entry of an archive as list, test and unpacking all read it, so that
// they agree on what an entry is.
//
// Names: an entry made on Unix (or carrying a Unix file type, as this
// program's entries always do) names its path in bytes, written as they are;
// a backslash is part of a name. An entry made by a DOS or Windows tool
// without a Unix type is read as Windows names it: UTF-8 or GBK, backslashes
// as separators.
// Times: the extended timestamp (UTC seconds), else the NTFS time, else the
// DOS time read as local time.
// Modes: the Unix permission bits where the entry carries them, 000 included.
struct Archive_Entry
{
    enum class Kind { File, Folder, Link, Special };

    zip_uint64_t index = 0;
    QByteArray name;          // as stored
    QByteArray path;          // below the destination; empty when it must not be extracted
    Kind kind = Kind::File;
    bool windows_made = false;
    qint64 size = 0;
    qint64 compressed_size = 0;
    quint32 crc = 0;
    quint16 method = 0;
    bool encrypted = false;
    bool has_permissions = false;
    quint32 permissions = 0;  // the low nine bits only: never set-uid, set-gid or sticky
    bool has_time = false;
    qint64 mtime = 0;         // seconds since the epoch, UTC

    // The stored name for messages.
    QString display() const;
};

// False with *problem when libzip cannot tell about the entry.
bool read_archive_entry(zip_t *za, zip_uint64_t index, Archive_Entry *out, QString *problem);

// Why an entry cannot be unpacked as it stands (an empty string when it can):
// a name that leads outside the destination, a link whose target does, an
// encrypted entry, a compression method this program does not read.
// A special file (socket, pipe, device) is no fault; see is_left_out().
QString entry_problem(const Archive_Entry &entry);
// Entries that are skipped with a warning rather than unpacked: special files.
bool is_left_out(const Archive_Entry &entry);
