#include "core/private_file.h"

#include <QDir>
#include <QMutex>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSet>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString system_reason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// Set in the environment, the named fallback is used even where unnamed
// files work: lets the fallback be checked on any system.
bool named_only()
{
    return qEnvironmentVariableIsSet("CORVANTA_NAMED_TEMPORARIES");
}

bool same_file(int fd, const QByteArray &path)
{
    struct stat a, b;
    return ::fstat(fd, &a) == 0 && ::lstat(path.constData(), &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Each folder is swept once per process, when the fallback first writes there.
void sweep_once(const QString &folder)
{
    static QMutex mutex;
    static QSet<QString> swept;
    {
        QMutexLocker lock(&mutex);
        if (swept.contains(folder))
            return;
        swept.insert(folder);
    }
    remove_abandoned_temporaries(folder);
}

} // namespace

Private_File::~Private_File()
{
    device.close();
    if (!hidden_path.isEmpty())
        ::unlink(QFile::encodeName(hidden_path).constData());
    if (fd >= 0)
        ::close(fd);
}

bool Private_File::create(const QString &folder, const QString &suffix, QString *reason)
{
    const QByteArray dir = QFile::encodeName(folder);
#ifdef O_TMPFILE
    // Linking an unnamed file into place needs /proc, or the right to link by handle.
    if (!named_only() && (::access("/proc/self/fd", X_OK) == 0 || ::geteuid() == 0))
        fd = ::open(dir.constData(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
#endif
    if (fd < 0) {
        sweep_once(folder);
        for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
            const QString path = QStringLiteral("%1/.corvanta-%2%3")
                                     .arg(folder)
                                     .arg(QRandomGenerator::global()->generate64(), 16, 16, QLatin1Char('0'))
                                     .arg(suffix);
            const QByteArray name = QFile::encodeName(path);
            fd = ::open(name.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (fd < 0) {
                if (errno == EEXIST)
                    continue;
                *reason = system_reason(errno);
                return false;
            }
            // The lock marks the file as alive until this process ends. A sweep
            // that got in before the lock removed it: take another name.
            ::flock(fd, LOCK_EX);
            if (same_file(fd, name)) {
                hidden_path = path;
            } else {
                ::close(fd);
                fd = -1;
            }
        }
        if (fd < 0) {
            *reason = QStringLiteral("no free temporary name");
            return false;
        }
    }
    if (!device.open(fd, QIODevice::ReadWrite | QIODevice::Unbuffered, QFileDevice::DontCloseHandle)) {
        *reason = device.errorString();
        return false;
    }
    return true;
}

bool Private_File::publish(const QString &path, bool *taken, QString *reason)
{
    *taken = false;
    const QByteArray target = QFile::encodeName(path);
    int result;
    if (hidden_path.isEmpty()) {
        // An unnamed file: link it by its handle; the link fails if the name exists.
        const QByteArray self = "/proc/self/fd/" + QByteArray::number(fd);
        result = ::linkat(AT_FDCWD, self.constData(), AT_FDCWD, target.constData(), AT_SYMLINK_FOLLOW);
#ifdef AT_EMPTY_PATH
        if (result != 0 && errno == ENOENT && ::access("/proc/self/fd", X_OK) != 0)
            result = ::linkat(fd, "", AT_FDCWD, target.constData(), AT_EMPTY_PATH);
#endif
    } else {
        const QByteArray hidden = QFile::encodeName(hidden_path);
        result = ::link(hidden.constData(), target.constData());
#ifdef RENAME_NOREPLACE
        // File systems without hard links may still rename without replacing.
        if (result != 0 && errno != EEXIST)
            result = ::renameat2(AT_FDCWD, hidden.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE);
#endif
        if (result != 0 && (errno == EINVAL || errno == ENOSYS || errno == EPERM || errno == EOPNOTSUPP)) {
            // Neither is there: claim the name with an empty file of our own,
            // then replace only that.
            const int claim = ::open(target.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (claim >= 0) {
                ::close(claim);
                result = ::rename(hidden.constData(), target.constData());
                if (result != 0) {
                    const int saved = errno;
                    ::unlink(target.constData());
                    errno = saved;
                }
            } else {
                result = -1;
            }
        }
        if (result == 0)
            ::unlink(hidden.constData()); // gone already after a rename
    }
    if (result != 0) {
        *taken = errno == EEXIST;
        *reason = system_reason(errno);
        return false;
    }
    hidden_path.clear();
    return true;
}

void remove_abandoned_temporaries(const QString &folder)
{
    static const QRegularExpression ours(QStringLiteral("^\\.corvanta-[0-9a-f]{16}\\."));
    const QStringList names = QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System);
    for (const QString &name : names) {
        if (!ours.match(name).hasMatch())
            continue;
        const QByteArray path = QFile::encodeName(folder + QLatin1Char('/') + name);
        const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
        if (fd < 0)
            continue;
        // A living run holds its lock; only an abandoned file can be locked.
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && same_file(fd, path))
            ::unlink(path.constData());
        ::close(fd);
    }
}
