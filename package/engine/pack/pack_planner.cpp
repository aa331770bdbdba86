// SPDX-License-Identifier: GPL-3.0-or-later
#include "pack/pack_planner.h"

#include "core/free_name.h"
#include "core/path_rules.h"
#include "job_control.h"
#include "pack/deflate_codec.h"

#include <QHash>
#include <QSet>

#include <algorithm>
#include <cmath>

#include <sys/stat.h>

namespace {

constexpr qint64 sample_size = 64 * 1024;
constexpr qint64 ns_per_second = 1000000000;

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
bool looks_compressible(const os::Path &path, qint64 size)
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

const char *special_kind(os::Kind kind)
{
    return kind == os::Kind::Socket ? "socket" : kind == os::Kind::Pipe ? "pipe" : "device";
}

// The name a chosen item gets at the archive's root: its last part.
QByteArray root_name(const os::Path &path)
{
    QByteArray trimmed = path;
    while (trimmed.size() > 1 && trimmed.endsWith('/'))
        trimmed.chop(1);
    const QByteArray leaf = leaf_of(trimmed);
    return leaf.isEmpty() || leaf == "." || leaf == ".." ? QByteArray("root") : leaf;
}

class Planner
{
public:
    Planner(QStringList *errors, Job_Control &control, std::deque<Pack_Root> *roots, Plan_Totals *totals,
            const Planned_Entry &on_entry)
        : errors(errors), control(control), roots(*roots), totals(*totals), on_entry(on_entry)
    {
    }

    void add_top(const os::Path &path);
    bool stopped() const { return stop || control.is_cancelled(); }

private:
    QStringList *errors;
    Job_Control &control;
    std::deque<Pack_Root> &roots;
    Plan_Totals &totals;
    const Planned_Entry &on_entry;
    QSet<QByteArray> root_names;
    QList<os::Path> chosen; // canonical, for telling where a link leads
    QHash<quint64, bool> sizes_unknown_on; // by device: one look at each file system
    bool stop = false;

    void hand_on(Pack_Entry &e)
    {
        e.root = &roots.back();
        ++totals.entries;
        stop = stop || !on_entry(e);
    }
    void failed(const os::Path &path, const QString &what, int error)
    {
        errors->append(QStringLiteral("%1: %2%3").arg(display_path(path), what, os::reason(error)));
    }
    bool is_chosen(const os::Path &path) const;
    bool size_unknown(const os::Path &path, const os::Status &st);
    void add_file(const os::Path &path, const os::Status &st, const QByteArray &name);
    void add_link(const os::Path &path, const os::Status &st, const QByteArray &name);
    void add_folder(const os::Path &path, const os::Status &st, const QByteArray &name);
    void add_child(const os::Path &path, const QByteArray &name);
};

void Planner::add_top(const os::Path &path)
{
    // A chosen folder or file is followed even when it is a link: the user picked it.
    os::Status st;
    if (const int error = os::status(path, true, &st))
        return failed(path, QString(), error);
    const bool is_dir = st.kind == os::Kind::Folder;
    if (!is_dir && st.kind != os::Kind::File) {
        errors->append(QStringLiteral("%1: not a regular file or folder").arg(display_path(path)));
        return;
    }
    os::Path canonical;
    if (os::canonical(path, &canonical) == 0)
        chosen.append(canonical);
    const QByteArray name = root_name(path);
    QByteArray unique = name;
    for (int n = 2; root_names.contains(unique); ++n)
        unique = numbered_name(name, n, is_dir);
    root_names.insert(unique);
    roots.push_back({path, unique});
    if (is_dir)
        add_folder(path, st, unique);
    else
        add_file(path, st, unique);
}

bool Planner::is_chosen(const os::Path &path) const
{
    os::Path canonical;
    if (os::canonical(path, &canonical) != 0)
        return false;
    return std::any_of(chosen.cbegin(), chosen.cend(), [&](const os::Path &c) {
        return canonical == c || canonical.startsWith(c.endsWith('/') ? c : c + '/');
    });
}

bool Planner::size_unknown(const os::Path &path, const os::Status &st)
{
    const auto known = sizes_unknown_on.constFind(st.device);
    if (known != sizes_unknown_on.constEnd())
        return *known;
    return sizes_unknown_on[st.device] = os::sizes_unknown(path);
}

// st: the file itself, a link to it already followed.
void Planner::add_file(const os::Path &path, const os::Status &st, const QByteArray &name)
{
    // Whether it can be read shows when it is opened: a failure then fails the run with the reason.
    Pack_Entry e;
    e.source_path = path;
    e.name = name;
    // A size of 0 has the file packed as read (a /proc or /sys file's size is no promise).
    e.size = size_unknown(path, st) ? 0 : st.size;
    e.mtime_ns = st.mtime_ns;
    e.mtime = st.mtime_ns / ns_per_second;
    e.inode = st.inode;
    e.unix_mode = S_IFREG | (st.permissions & 0777);
    e.deflate = e.size > 0 && looks_compressible(path, e.size);
    totals.bytes += e.size;
    if (e.deflate)
        totals.deflate_bytes += e.size;
    hand_on(e);
}

// Stored as the link itself (Unix link mode, the target as content), as zip -y does.
void Planner::add_link(const os::Path &path, const os::Status &st, const QByteArray &name)
{
    Pack_Entry e;
    e.name = name;
    e.is_link = true;
    if (const int error = os::read_link(path, &e.link_target))
        return failed(path, QStringLiteral("cannot read the link: "), error);
    if (!link_target_is_safe(name, e.link_target)) {
        totals.warnings.append(QStringLiteral("%1: left out: a link to \"%2\", which leads outside the packed items, "
                                            "could not be unpacked")
                                 .arg(display_path(path), display_path(e.link_target)));
        return;
    }
    e.size = e.link_target.size();
    e.unix_mode = S_IFLNK | 0777;
    e.mtime = st.mtime_ns / ns_per_second;
    hand_on(e);
}

void Planner::add_folder(const os::Path &path, const os::Status &st, const QByteArray &name)
{
    if (stopped())
        return;
    Pack_Entry e;
    e.name = name + '/';
    e.is_dir = true;
    e.mtime = st.mtime_ns / ns_per_second;
    e.unix_mode = S_IFDIR | (st.permissions & 0777);
    hand_on(e);

    std::vector<QByteArray> children;
    if (const int error = os::list_folder(path, &children))
        return failed(path, QStringLiteral("cannot read the folder: "), error);
    std::sort(children.begin(), children.end());
    const os::Path prefix = path.endsWith('/') ? path : path + '/';
    for (const QByteArray &child : children)
        if (!stopped())
            add_child(prefix + child, name + '/' + child);
}

void Planner::add_child(const os::Path &path, const QByteArray &name)
{
    os::Status st;
    if (const int error = os::status(path, false, &st)) // gone since the folder was listed, or too deep
        return failed(path, QString(), error);
    switch (st.kind) {
    case os::Kind::Link: {
        // Only links to files are followed: other links are stored as links,
        // which keeps out folders from outside the chosen items and rules out loops.
        os::Status target;
        if (os::status(path, true, &target) == 0 && target.kind == os::Kind::File) {
            if (!is_chosen(path))
                totals.warnings.append(QStringLiteral("%1: a link to a file outside the chosen items; that file's "
                                                    "content is packed in its place")
                                         .arg(display_path(path)));
            add_file(path, target, name);
        } else {
            add_link(path, st, name);
        }
        break;
    }
    case os::Kind::Folder:
        add_folder(path, st, name);
        break;
    case os::Kind::File:
        add_file(path, st, name);
        break;
    default:
        totals.warnings.append(QStringLiteral("%1: left out: a %2 cannot be packed")
                                 .arg(display_path(path), QLatin1String(special_kind(st.kind))));
        break;
    }
}

} // namespace

void plan_pack(const QList<QByteArray> &files, const QList<QByteArray> &folders, QStringList *errors,
               Job_Control &control, std::deque<Pack_Root> *roots, Plan_Totals *totals, const Planned_Entry &on_entry)
{
    Planner planner(errors, control, roots, totals, on_entry);
    for (const os::Path &f : files + folders)
        if (!planner.stopped())
            planner.add_top(f);
}

Pack_Plan plan_pack(const QList<QByteArray> &files, const QList<QByteArray> &folders, QStringList *errors,
                    Job_Control &control)
{
    Pack_Plan plan;
    plan_pack(files, folders, errors, control, &plan.roots, &plan, [&](const Pack_Entry &e) {
        plan.entries.push_back(e);
        return true;
    });
    return plan;
}
