#include "pack_planner.h"

#include "deflate_codec.h"
#include "free_name.h"
#include "job_control.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

constexpr qint64 sample_size = 64 * 1024;

quint32 unix_mode_of(const QFileInfo &info, bool is_dir)
{
    const QFile::Permissions p = info.permissions();
    quint32 mode = is_dir ? 0040000u : 0100000u;
    if (p & QFile::ReadOwner) mode |= 0400;
    if (p & QFile::WriteOwner) mode |= 0200;
    if (p & QFile::ExeOwner) mode |= 0100;
    if (p & QFile::ReadGroup) mode |= 0040;
    if (p & QFile::WriteGroup) mode |= 0020;
    if (p & QFile::ExeGroup) mode |= 0010;
    if (p & QFile::ReadOther) mode |= 0004;
    if (p & QFile::WriteOther) mode |= 0002;
    if (p & QFile::ExeOther) mode |= 0001;
    return mode;
}

// Deflating random data costs time and gains nothing: a quick look at the
// file's start tells media and archives from text.
bool looks_compressible(const QString &path, qint64 size)
{
    if (size < sample_size)
        return true;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return true; // the read error is reported when the file is packed
    const QByteArray sample = file.read(sample_size);
    if (sample.isEmpty())
        return true;
    return quick_compressed_size(sample.constData(), sample.size()) * 100 < qint64(sample.size()) * 95;
}

#ifdef Q_OS_UNIX
qint64 ns_of(const struct timespec &t)
{
    return qint64(t.tv_sec) * 1000000000 + t.tv_nsec;
}
#endif

// Size, modification time and identity of the file (links followed) as planned.
void stamp_entry(const QFileInfo &target, const QString &path, Pack_Entry *e)
{
    e->size = target.size();
    e->mtime = target.lastModified().toSecsSinceEpoch();
    e->mtime_ns = target.lastModified().toMSecsSinceEpoch() * 1000000;
#ifdef Q_OS_UNIX
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) == 0) {
        e->size = st.st_size;
        e->mtime = st.st_mtim.tv_sec;
        e->mtime_ns = ns_of(st.st_mtim);
        e->inode = st.st_ino;
    }
#else
    Q_UNUSED(path);
#endif
}

// A link's own target text, as a link entry stores it.
QByteArray link_target_of(const QString &path)
{
#ifdef Q_OS_UNIX
    QByteArray target(4096, Qt::Uninitialized);
    const ssize_t n = ::readlink(QFile::encodeName(path).constData(), target.data(), size_t(target.size()));
    target.truncate(n > 0 && n < target.size() ? qsizetype(n) : 0);
    return target;
#else
    const QFileInfo info(path);
    return QFile::encodeName(QDir(info.absolutePath()).relativeFilePath(info.symLinkTarget()));
#endif
}

QString special_kind(const QString &path)
{
#ifdef Q_OS_UNIX
    struct stat st;
    if (::lstat(QFile::encodeName(path).constData(), &st) == 0) {
        if (S_ISSOCK(st.st_mode))
            return QStringLiteral("socket");
        if (S_ISFIFO(st.st_mode))
            return QStringLiteral("pipe");
        if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode))
            return QStringLiteral("device");
    }
#else
    Q_UNUSED(path);
#endif
    return QStringLiteral("special file");
}

class Planner
{
public:
    Planner(QStringList *errors, Job_Control *control) : errors(errors), control(control) {}

    Pack_Plan plan;

    void add_top(const QString &path)
    {
        const QFileInfo info(path);
        if (!info.exists()) {
            errors->append(QStringLiteral("%1: no such file or folder").arg(path));
            return;
        }
        // A chosen folder is followed even when it is itself a link: the user picked it.
        const bool is_dir = info.isDir();
        if (!is_dir && !info.isFile()) {
            errors->append(QStringLiteral("%1: not a regular file or folder").arg(path));
            return;
        }
        QString name = is_dir ? QDir(info.absoluteFilePath()).dirName() : info.fileName();
        if (name.isEmpty())
            name = QStringLiteral("root");
        QString unique = name;
        for (int n = 2; root_names.contains(unique); ++n)
            unique = numbered_name(name, n, is_dir);
        root_names.insert(unique);
        if (is_dir)
            add_folder(info, unique);
        else
            add_file(info, unique);
    }

private:
    QStringList *errors;
    Job_Control *control;
    QSet<QString> root_names;

    void add_file(const QFileInfo &info, const QString &name)
    {
        const QFileInfo target = info.isSymLink() ? QFileInfo(info.symLinkTarget()) : info;
        if (!target.isFile()) {
            plan.warnings.append(QStringLiteral("%1: left out: a %2 cannot be packed")
                                     .arg(info.filePath(), special_kind(info.filePath())));
            return;
        }
        if (!target.isReadable()) {
            errors->append(QStringLiteral("%1: cannot read the file (permission denied)").arg(info.filePath()));
            return;
        }
        Pack_Entry e;
        e.source_path = info.filePath();
        e.name = name.toUtf8();
        stamp_entry(target, e.source_path, &e);
        e.unix_mode = unix_mode_of(target, false);
        e.deflate = e.size > 0 && looks_compressible(e.source_path, e.size);
        plan.total_bytes += e.size;
        if (e.deflate)
            plan.deflate_bytes += e.size;
        plan.entries.push_back(std::move(e));
    }

    // Stored as the link itself (Unix link mode, the target as content), as zip -y does.
    void add_link(const QFileInfo &info, const QString &name)
    {
        Pack_Entry e;
        e.name = name.toUtf8();
        e.is_link = true;
        e.link_target = link_target_of(info.filePath());
        if (e.link_target.isEmpty()) {
            errors->append(QStringLiteral("%1: cannot read the link").arg(info.filePath()));
            return;
        }
        e.size = e.link_target.size();
        e.unix_mode = 0120777;
#ifdef Q_OS_UNIX
        struct stat st;
        if (::lstat(QFile::encodeName(info.filePath()).constData(), &st) == 0)
            e.mtime = st.st_mtim.tv_sec;
#endif
        plan.entries.push_back(std::move(e));
    }


    void add_folder(const QFileInfo &info, const QString &name)
    {
        if (control && control->is_cancelled())
            return;
        Pack_Entry e;
        e.name = (name + QLatin1Char('/')).toUtf8();
        e.is_dir = true;
        e.mtime = info.lastModified().toSecsSinceEpoch();
        e.unix_mode = unix_mode_of(info, true);
        plan.entries.push_back(std::move(e));

        if (!info.isReadable() || !info.isExecutable()) {
            errors->append(QStringLiteral("%1: cannot read the folder (permission denied)").arg(info.filePath()));
            return;
        }
        add_children(info, name);
    }

    void add_children(const QFileInfo &info, const QString &name)
    {
        const QDir dir(info.filePath());
        const QFileInfoList children = dir.entryInfoList(
            QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System, QDir::Name);
        for (const QFileInfo &child : children) {
            const QString child_name = name + QLatin1Char('/') + child.fileName();
            if (child.isSymLink()) {
                // Only links to files are followed: other links are stored as
                // links, which keeps out anything from outside the chosen
                // items and rules out loops.
                if (QFileInfo(child.symLinkTarget()).isFile())
                    add_file(child, child_name);
                else
                    add_link(child, child_name);
            } else if (child.isDir()) {
                add_folder(child, child_name);
            } else {
                add_file(child, child_name);
            }
        }
    }
};

} // namespace

QString changed_reason(const QString &path)
{
    return QStringLiteral("%1: the file changed while it was packed; pack it again when it is left alone").arg(path);
}

bool unchanged(const QFile &file, const Pack_Entry &e)
{
#ifdef Q_OS_UNIX
    struct stat st;
    return ::fstat(file.handle(), &st) == 0 && st.st_size == e.size && ns_of(st.st_mtim) == e.mtime_ns
           && quint64(st.st_ino) == e.inode;
#else
    const QFileInfo now(e.source_path);
    return file.size() == e.size && now.lastModified().toMSecsSinceEpoch() * 1000000 == e.mtime_ns;
#endif
}

Pack_Plan plan_pack(const QStringList &files, const QStringList &folders, QStringList *errors,
                    Job_Control *control)
{
    Planner planner(errors, control);
    for (const QString &f : files)
        planner.add_top(f);
    for (const QString &f : folders)
        planner.add_top(f);
    return std::move(planner.plan);
}
