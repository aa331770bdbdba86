// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/system.h"

#include "platform/linux_status.h"

#include <QList>

#include <algorithm>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <mutex>

#include <dirent.h>
#include <linux/magic.h>
#include <malloc.h>
#include <pthread.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

namespace os {

QString reason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

int status(const Path &path, bool follow_link, Status *out)
{
    struct stat st;
    const int rc = follow_link ? ::stat(path.constData(), &st) : ::lstat(path.constData(), &st);
    if (rc != 0) {
        *out = Status();
        return errno;
    }
    fill(st, out);
    return 0;
}

int read_link(const Path &path, QByteArray *target)
{
    return read_link_at(AT_FDCWD, path.constData(), target);
}

bool sizes_unknown(const Path &path)
{
    struct statfs fs;
    if (::statfs(path.constData(), &fs) != 0)
        return false;
    switch (fs.f_type) {
    case PROC_SUPER_MAGIC:
    case SYSFS_MAGIC:
    case DEBUGFS_MAGIC:
    case TRACEFS_MAGIC:
    case SECURITYFS_MAGIC:
    case 0x62656570: // configfs, which linux/magic.h does not name
    case CGROUP_SUPER_MAGIC:
    case CGROUP2_SUPER_MAGIC:
        return true;
    default:
        return false;
    }
}

int list_folder(const Path &path, std::vector<QByteArray> *names)
{
    DIR *dir = ::opendir(path.constData());
    if (!dir)
        return errno;
    return read_names(dir, names);
}

int make_folder(const Path &path)
{
    return result_of(::mkdir(path.constData(), 0777));
}

int remove_folder(const Path &path)
{
    return result_of(::rmdir(path.constData()));
}

int remove_file(const Path &path)
{
    return result_of(::unlink(path.constData()));
}

void adapt_to_memory_limit()
{
    static std::once_flag once;
    std::call_once(once, [] {
        rlimit limit{};
        if (::getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
            return;
        ::mallopt(M_ARENA_MAX, 1);
        // The engine's threads neither recurse nor keep large buffers on the stack.
        pthread_attr_t attributes;
        if (::pthread_attr_init(&attributes) == 0) {
            ::pthread_attr_setstacksize(&attributes, 1024 * 1024);
            ::pthread_setattr_default_np(&attributes);
            ::pthread_attr_destroy(&attributes);
        }
    });
}

int open_files_allowed()
{
    static const int allowed = [] {
        rlimit limit{};
        if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
            return 1024;
        if (limit.rlim_cur < limit.rlim_max) {
            rlimit raised = limit;
            raised.rlim_cur = std::min<rlim_t>(limit.rlim_max, 65536);
            if (raised.rlim_cur > limit.rlim_cur && ::setrlimit(RLIMIT_NOFILE, &raised) == 0)
                limit = raised;
        }
        return limit.rlim_cur == RLIM_INFINITY ? 65536 : int(std::min<rlim_t>(limit.rlim_cur, 65536));
    }();
    return allowed;
}

int canonical(const Path &path, Path *out)
{
    char *resolved = ::realpath(path.constData(), nullptr);
    if (!resolved)
        return errno;
    *out = QByteArray(resolved);
    std::free(resolved);
    return 0;
}

Path absolute_path(const Path &path)
{
    Path joined = path;
    if (!path.startsWith('/')) {
        char *here = ::getcwd(nullptr, 0);
        if (!here)
            return path;
        joined = QByteArray(here) + '/' + path;
        std::free(here);
    }
    // "." and empty parts go, ".." takes the part before it, as QDir::cleanPath does.
    QList<QByteArray> parts;
    for (const QByteArray &part : joined.split('/')) {
        if (part.isEmpty() || part == ".")
            continue;
        if (part == "..") {
            if (!parts.isEmpty())
                parts.removeLast();
            continue;
        }
        parts.append(part);
    }
    return '/' + parts.join('/');
}

} // namespace os
