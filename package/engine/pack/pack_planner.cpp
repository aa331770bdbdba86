#include "pack/pack_planner.h"

#include "pack/deflate_codec.h"
#include "core/free_name.h"
#include "job_control.h"
#include "pack/input_file.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <cmath>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

constexpr qint64 sample_size = 64 * 1024;

// Bits per byte that the sample's byte frequencies alone call for.
double byte_entropy(const unsigned char *data, qint64 length)
{
    qint64 counts[256] = {};
    for (qint64 i = 0; i < length; ++i)
        ++counts[data[i]];
    double bits = 0;
    for (const qint64 c : counts)
        if (c > 0)
            bits -= double(c) * std::log2(double(c) / double(length));
    return bits / double(length);
}

// Deflating random data costs time and gains nothing: a quick look at the
// file's start tells media and archives from text. Below 7 bits per byte
// deflate's Huffman coding alone saves over a tenth, so only denser samples
// are test-compressed.
bool looks_compressible(const QString &path, qint64 size)
{
    if (size < sample_size)
        return true;
    Input_File file(path);
    if (!file.open())
        return true; // the read error is reported when the file is packed
    QByteArray sample(sample_size, Qt::Uninitialized);
    const qint64 n = file.read(sample.data(), sample_size);
    if (n <= 0 || byte_entropy(reinterpret_cast<const unsigned char *>(sample.constData()), n) < 7.0)
        return true;
    return quick_compressed_size(sample.constData(), n) * 100 < n * 95;
}

// What the planner needs to know of a path, in one system call where the
// system allows it: a real folder has tens of thousands of entries.
struct Node
{
    enum Kind { Missing, File, Folder, Link, Special } kind = Missing;
    const char *special = "special file"; // what a Special is, for the warning
    qint64 size = 0;
    qint64 mtime_ns = 0;
    quint32 permissions = 0; // rwx for owner, group and others
    quint64 inode = 0;
};

#ifdef Q_OS_UNIX
Node node_of(const QString &path, bool follow_link)
{
    Node n;
    struct stat st;
    const QByteArray native = QFile::encodeName(path);
    if ((follow_link ? ::stat(native.constData(), &st) : ::lstat(native.constData(), &st)) != 0)
        return n;
    n.kind = S_ISREG(st.st_mode) ? Node::File : S_ISDIR(st.st_mode) ? Node::Folder
           : S_ISLNK(st.st_mode)                                    ? Node::Link
                                                                    : Node::Special;
    n.special = S_ISSOCK(st.st_mode) ? "socket" : S_ISFIFO(st.st_mode) ? "pipe"
              : S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode)              ? "device"
                                                                        : "special file";
    n.size = st.st_size;
    n.mtime_ns = qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    n.permissions = st.st_mode & 0777;
    n.inode = st.st_ino;
    return n;
}

bool is_readable(const QString &path, bool folder)
{
    return ::access(QFile::encodeName(path).constData(), folder ? R_OK | X_OK : R_OK) == 0;
}

// A link's own target text, as a link entry stores it.
QByteArray link_target_of(const QString &path)
{
    QByteArray target(4096, Qt::Uninitialized);
    const ssize_t n = ::readlink(QFile::encodeName(path).constData(), target.data(), size_t(target.size()));
    target.truncate(n > 0 && n < target.size() ? qsizetype(n) : 0);
    return target;
}
#else
Node node_of(const QString &path, bool follow_link)
{
    Node n;
    const QFileInfo info(path);
    if (!follow_link && info.isSymLink())
        n.kind = Node::Link;
    else if (info.exists())
        n.kind = info.isDir() ? Node::Folder : info.isFile() ? Node::File : Node::Special;
    n.size = info.size();
    n.mtime_ns = info.lastModified().toMSecsSinceEpoch() * 1000000;
    const QFile::Permissions p = info.permissions();
    const QFile::Permission bits[] = {QFile::ExeOther, QFile::WriteOther, QFile::ReadOther,
                                      QFile::ExeGroup, QFile::WriteGroup, QFile::ReadGroup,
                                      QFile::ExeOwner, QFile::WriteOwner, QFile::ReadOwner};
    for (int i = 0; i < 9; ++i)
        if (p & bits[i])
            n.permissions |= 1u << i;
    return n;
}

bool is_readable(const QString &path, bool folder)
{
    const QFileInfo info(path);
    return info.isReadable() && (!folder || info.isExecutable());
}

QByteArray link_target_of(const QString &path)
{
    const QFileInfo info(path);
    return QFile::encodeName(QDir(info.absolutePath()).relativeFilePath(info.symLinkTarget()));
}
#endif

class Planner
{
public:
    Planner(QStringList *errors, Job_Control *control, Pack_Plan *plan, const Planned_File &on_file)
        : plan(*plan), errors(errors), control(control), on_file(on_file)
    {
    }

    Pack_Plan &plan;

    void add_top(const QString &path)
    {
        // A chosen folder or file is followed even when it is a link: the user picked it.
        const Node node = node_of(path, true);
        if (node.kind == Node::Missing) {
            errors->append(QStringLiteral("%1: no such file or folder").arg(path));
            return;
        }
        const bool is_dir = node.kind == Node::Folder;
        if (!is_dir && node.kind != Node::File) {
            errors->append(QStringLiteral("%1: not a regular file or folder").arg(path));
            return;
        }
        const QFileInfo info(path);
        QString name = is_dir ? QDir(info.absoluteFilePath()).dirName() : info.fileName();
        if (name.isEmpty())
            name = QStringLiteral("root");
        QString unique = name;
        for (int n = 2; root_names.contains(unique); ++n)
            unique = numbered_name(name, n, is_dir);
        root_names.insert(unique);
        if (is_dir)
            add_folder(path, node, unique);
        else
            add_file(path, node, unique);
    }

private:
    QStringList *errors;
    Job_Control *control;
    const Planned_File &on_file;
    QSet<QString> root_names;

    // node: the file itself, a link to it already followed.
    void add_file(const QString &path, const Node &node, const QString &name)
    {
        if (!is_readable(path, false)) {
            errors->append(QStringLiteral("%1: cannot read the file (permission denied)").arg(path));
            return;
        }
        Pack_Entry e;
        e.source_path = path;
        e.name = name.toUtf8();
        e.size = node.size;
        e.mtime_ns = node.mtime_ns;
        e.mtime = node.mtime_ns / 1000000000;
        e.inode = node.inode;
        e.unix_mode = 0100000u | node.permissions;
        e.deflate = e.size > 0 && looks_compressible(path, e.size);
        plan.total_bytes += e.size;
        if (e.deflate)
            plan.deflate_bytes += e.size;
        plan.entries.push_back(std::move(e));
        if (on_file)
            on_file(plan.entries.back());
    }

    // Stored as the link itself (Unix link mode, the target as content), as zip -y does.
    void add_link(const QString &path, const Node &node, const QString &name)
    {
        Pack_Entry e;
        e.name = name.toUtf8();
        e.is_link = true;
        e.link_target = link_target_of(path);
        if (e.link_target.isEmpty()) {
            errors->append(QStringLiteral("%1: cannot read the link").arg(path));
            return;
        }
        e.size = e.link_target.size();
        e.unix_mode = 0120777;
        e.mtime = node.mtime_ns / 1000000000;
        plan.entries.push_back(std::move(e));
    }

    void add_folder(const QString &path, const Node &node, const QString &name)
    {
        if (control && control->is_cancelled())
            return;
        Pack_Entry e;
        e.name = (name + QLatin1Char('/')).toUtf8();
        e.is_dir = true;
        e.mtime = node.mtime_ns / 1000000000;
        e.unix_mode = 0040000u | node.permissions;
        plan.entries.push_back(std::move(e));

        if (!is_readable(path, true)) {
            errors->append(QStringLiteral("%1: cannot read the folder (permission denied)").arg(path));
            return;
        }
        const QStringList children = QDir(path).entryList(
            QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System, QDir::Name);
        for (const QString &child : children)
            add_child(path + QLatin1Char('/') + child, name + QLatin1Char('/') + child);
    }

    void add_child(const QString &path, const QString &name)
    {
        const Node node = node_of(path, false);
        switch (node.kind) {
        case Node::Link: {
            // Only links to files are followed: other links are stored as
            // links, which keeps out anything from outside the chosen items
            // and rules out loops.
            const Node target = node_of(path, true);
            if (target.kind == Node::File)
                add_file(path, target, name);
            else
                add_link(path, node, name);
            break;
        }
        case Node::Folder:
            add_folder(path, node, name);
            break;
        case Node::File:
            add_file(path, node, name);
            break;
        case Node::Special:
            plan.warnings.append(QStringLiteral("%1: left out: a %2 cannot be packed")
                                     .arg(path, QLatin1String(node.special)));
            break;
        case Node::Missing: // gone since the folder was listed
            errors->append(QStringLiteral("%1: no such file or folder").arg(path));
            break;
        }
    }
};

} // namespace

QString changed_reason(const QString &path)
{
    return QStringLiteral("%1: the file changed while it was packed; pack it again when it is left alone").arg(path);
}

void plan_pack(const QStringList &files, const QStringList &folders, QStringList *errors, Job_Control *control,
               Pack_Plan *plan, const Planned_File &on_file)
{
    Planner planner(errors, control, plan, on_file);
    for (const QString &f : files)
        planner.add_top(f);
    for (const QString &f : folders)
        planner.add_top(f);
}

Pack_Plan plan_pack(const QStringList &files, const QStringList &folders, QStringList *errors,
                    Job_Control *control)
{
    Pack_Plan plan;
    plan_pack(files, folders, errors, control, &plan, Planned_File());
    return plan;
}
