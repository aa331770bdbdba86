#include "pack/input_file.h"

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

Input_File::Input_File(const QString &path) : path(path) {}

Input_File::~Input_File()
{
    if (fd >= 0)
        ::close(fd);
}

bool Input_File::open()
{
    // Non-blocking: a pipe put in the file's place fails the check after
    // opening instead of hanging the run.
    fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    last_error = fd < 0 ? errno : 0;
    return fd >= 0;
}

bool Input_File::seek(qint64 offset)
{
    if (offset == 0 || ::lseek(fd, off_t(offset), SEEK_SET) == off_t(offset))
        return true;
    last_error = errno;
    return false;
}

qint64 Input_File::read(char *data, qint64 length)
{
    for (;;) {
        const ssize_t n = ::read(fd, data, size_t(length));
        if (n >= 0)
            return qint64(n);
        if (errno != EINTR) {
            last_error = errno;
            return -1;
        }
    }
}

bool Input_File::is_as_planned(const File_Identity &e) const
{
    struct stat st;
    return ::fstat(fd, &st) == 0 && st.st_size == e.size
           && qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec == e.mtime_ns
           && quint64(st.st_ino) == e.inode;
}

QString Input_File::reason() const
{
    return QStringLiteral("%1: %2").arg(path, QString::fromLocal8Bit(std::strerror(last_error)));
}

#else

#include <QFileInfo>

Input_File::Input_File(const QString &path) : path(path), file(path) {}

Input_File::~Input_File() = default;

bool Input_File::open()
{
    return file.open(QIODevice::ReadOnly | QIODevice::Unbuffered);
}

bool Input_File::seek(qint64 offset)
{
    return file.seek(offset);
}

qint64 Input_File::read(char *data, qint64 length)
{
    return file.read(data, length);
}

bool Input_File::is_as_planned(const File_Identity &e) const
{
    return file.size() == e.size && QFileInfo(path).lastModified().toMSecsSinceEpoch() * 1000000 == e.mtime_ns;
}

QString Input_File::reason() const
{
    return QStringLiteral("%1: %2").arg(path, file.errorString());
}

#endif
