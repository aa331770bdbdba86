#include "platform/system.h"

#include <QList>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace os {

namespace {

int result_of(int rc)
{
    return rc == 0 ? 0 : errno;
}

Kind kind_of(mode_t mode)
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

void fill(const struct stat &st, Status *out)
{
    out->kind = kind_of(st.st_mode);
    out->size = st.st_size;
    out->mtime_ns = qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    out->ctime_ns = qint64(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
    out->permissions = st.st_mode & 07777;
    out->inode = st.st_ino;
    out->device = st.st_dev;
}

// The access time too, as unzip sets it: FUSE file systems (exFAT on a USB
// stick) drop a change that leaves it out.
void times_for(qint64 mtime_s, timespec *times)
{
    times[0].tv_sec = time_t(mtime_s);
    times[0].tv_nsec = 0;
    times[1] = times[0];
}

// Linking an unnamed file into place needs /proc, or the right to link by handle.
bool can_link_unnamed()
{
    static const bool can = ::access("/proc/self/fd", X_OK) == 0 || ::geteuid() == 0;
    return can;
}

} // namespace

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
    QByteArray buffer(PATH_MAX, Qt::Uninitialized);
    const ssize_t n = ::readlink(path.constData(), buffer.data(), size_t(buffer.size()));
    if (n < 0)
        return errno;
    if (n >= buffer.size())
        return ENAMETOOLONG;
    buffer.truncate(qsizetype(n));
    *target = buffer;
    return 0;
}

int list_folder(const Path &path, std::vector<QByteArray> *names)
{
    DIR *dir = ::opendir(path.constData());
    if (!dir)
        return errno;
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

int check_readable(const Path &path, bool folder)
{
    return result_of(::access(path.constData(), folder ? R_OK | X_OK : R_OK));
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

int make_symlink(const QByteArray &target, const Path &path)
{
    return result_of(::symlink(target.constData(), path.constData()));
}

int set_time(const Path &path, qint64 mtime_s)
{
    timespec times[2];
    times_for(mtime_s, times);
    return result_of(::utimensat(AT_FDCWD, path.constData(), times, AT_SYMLINK_NOFOLLOW));
}

int set_permissions(const Path &path, quint32 permissions)
{
    return result_of(::chmod(path.constData(), mode_t(permissions)));
}

int link_file(const Path &from, const Path &to)
{
    return result_of(::link(from.constData(), to.constData()));
}

int rename_no_replace(const Path &from, const Path &to)
{
    return result_of(::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE));
}

int rename_file(const Path &from, const Path &to)
{
    return result_of(::rename(from.constData(), to.constData()));
}

int free_space(const Path &path, qint64 *bytes)
{
    struct statvfs st;
    if (::statvfs(path.constData(), &st) != 0)
        return errno;
    *bytes = qint64(st.f_bavail) * qint64(st.f_frsize);
    return 0;
}

int sync_file_system(const Path &path)
{
    File folder;
    if (const int error = folder.open_folder(path))
        return error;
    return folder.sync_file_system();
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

int File::create_unnamed(const Path &folder)
{
    close();
    if (!can_link_unnamed())
        return EOPNOTSUPP;
    fd = ::open(folder.constData(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
    return fd < 0 ? errno : 0;
}

int File::create_new(const Path &path)
{
    close();
    fd = ::open(path.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
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

int File::link_unnamed(const Path &path)
{
    const QByteArray self = "/proc/self/fd/" + QByteArray::number(fd);
    if (::linkat(AT_FDCWD, self.constData(), AT_FDCWD, path.constData(), AT_SYMLINK_FOLLOW) == 0)
        return 0;
    if (errno != ENOENT || ::access("/proc/self/fd", X_OK) == 0)
        return errno;
    return result_of(::linkat(fd, "", AT_FDCWD, path.constData(), AT_EMPTY_PATH));
}

} // namespace os
