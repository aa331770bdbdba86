// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/system.h"

#include "platform/linux_status.h"

#include <cerrno>
#include <climits>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <unistd.h>

// os::Folder on Linux: every call relative to the folder's descriptor.

namespace os {

namespace {

int stat_result(int rc, const struct stat &st, Status *out)
{
    if (rc != 0) {
        *out = Status();
        return errno;
    }
    fill(st, out);
    return 0;
}

} // namespace

quint32 user_id()
{
    return quint32(::geteuid());
}

Folder &Folder::operator=(Folder &&other) noexcept
{
    if (this != &other) {
        close();
        fd = other.fd;
        other.fd = -1;
    }
    return *this;
}

void Folder::close()
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

int Folder::open(const Path &path)
{
    close();
    fd = ::open(path.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    return fd < 0 ? errno : 0;
}

int Folder::open_in(const Folder &parent, const QByteArray &name)
{
    close();
    fd = ::openat(parent.fd, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    return fd < 0 ? errno : 0;
}

int Folder::status(Status *out) const
{
    struct stat st;
    return stat_result(::fstat(fd, &st), st, out);
}

int Folder::status_of(const QByteArray &name, Status *out) const
{
    struct stat st;
    return stat_result(::fstatat(fd, name.constData(), &st, AT_SYMLINK_NOFOLLOW), st, out);
}

int Folder::status_below(const Path &relative, Status *out) const
{
    // Resolved without following any link on the way, and never above this folder.
    open_how how{};
    how.flags = O_PATH | O_NOFOLLOW | O_CLOEXEC;
    how.resolve = RESOLVE_NO_SYMLINKS | RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
    const long found = ::syscall(SYS_openat2, fd, relative.constData(), &how, sizeof how);
    if (found < 0 && errno == ENOSYS) { // kernels before 5.6: links on the way are followed
        struct stat st;
        return stat_result(::fstatat(fd, relative.constData(), &st, AT_SYMLINK_NOFOLLOW), st, out);
    }
    if (found < 0) {
        *out = Status();
        return errno;
    }
    struct stat st;
    const int rc = ::fstat(int(found), &st);
    const int error = stat_result(rc, st, out);
    ::close(int(found));
    return error;
}

int Folder::list(std::vector<QByteArray> *names) const
{
    // The stream takes a descriptor of its own, so this folder stays open.
    const int own = ::openat(fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (own < 0)
        return errno;
    DIR *dir = ::fdopendir(own);
    if (!dir) {
        const int error = errno;
        ::close(own);
        return error;
    }
    return read_names(dir, names);
}

int Folder::make_folder(const QByteArray &name) const
{
    return result_of(::mkdirat(fd, name.constData(), 0777));
}

int Folder::remove_folder(const QByteArray &name) const
{
    return result_of(::unlinkat(fd, name.constData(), AT_REMOVEDIR));
}

int Folder::remove_file(const QByteArray &name) const
{
    return result_of(::unlinkat(fd, name.constData(), 0));
}

int Folder::make_symlink(const QByteArray &target, const QByteArray &name) const
{
    return result_of(::symlinkat(target.constData(), fd, name.constData()));
}

int Folder::read_link(const QByteArray &name, QByteArray *target) const
{
    return read_link_at(fd, name.constData(), target);
}

int Folder::set_time_of(const QByteArray &name, qint64 mtime_s) const
{
    timespec times[2];
    times_for(mtime_s, times);
    return result_of(::utimensat(fd, name.constData(), times, AT_SYMLINK_NOFOLLOW));
}

int Folder::set_permissions(quint32 permissions) const
{
    return result_of(::fchmod(fd, mode_t(permissions)));
}

int Folder::set_time(qint64 mtime_s) const
{
    timespec times[2];
    times_for(mtime_s, times);
    return result_of(::futimens(fd, times));
}

int Folder::link_file(const QByteArray &from, const QByteArray &to) const
{
    return result_of(::linkat(fd, from.constData(), fd, to.constData(), 0));
}

int Folder::rename_no_replace(const QByteArray &from, const QByteArray &to) const
{
    return result_of(::renameat2(fd, from.constData(), fd, to.constData(), RENAME_NOREPLACE));
}

int Folder::rename_file(const QByteArray &from, const QByteArray &to) const
{
    return result_of(::renameat(fd, from.constData(), fd, to.constData()));
}

int Folder::free_space(qint64 *bytes) const
{
    struct statvfs st;
    if (::fstatvfs(fd, &st) != 0)
        return errno;
    *bytes = qint64(st.f_bavail) * qint64(st.f_frsize);
    return 0;
}

int Folder::sync_file_system() const
{
    return result_of(::syncfs(fd));
}

int Folder::sync() const
{
    if (flushing_disabled())
        return 0;
    return result_of(::fsync(fd));
}

} // namespace os
