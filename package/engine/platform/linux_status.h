// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What the two Linux files share: a call's result as an errno value, the
// status of a path or descriptor in the engine's terms, and the times a
// change of time sets.

#include "platform/system.h"

#include <cerrno>

#include <sys/stat.h>

#include <cstring>
#include <vector>

#include <QByteArray>

#include <dirent.h>
#include <fcntl.h>
#include <climits>
#include <unistd.h>

namespace os {

// Only for measuring what flushing costs: see File::start_write_back().
inline bool flushing_disabled()
{
    static const bool disabled = qEnvironmentVariableIsSet("CORVANTA_NO_FLUSH");
    return disabled;
}

// 0, or the errno value of a call that returns 0 or -1.
inline int result_of(int rc)
{
    return rc == 0 ? 0 : errno;
}

inline Kind kind_of(mode_t mode)
{
    if (S_ISREG(mode))
        return Kind::File;
    if (S_ISDIR(mode))
        return Kind::Folder;
    if (S_ISLNK(mode))
        return Kind::Link;
    if (S_ISSOCK(mode))
        return Kind::Socket;
    if (S_ISFIFO(mode))
        return Kind::Pipe;
    return Kind::Device;
}

inline void fill(const struct stat &st, Status *out)
{
    out->kind = kind_of(st.st_mode);
    out->size = st.st_size;
    out->mtime_ns = qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    out->ctime_ns = qint64(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
    out->permissions = st.st_mode & 07777;
    out->inode = st.st_ino;
    out->device = st.st_dev;
    out->owner = st.st_uid;
    out->links = st.st_nlink;
}

// The access time too, as unzip sets it: FUSE file systems (exFAT on a USB
// stick) drop a change that leaves it out.
inline void times_for(qint64 mtime_s, timespec *times)
{
    times[0].tv_sec = time_t(mtime_s);
    times[0].tv_nsec = 0;
    times[1] = times[0];
}

// The target of the link name in the folder dir (AT_FDCWD: the current
// one); 0 or the errno value, ENAMETOOLONG when it does not fit a path.
inline int read_link_at(int dir, const char *name, QByteArray *target)
{
    QByteArray buffer(PATH_MAX, Qt::Uninitialized);
    const ssize_t n = ::readlinkat(dir, name, buffer.data(), size_t(buffer.size()));
    if (n < 0)
        return errno;
    if (n >= buffer.size())
        return ENAMETOOLONG;
    buffer.truncate(qsizetype(n));
    *target = buffer;
    return 0;
}

// The names in an open folder, without "." and ".."; closes it. 0 or the errno value.
inline int read_names(DIR *dir, std::vector<QByteArray> *names)
{
    int error = 0;
    for (;;) {
        errno = 0;
        const dirent *d = ::readdir(dir);
        if (!d) {
            error = errno;
            break;
        }
        if (std::strcmp(d->d_name, ".") != 0 && std::strcmp(d->d_name, "..") != 0)
            names->emplace_back(d->d_name);
    }
    ::closedir(dir);
    return error;
}

} // namespace os
