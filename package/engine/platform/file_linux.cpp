// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/system.h"

#include "platform/linux_status.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

// os::File on Linux; the path-based calls are in system_linux.cpp.

namespace os {

namespace {

// Linking an unnamed file into place needs /proc, or the right to link by handle.
bool can_link_unnamed()
{
    static const bool can = ::access("/proc/self/fd", X_OK) == 0 || ::geteuid() == 0;
    return can;
}

} // namespace

File &File::operator=(File &&other) noexcept
{
    if (this != &other) {
        close();
        fd = other.fd;
        other.fd = -1;
    }
    return *this;
}

int File::close()
{
    if (fd < 0)
        return 0;
    const int rc = ::close(fd);
    fd = -1;
    // After close() the descriptor is gone whatever it says; EINTR is no data loss on Linux.
    return rc == 0 || errno == EINTR ? 0 : errno;
}

int File::duplicate(File *out) const
{
    out->close();
    out->fd = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    return out->fd < 0 ? errno : 0;
}

int File::open_read(const Path &path)
{
    close();
    fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    return fd < 0 ? errno : 0;
}

int File::open_folder(const Path &path)
{
    close();
    fd = ::open(path.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    return fd < 0 ? errno : 0;
}

int File::create_new(const Path &path)
{
    close();
    fd = ::open(path.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
    return fd < 0 ? errno : 0;
}

int File::open_read_in(const Folder &folder, const QByteArray &name)
{
    close();
    fd = ::openat(folder.fd, name.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW);
    return fd < 0 ? errno : 0;
}

int File::create_unnamed_in(const Folder &folder)
{
    close();
    if (!can_link_unnamed())
        return EOPNOTSUPP;
    fd = ::openat(folder.fd, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
    return fd < 0 ? errno : 0;
}

int File::create_new_in(const Folder &folder, const QByteArray &name)
{
    close();
    fd = ::openat(folder.fd, name.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
    return fd < 0 ? errno : 0;
}

qint64 File::read(char *data, qint64 length, int *error)
{
    for (;;) {
        const ssize_t n = ::read(fd, data, size_t(length));
        if (n >= 0)
            return qint64(n);
        if (errno != EINTR) {
            *error = errno;
            return -1;
        }
    }
}

qint64 File::read_at(qint64 offset, char *data, qint64 length, int *error)
{
    for (;;) {
        const ssize_t n = ::pread(fd, data, size_t(length), off_t(offset));
        if (n >= 0)
            return qint64(n);
        if (errno != EINTR) {
            *error = errno;
            return -1;
        }
    }
}

int File::write_all(const char *data, qint64 length)
{
    while (length > 0) {
        const ssize_t n = ::write(fd, data, size_t(length));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n < 0 ? errno : ENOSPC;
        data += n;
        length -= n;
    }
    return 0;
}

int File::write_all_at(qint64 offset, const char *data, qint64 length)
{
    while (length > 0) {
        const ssize_t n = ::pwrite(fd, data, size_t(length), off_t(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n < 0 ? errno : ENOSPC;
        data += n;
        offset += n;
        length -= n;
    }
    return 0;
}

int File::truncate(qint64 size)
{
    return result_of(::ftruncate(fd, off_t(size)));
}

int File::status(Status *out) const
{
    struct stat st;
    if (::fstat(fd, &st) != 0)
        return errno;
    fill(st, out);
    return 0;
}

int File::sync_data()
{
    return result_of(::fdatasync(fd));
}

int File::sync_all()
{
    return result_of(::fsync(fd));
}

void File::start_write_back()
{
    if (flushing_disabled())
        return;
    ::sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE);
}

int File::finish_write_back()
{
    if (flushing_disabled())
        return 0;
    if (::sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER) == 0)
        return 0;
    return errno == EIO || errno == ENOSPC ? errno : sync_data();
}

int File::sync_file_system()
{
    return result_of(::syncfs(fd));
}

int File::set_permissions(quint32 permissions)
{
    return result_of(::fchmod(fd, mode_t(permissions)));
}

int File::set_time(qint64 mtime_s)
{
    timespec times[2];
    times_for(mtime_s, times);
    return result_of(::futimens(fd, times));
}

int File::lock(bool wait)
{
    for (;;) {
        if (::flock(fd, wait ? LOCK_EX : LOCK_EX | LOCK_NB) == 0)
            return 0;
        if (errno != EINTR)
            return errno;
    }
}

int File::link_unnamed_in(const Folder &folder, const QByteArray &name)
{
    const QByteArray self = "/proc/self/fd/" + QByteArray::number(fd);
    if (::linkat(AT_FDCWD, self.constData(), folder.fd, name.constData(), AT_SYMLINK_FOLLOW) == 0)
        return 0;
    if (errno != ENOENT || ::access("/proc/self/fd", X_OK) == 0)
        return errno;
    return result_of(::linkat(fd, "", folder.fd, name.constData(), AT_EMPTY_PATH));
}

} // namespace os
