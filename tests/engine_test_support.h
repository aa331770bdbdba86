// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Helpers shared by the engine tests: building archives (also hostile ones)
// with libzip and turning them into containers.

#include "container/kvx_cipher.h"
#include "container_reader.h"
#include "job_control.h"
#include "package_pipeline.h"
#include "platform/system.h"
#include "remove_tree.h"

#include <QDir>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <zip.h>

#include <functional>
#include <memory>
#include <vector>

#include <csignal>

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <utime.h>

namespace test_support {

// The sanitizers make work on gigabytes take many minutes: the builds with
// them check the same code on smaller inputs.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool under_sanitizer = true;
#else
constexpr bool under_sanitizer = false;
#endif

inline QByteArray read_all(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Makes the missing parent folders too.
inline bool write_file(const QString &path, const QByteArray &data)
{
    QFile f(path);
    return QDir().mkpath(QFileInfo(path).absolutePath()) && f.open(QIODevice::WriteOnly | QIODevice::Truncate)
        && f.write(data) == data.size();
}

// The names in a folder, hidden ones too.
inline QStringList entries(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
}

// A file named in the system's bytes, for names that are not UTF-8.
inline bool write_raw(const QByteArray &path, const QByteArray &data)
{
    QFile f;
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    return fd >= 0 && f.open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle) && f.write(data) == data.size();
}

// A scratch folder for one test class; mixed into the class after QObject.
struct Scratch
{
    // Without it paths would land in the current folder.
    Scratch() { if (!dir.isValid()) qFatal("no scratch folder: %s", qPrintable(dir.errorString())); }
    ~Scratch() { remove_tree(dir.path()); }
    QTemporaryDir dir;
    QString path(const QString &rel) const { return QDir(dir.path()).filePath(rel); }
    // rel may also be absolute.
    void make_file(const QString &rel, const QByteArray &data) { QVERIFY(write_file(path(rel), data)); }
    // The tree as tree() gives it, made under rel.
    void make_tree(const QString &rel, const QMap<QString, QByteArray> &tree)
    {
        for (auto it = tree.cbegin(); it != tree.cend(); ++it)
            if (it.value() == "/")
                QVERIFY(QDir().mkpath(path(rel + '/' + it.key())));
            else
                make_file(rel + '/' + it.key(), it.value());
    }
    // A file of size bytes that takes no room.
    void make_sparse(const QString &rel, qint64 size)
    {
        QFile f(path(rel));
        QVERIFY(QDir().mkpath(QFileInfo(f).absolutePath()) && f.open(QIODevice::WriteOnly) && f.resize(size));
    }
};

// For runs repeated by the thousand: where the disk does not slow them down.
struct Memory_Scratch
{
    QTemporaryDir dir{QDir("/dev/shm").exists() ? "/dev/shm/corvanta-test-XXXXXX" : QDir::tempPath() + "/corvanta-test-XXXXXX"};
    QString path(const QString &rel) const { return dir.filePath(rel); }
};

inline QByteArray random_bytes(qsizetype size, quint32 seed)
{
    QRandomGenerator rng(seed);
    QByteArray out(size, Qt::Uninitialized);
    for (char &c : out)
        c = char(rng.bounded(256));
    return out;
}

struct Raw_Entry
{
    QByteArray name;        // stored as is, no encoding flag
    QByteArray data;
    bool is_dir = false;
    quint32 unix_mode = 0;  // with type bits; 0 leaves the attributes alone
    zip_uint8_t host = ZIP_OPSYS_UNIX; // who made it: ZIP_OPSYS_DOS for a Windows tool's entry
};

// Writes a zip archive exactly as described by the entries.
inline bool write_zip(const QString &path, const std::vector<Raw_Entry> &entries)
{
    int error = 0;
    zip_t *za = zip_open(QFile::encodeName(path).constData(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (!za)
        return false;
    for (const Raw_Entry &e : entries) {
        zip_int64_t index;
        if (e.is_dir) {
            index = zip_dir_add(za, e.name.constData(), ZIP_FL_ENC_RAW);
        } else {
            zip_source_t *source = zip_source_buffer(za, e.data.constData(), zip_uint64_t(e.data.size()), 0);
            index = zip_file_add(za, e.name.constData(), source, ZIP_FL_ENC_RAW);
            if (index < 0)
                zip_source_free(source);
        }
        if (index < 0) {
            zip_discard(za);
            return false;
        }
        if (e.unix_mode || e.host != ZIP_OPSYS_UNIX)
            zip_file_set_external_attributes(za, zip_uint64_t(index), 0, e.host, e.unix_mode << 16);
    }
    return zip_close(za) == 0;
}

inline QByteArray transformed(QByteArray data, Cipher_Direction direction)
{
    transform_chunks(reinterpret_cast<unsigned char *>(data.data()), data.size(), direction);
    return data;
}

// Turns a zip file into a container file.
inline bool make_container(const QString &zip_path, const QString &container_path)
{
    return write_file(container_path, transformed(read_all(zip_path), Cipher_Direction::Encrypt));
}

// Writes the entries as a container, by way of a zip that is removed again.
inline bool write_container(const QString &path, const std::vector<Raw_Entry> &entries)
{
    return write_zip(path + ".zip", entries) && make_container(path + ".zip", path) && QFile::remove(path + ".zip");
}

// Relative path -> content ("/" for folders, "-> target" for links, as the
// link holds it) of a tree, names in the system's bytes: a name that is not
// UTF-8 is kept exactly.
inline QMap<QByteArray, QByteArray> raw_tree(const QByteArray &root, const QByteArray &prefix = QByteArray())
{
    QMap<QByteArray, QByteArray> out;
    DIR *dir = ::opendir(root.constData());
    if (!dir)
        return out;
    while (const dirent *d = ::readdir(dir)) {
        const QByteArray name(d->d_name);
        if (name == "." || name == "..")
            continue;
        const QByteArray path = root + '/' + name, rel = prefix.isEmpty() ? name : prefix + '/' + name;
        struct stat st;
        if (::lstat(path.constData(), &st) != 0)
            continue;
        if (S_ISLNK(st.st_mode)) {
            char target[4096];
            const ssize_t n = ::readlink(path.constData(), target, sizeof target);
            out.insert(rel, "-> " + QByteArray(target, n > 0 ? int(n) : 0));
        } else if (S_ISDIR(st.st_mode)) {
            out.insert(rel, "/");
            out.insert(raw_tree(path, rel));
        } else {
            out.insert(rel, read_all(QFile::decodeName(path)));
        }
    }
    ::closedir(dir);
    return out;
}

// The same with names as text, and link targets relative to root as the
// system resolves them, for trees whose names are all UTF-8.
inline QMap<QString, QByteArray> tree(const QString &root)
{
    QMap<QString, QByteArray> out;
    const QMap<QByteArray, QByteArray> raw = raw_tree(QFile::encodeName(root));
    const QDir base(root);
    for (auto it = raw.cbegin(); it != raw.cend(); ++it) {
        const QString rel = QString::fromUtf8(it.key());
        if (it.value().startsWith("-> "))
            out.insert(rel, "-> " + base.relativeFilePath(QFileInfo(base.filePath(rel)).symLinkTarget()).toUtf8());
        else
            out.insert(rel, it.value());
    }
    return out;
}

// Permission bits (octal) and modification time of a file, folder or link.
inline QString mode_and_time(const QString &path)
{
    struct stat st = {};
    ::lstat(QFile::encodeName(path).constData(), &st);
    return QString::number(st.st_mode & 07777, 8) + QLatin1Char(' ') + QString::number(qint64(st.st_mtime));
}

inline void set_mode_and_time(const QString &path, mode_t mode, time_t when)
{
    const utimbuf times = {when, when};
    QVERIFY(::chmod(QFile::encodeName(path).constData(), mode) == 0);
    QVERIFY(::utime(QFile::encodeName(path).constData(), &times) == 0);
}

// While it lives, files of this process cannot grow past limit bytes: a
// write is cut short at the limit and the next one fails with EFBIG, as
// writes fail on a full disk (with ENOSPC there).
class File_Size_Limit
{
public:
    explicit File_Size_Limit(qint64 limit)
    {
        ::getrlimit(RLIMIT_FSIZE, &saved);
        previous = std::signal(SIGXFSZ, SIG_IGN);
        const rlimit low = {rlim_t(limit), saved.rlim_max};
        ::setrlimit(RLIMIT_FSIZE, &low);
    }
    ~File_Size_Limit()
    {
        ::setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, previous);
    }

private:
    rlimit saved{};
    void (*previous)(int) = nullptr;
};

// A named pipe: a special file that no archive can hold.
inline bool make_pipe(const QString &path)
{
    return ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0;
}

// Our temporary files and folders left anywhere under root.
inline QStringList leftovers(const QString &root)
{
    QStringList out;
    for (const QString &rel : tree(root).keys()) {
        const QString name = rel.section(QLatin1Char('/'), -1);
        if (name.startsWith(QLatin1String(".corvanta")) || name.endsWith(QLatin1String(".part")))
            out.append(rel);
    }
    return out;
}

#ifdef CORVANTA_CLI_PATH
// A run of corvanta-cli: its exit code (-1 when a signal ended it), output and errors.
struct Cli_Run
{
    int exit_code = -1;
    QString out, err;
};

// Started, not waited for; env adds NAME=value settings, in_child runs in the
// child just before the program.
inline std::unique_ptr<QProcess> start_cli(const QStringList &args, const QString &working_dir,
                                           const QStringList &env = {}, std::function<void()> in_child = {})
{
    auto p = std::make_unique<QProcess>();
    p->setWorkingDirectory(working_dir);
    QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
    for (const QString &setting : env)
        e.insert(setting.section('=', 0, 0), setting.section('=', 1));
    p->setProcessEnvironment(e);
    if (in_child)
        p->setChildProcessModifier(in_child);
    p->start(QStringLiteral(CORVANTA_CLI_PATH), args);
    return p;
}

// Given input on its standard input, then waited for; killed when it hangs.
inline Cli_Run finish_cli(QProcess &p, const QByteArray &input = {})
{
    p.write(input);
    p.closeWriteChannel();
    if (!p.waitForFinished(300000)) {
        p.kill();
        p.waitForFinished();
    }
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, QString::fromLocal8Bit(p.readAllStandardOutput()),
            QString::fromLocal8Bit(p.readAllStandardError())};
}

inline Cli_Run run_cli(const QStringList &args, const QString &working_dir, const QByteArray &input = {},
                       const QStringList &env = {}, std::function<void()> in_child = {})
{
    return finish_cli(*start_cli(args, working_dir, env, std::move(in_child)), input);
}
#endif

} // namespace test_support
