#include "zip_extractor.h"

#include "deflate_codec.h"
#include "job_control.h"
#include "private_file.h"
#include "zip_packer.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <QStringDecoder>
#include <QThread>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <atomic>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace {

constexpr qint64 read_block = 256 * 1024;
constexpr qint64 max_link_length = 4096;
constexpr int max_numbered_names = 10000;

struct Entry
{
    zip_uint64_t index = 0;
    QString name;        // as decoded, for messages
    QString relative;    // below the destination
    bool is_dir = false;
    bool is_link = false;
    qint64 size = 0;
    qint64 comp_size = 0;
    qint64 mtime = -1;
    quint32 mode = 0;    // Unix permission bits, 0 when the archive has none
    QString parent;      // resolved folder, absolute
};

QFile::Permissions permissions_of(quint32 mode)
{
    QFile::Permissions p;
    if (mode & 0400) p |= QFile::ReadOwner | QFile::ReadUser;
    if (mode & 0200) p |= QFile::WriteOwner | QFile::WriteUser;
    if (mode & 0100) p |= QFile::ExeOwner | QFile::ExeUser;
    if (mode & 0040) p |= QFile::ReadGroup;
    if (mode & 0020) p |= QFile::WriteGroup;
    if (mode & 0010) p |= QFile::ExeGroup;
    if (mode & 0004) p |= QFile::ReadOther;
    if (mode & 0002) p |= QFile::WriteOther;
    if (mode & 0001) p |= QFile::ExeOther;
    return p;
}

bool is_inside(const QString &root, const QString &path)
{
    const QStringList r = QDir::cleanPath(root).split(QLatin1Char('/'));
    const QStringList p = QDir::cleanPath(path).split(QLatin1Char('/'));
    if (p.size() <= r.size())
        return false;
    for (qsizetype i = 0; i < r.size(); ++i)
        if (r[i] != p[i])
            return false;
    return true;
}

// A link may point anywhere inside the destination: its target, resolved
// lexically from the link's own folder, must stay below the destination.
// Backslashes count as separators here, as they would on Windows. A ".."
// after a name is refused: the name may be another link, and climbing out of
// a link's target is not what the lexical reading assumes.
bool link_target_is_safe(const QString &destination, const QString &folder, const QString &target)
{
    const QString slashed = QString(target).replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (target.isEmpty() || target.contains(QChar(0)) || QDir::isAbsolutePath(target)
        || slashed.startsWith(QLatin1Char('/')) || (slashed.size() >= 2 && slashed.at(1) == QLatin1Char(':')))
        return false;
    bool named = false;
    for (const QString &part : slashed.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        if (part == QLatin1String("..") && named)
            return false;
        named = named || (part != QLatin1String(".") && part != QLatin1String(".."));
    }
    return is_inside(destination, folder + QLatin1Char('/') + slashed);
}

void set_folder_time(const QString &path, qint64 mtime)
{
#ifdef Q_OS_UNIX
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = time_t(mtime);
    times[1].tv_nsec = 0;
    ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0);
#else
    Q_UNUSED(path);
    Q_UNUSED(mtime);
#endif
}

class Extractor
{
public:
    Extractor(const QString &destination, Job_Control *control, QStringList *errors)
        : destination(QDir::cleanPath(destination)), control(control), errors(errors)
    {
    }

    bool run(const std::function<zip_source_t *(QString *)> &open_source, qint64 progress_budget);

private:
    QString destination;
    Job_Control *control;
    QStringList *errors;
    std::mutex error_mutex;
    QHash<QString, QString> folders;          // relative -> absolute, empty when it failed
    std::vector<QString> created_folders;     // ours, so their times and modes are restored
    QHash<QString, const Entry *> folder_entries;
    double progress_scale = 1.0;

    bool cancelled() const { return control && control->is_cancelled(); }

    void report(const QString &line)
    {
        std::lock_guard<std::mutex> lock(error_mutex);
        errors->append(line);
    }

    zip_t *open_archive(const std::function<zip_source_t *(QString *)> &open_source);
    QString folder_for(const QString &relative);
    void extract_file(zip_t *za, const Entry &e, bool on_pipeline_thread);
    void make_link(zip_t *za, const Entry &e);
    void advance(qint64 units, bool on_pipeline_thread)
    {
        if (!control)
            return;
        const qint64 bytes = qint64(double(units) * progress_scale);
        if (on_pipeline_thread)
            control->advance(bytes);
        else
            control->add_done(bytes);
    }
};

zip_t *Extractor::open_archive(const std::function<zip_source_t *(QString *)> &open_source)
{
    QString reason;
    zip_source_t *source = open_source(&reason);
    if (!source) {
        report(QStringLiteral("cannot open: %1").arg(reason));
        return nullptr;
    }
    zip_error_t error;
    zip_error_init(&error);
    zip_t *za = zip_open_from_source(source, ZIP_RDONLY, &error);
    if (!za) {
        report(QStringLiteral("not a container, or damaged (%1)").arg(QString::fromUtf8(zip_error_strerror(&error))));
        zip_source_free(source);
    }
    zip_error_fini(&error);
    return za;
}

// Resolves an archive folder to a real folder under the destination, making
// it when needed. An existing real folder is shared; a name taken by a file or
// a link gets a numbered name, so nothing is overwritten or written through a link.
QString Extractor::folder_for(const QString &relative)
{
    if (relative.isEmpty())
        return destination;
    const auto found = folders.constFind(relative);
    if (found != folders.constEnd())
        return *found;
    const qsizetype slash = relative.lastIndexOf(QLatin1Char('/'));
    const QString parent = folder_for(slash < 0 ? QString() : relative.left(slash));
    if (parent.isEmpty()) {
        folders.insert(relative, QString());
        return QString();
    }
    const QString leaf = relative.mid(slash + 1);
    QString reason = QStringLiteral("no free name");
    for (int n = 1; n <= max_numbered_names; ++n) {
        const QString candidate = parent + QLatin1Char('/') + (n == 1 ? leaf : numbered_name(leaf, n, true));
        const QFileInfo info(candidate);
        if (info.isSymLink() || (info.exists() && !info.isDir()))
            continue;
        // Asked once: QFileInfo may answer from its cache after the mkdir.
        const bool existed = info.isDir();
        if (!existed && ::mkdir(QFile::encodeName(candidate).constData(), 0777) != 0) {
            if (errno != EEXIST) {
                reason = QString::fromLocal8Bit(std::strerror(errno));
                break;
            }
            // Another run made it just now: shared like any existing folder.
            const QFileInfo now(candidate);
            if (!now.isDir() || now.isSymLink())
                continue;
        } else if (!existed) {
            created_folders.push_back(candidate);
        }
        folders.insert(relative, candidate);
        return candidate;
    }
    report(QStringLiteral("%1: cannot create the folder: %2; its contents are not extracted").arg(relative, reason));
    folders.insert(relative, QString());
    return QString();
}

void Extractor::extract_file(zip_t *za, const Entry &e, bool on_pipeline_thread)
{
    Entry_Reader zf(za, e.index);
    if (!zf.is_open()) {
        report(QStringLiteral("%1: %2").arg(e.name, zf.error()));
        return;
    }
    // Written privately and given its name only when complete.
    Private_File temporary;
    QString reason;
    if (!temporary.create(e.parent, QStringLiteral(".part"), &reason)) {
        report(QStringLiteral("%1: cannot create the file in %2: %3").arg(e.name, e.parent, reason));
        return;
    }
    QFile &out = temporary.file();
    std::unique_ptr<char[]> buffer(new char[read_block]);
    qint64 written = 0;
    qint64 reported = 0;
    bool ok = true;
    for (;;) {
        if (cancelled()) {
            ok = false;
            break;
        }
        const qint64 n = zf.read(buffer.get(), read_block);
        if (n < 0) {
            report(QStringLiteral("%1: %2").arg(e.name, zf.error()));
            ok = false;
            break;
        }
        if (n == 0)
            break;
        if (out.write(buffer.get(), n) != n) {
            report(QStringLiteral("%1: write failed: %2").arg(e.name, out.errorString()));
            ok = false;
            break;
        }
        written += n;
        if (e.size > 0) {
            const qint64 units = e.comp_size * written / e.size;
            advance(units - reported, on_pipeline_thread);
            reported = units;
        }
    }
    const bool closed = zf.close();
    if (ok && !closed) {
        report(QStringLiteral("%1: %2").arg(e.name, zf.error()));
        ok = false;
    }
    if (ok && !out.flush()) {
        report(QStringLiteral("%1: write failed: %2").arg(e.name, out.errorString()));
        ok = false;
    }
    advance(e.comp_size - reported, on_pipeline_thread);
    if (!ok)
        return; // the temporary file goes with `temporary`
    if (e.mode != 0)
        out.setPermissions(permissions_of(e.mode));
    if (e.mtime >= 0)
        out.setFileTime(QDateTime::fromSecsSinceEpoch(e.mtime), QFileDevice::FileModificationTime);
    // Publishing never replaces a file, so claiming a name works across
    // threads and processes alike: a name taken gets the next number.
    const QString leaf = e.relative.section(QLatin1Char('/'), -1);
    for (int n = 1; n <= max_numbered_names; ++n) {
        const QString target = e.parent + QLatin1Char('/') + (n == 1 ? leaf : numbered_name(leaf, n, false));
        bool name_taken = false;
        if (temporary.publish(target, &name_taken, &reason))
            return;
        if (!name_taken) {
            report(QStringLiteral("%1: cannot save the file %2: %3").arg(e.name, target, reason));
            return;
        }
    }
    report(QStringLiteral("%1: cannot save the file: no free name").arg(e.name));
}

void Extractor::make_link(zip_t *za, const Entry &e)
{
    QByteArray target_bytes;
    if (e.size <= max_link_length) {
        if (zip_file_t *zf = zip_fopen_index(za, e.index, 0)) {
            target_bytes.resize(e.size);
            if (zip_fread(zf, target_bytes.data(), zip_uint64_t(e.size)) != e.size)
                target_bytes.clear();
            zip_fclose(zf);
        }
    }
    const QString target = decode_entry_name(target_bytes);
    if (!link_target_is_safe(destination, e.parent, target)) {
        report(QStringLiteral("%1: link to \"%2\" leads out of the destination; not extracted").arg(e.name, target));
        return;
    }
    const QString leaf = e.relative.section(QLatin1Char('/'), -1);
    const QByteArray target_name = QFile::encodeName(target);
    for (int n = 1; n <= max_numbered_names; ++n) {
        const QString path = e.parent + QLatin1Char('/') + (n == 1 ? leaf : numbered_name(leaf, n, false));
        if (::symlink(target_name.constData(), QFile::encodeName(path).constData()) == 0)
            return;
        if (errno != EEXIST)
            break;
    }
    report(QStringLiteral("%1: cannot create the link: %2").arg(e.name, QString::fromLocal8Bit(std::strerror(errno))));
}

bool Extractor::run(const std::function<zip_source_t *(QString *)> &open_source, qint64 progress_budget)
{
    const qsizetype errors_before = errors->size();
    zip_t *za = open_archive(open_source);
    if (!za)
        return false;

    std::vector<Entry> entries;
    const zip_int64_t count = zip_get_num_entries(za, 0);
    qint64 comp_total = 0;
    for (zip_int64_t i = 0; i < count; ++i) {
        zip_stat_t st;
        const char *raw = zip_get_name(za, zip_uint64_t(i), ZIP_FL_ENC_RAW);
        if (!raw || zip_stat_index(za, zip_uint64_t(i), ZIP_FL_ENC_RAW, &st) < 0) {
            report(QStringLiteral("entry %1: %2").arg(i).arg(QString::fromUtf8(zip_strerror(za))));
            continue;
        }
        Entry e;
        e.index = zip_uint64_t(i);
        e.name = decode_entry_name(QByteArray(raw));
        zip_uint8_t opsys = 0;
        zip_uint32_t attributes = 0;
        if (zip_file_get_external_attributes(za, e.index, 0, &opsys, &attributes) == 0 && opsys == ZIP_OPSYS_UNIX) {
            const quint32 mode = attributes >> 16;
            e.mode = mode & 0777; // never set-uid, set-gid or sticky
            e.is_link = (mode & 0170000) == 0120000;
            e.is_dir = (mode & 0170000) == 0040000;
        }
        const QString slashed = QString(e.name).replace(QLatin1Char('\\'), QLatin1Char('/'));
        e.is_dir = e.is_dir || slashed.endsWith(QLatin1Char('/'));
        e.size = (st.valid & ZIP_STAT_SIZE) ? qint64(st.size) : 0;
        e.comp_size = (st.valid & ZIP_STAT_COMP_SIZE) ? qint64(st.comp_size) : e.size;
        e.mtime = (st.valid & ZIP_STAT_MTIME) ? qint64(st.mtime) : -1;
        e.relative = safe_relative_path(e.name);
        comp_total += e.comp_size;
        if (e.relative.isEmpty() || !is_inside(destination, destination + QLatin1Char('/') + e.relative)) {
            // A bare "./" folder is harmless; anything else unsafe is refused.
            const bool harmless = e.is_dir && !slashed.contains(QStringLiteral(".."))
                                  && !slashed.startsWith(QLatin1Char('/')) && !slashed.contains(QLatin1Char(':'));
            if (!harmless)
                report(QStringLiteral("%1: unsafe name (outside the destination); not extracted").arg(e.name));
            continue;
        }
        entries.push_back(std::move(e));
    }
    progress_scale = comp_total > 0 ? double(progress_budget) / double(comp_total) : 0.0;

    // Folders first, on this thread, parents before children.
    std::vector<const Entry *> files;
    std::vector<const Entry *> links;
    QStringList folder_names;
    for (const Entry &e : entries) {
        if (e.is_dir) {
            folder_names.append(e.relative);
            folder_entries.insert(e.relative, &e);
        } else {
            const qsizetype slash = e.relative.lastIndexOf(QLatin1Char('/'));
            if (slash > 0)
                folder_names.append(e.relative.left(slash));
        }
    }
    folder_names.sort();
    for (const QString &f : folder_names)
        folder_for(f);
    for (Entry &e : entries) {
        if (e.is_dir) {
            advance(e.comp_size, true);
            continue;
        }
        const qsizetype slash = e.relative.lastIndexOf(QLatin1Char('/'));
        e.parent = folder_for(slash < 0 ? QString() : e.relative.left(slash));
        if (e.parent.isEmpty())
            continue;
        (e.is_link ? links : files).push_back(&e);
    }

    // Big files first so the two threads finish together; small ones in
    // archive order, which keeps reads from the container sequential.
    constexpr qint64 big = 1024 * 1024;
    std::stable_sort(files.begin(), files.end(), [](const Entry *a, const Entry *b) {
        const bool a_big = a->comp_size >= big, b_big = b->comp_size >= big;
        if (a_big != b_big)
            return a_big;
        return a_big && a->comp_size > b->comp_size;
    });
    std::atomic<size_t> next{0};
    auto work = [&](zip_t *handle, bool on_pipeline_thread) {
        for (size_t i; !cancelled() && (i = next.fetch_add(1)) < files.size();)
            extract_file(handle, *files[i], on_pipeline_thread);
    };
    std::thread helper;
    if (files.size() > 1 && QThread::idealThreadCount() > 1) {
        // The second thread reads through its own handle: libzip handles are not shared.
        helper = std::thread([&] {
            if (zip_t *second = open_archive(open_source)) {
                work(second, false);
                zip_discard(second);
            }
        });
    }
    work(za, true);
    if (helper.joinable())
        helper.join();

    for (const Entry *e : links)
        make_link(za, *e);
    zip_discard(za);

    // Folder times and modes last, deepest first, and only on folders made here.
    std::sort(created_folders.begin(), created_folders.end(),
              [](const QString &a, const QString &b) { return a.size() > b.size(); });
    QHash<QString, const Entry *> by_path;
    for (auto it = folder_entries.constBegin(); it != folder_entries.constEnd(); ++it)
        by_path.insert(folders.value(it.key()), it.value());
    for (const QString &path : created_folders) {
        const Entry *e = by_path.value(path);
        if (!e)
            continue;
        if (e->mode != 0)
            QFile::setPermissions(path, permissions_of(e->mode | 0700));
        if (e->mtime >= 0)
            set_folder_time(path, e->mtime);
    }
    if (cancelled())
        return false;
    return errors->size() == errors_before;
}

} // namespace

QString decode_entry_name(const QByteArray &raw)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString as_utf8 = utf8.decode(raw);
    if (!utf8.hasError())
        return as_utf8;
    QStringDecoder gbk("GBK", QStringDecoder::Flag::Stateless);
    if (gbk.isValid()) {
        const QString as_gbk = gbk.decode(raw);
        if (!gbk.hasError())
            return as_gbk;
    }
    return as_utf8; // replacement characters mark what could not be read
}

QString safe_relative_path(const QString &name)
{
    QString n = name;
    n.replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (n.contains(QChar(0)) || n.startsWith(QLatin1Char('/')))
        return QString();
    if (n.size() >= 2 && n.at(1) == QLatin1Char(':'))
        return QString(); // a drive letter
    QStringList parts;
    for (const QString &part : n.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        if (part == QLatin1String("."))
            continue;
        if (part == QLatin1String(".."))
            return QString();
        parts.append(part);
    }
    return parts.join(QLatin1Char('/'));
}

bool extract_archive(const std::function<zip_source_t *(QString *reason)> &open_archive_source,
                     const QString &destination, Job_Control *control, qint64 progress_budget,
                     QStringList *errors)
{
    Extractor extractor(destination, control, errors);
    return extractor.run(open_archive_source, progress_budget);
}
