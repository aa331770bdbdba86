// SPDX-License-Identifier: GPL-3.0-or-later
#include "pack/input_file.h"

#include "core/path_rules.h"

QString changed_reason(const os::Path &path)
{
    return QStringLiteral("%1: the file changed while it was packed; pack it again when it is left alone")
        .arg(display_path(path));
}

bool Input_File::open()
{
    // Non-blocking: a pipe put in the file's place fails the check after
    // opening instead of hanging the run.
    last_error = file.open_read(path);
    position = 0;
    return last_error == 0;
}

bool Input_File::seek(qint64 offset)
{
    position = offset;
    return true;
}

qint64 Input_File::read(char *data, qint64 length)
{
    // At its own position: the pieces of a big file are read side by side.
    const qint64 n = file.read_at(position, data, length, &last_error);
    if (n > 0)
        position += n;
    return n;
}

bool Input_File::is_as_planned(const File_Identity &e) const
{
    os::Status st;
    return file.status(&st) == 0 && st.kind == os::Kind::File && st.size == e.size && st.mtime_ns == e.mtime_ns
           && st.inode == e.inode;
}

QString Input_File::reason() const
{
    return QStringLiteral("%1: %2").arg(display_path(path), os::reason(last_error));
}
