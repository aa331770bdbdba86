#include "unpack/zip_extractor.h"

#include "container/container_source.h"
#include "container/entry_data_reader.h"
#include "pack/deflate_codec.h"
#include "unpack/extraction_rules.h"
#include "unpack/extract_folders.h"
#include "core/free_name.h"
#include "job_control.h"
#include "core/private_file.h"
#include "core/zip_handles.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QThread>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace {

constexpr qint64 read_block = 256 * 1024;
constexpr qint64 max_link_length = 4096;

using Entry = Archive_Entry;
using Source_Opener = std::function<zip_source_t *(QString *)>;

QString leaf_of(const Entry &e)
{
    return e.relative.section(QLatin1Char('/'), -1);
}

class Extractor
{
public:
    Extractor(const QString &destination, const Source_Opener &open_source, Job_Control *control,
              QStringList *errors)
        : destination(QDir::cleanPath(destination)), open_source(open_source), control(control), errors(errors)
    {
    }

    bool run(qint64 progress_budget);

private:
    QString destination;
    const Source_Opener &open_source;
    Job_Control *control;
    QStringList *errors;
    std::mutex error_mutex;
    Extract_Folders folders{destination, [this](const QString &line) { report(line); }};
    double progress_scale = 1.0;

    bool cancelled() const { return control && control->is_cancelled(); }

    void report(const QString &line)
    {
        std::lock_guard<std::mutex> lock(error_mutex);
        errors->append(line);
    }

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

    Zip_Ptr open_archive();
    void extract_in_parallel(zip_t *za, std::vector<const Entry *> files);
    void extract_file(zip_t *za, const Entry &e, bool on_pipeline_thread);
    bool copy_entry(Entry_Data_Reader &zf, QFile &out, const Entry &e, bool on_pipeline_thread);
    void publish_file(Private_File &temporary, const Entry &e);
    void make_link(zip_t *za, const Entry &e);
};

Zip_Ptr Extractor::open_archive()
{
    QString reason;
    zip_source_t *source = open_source(&reason);
    if (!source) {
        report(QStringLiteral("cannot open: %1").arg(reason));
        return nullptr;
    }
    Zip_Ptr za = open_zip_source(source, ZIP_RDONLY, &reason);
    if (!za)
        report(reason);
    return za;
}

void Extractor::extract_in_parallel(zip_t *za, std::vector<const Entry *> files)
{
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
    std::jthread helper; // joined on leaving, whatever way this returns
    if (files.size() > 1 && QThread::idealThreadCount() > 1) {
        // The second thread reads through its own handle: libzip handles are not shared.
        helper = std::jthread([&] {
            if (const Zip_Ptr second = open_archive())
                work(second.get(), false);
        });
    }
    work(za, true);
}

void Extractor::extract_file(zip_t *za, const Entry &e, bool on_pipeline_thread)
{
    Entry_Data_Reader zf(za, e.index);
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
    if (!copy_entry(zf, temporary.file(), e, on_pipeline_thread))
        return; // the temporary file goes with `temporary`
    if (e.mode != 0)
        temporary.file().setPermissions(permissions_of(e.mode));
    if (e.mtime >= 0)
        temporary.file().setFileTime(QDateTime::fromSecsSinceEpoch(e.mtime), QFileDevice::FileModificationTime);
    publish_file(temporary, e);
}

// The entry's bytes into out, advancing progress as they come; false when
// cancelled or on a failure, which is reported.
bool Extractor::copy_entry(Entry_Data_Reader &zf, QFile &out, const Entry &e, bool on_pipeline_thread)
{
    const auto buffer = std::make_unique_for_overwrite<char[]>(read_block);
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
    return ok;
}

// Publishing never replaces a file, so claiming a name works across
// threads and processes alike: a name taken gets the next number.
void Extractor::publish_file(Private_File &temporary, const Entry &e)
{
    QString reason;
    const Claimed_Name saved = claim_free_name(e.parent, leaf_of(e), false, [&](const QString &target) {
        bool name_taken = false;
        if (temporary.publish(target, &name_taken, &reason))
            return Name_Claim::Claimed;
        return name_taken ? Name_Claim::Taken : Name_Claim::Failed;
    });
    if (saved.ok)
        return;
    if (saved.path.isEmpty())
        report(QStringLiteral("%1: cannot save the file: no free name").arg(e.name));
    else
        report(QStringLiteral("%1: cannot save the file %2: %3").arg(e.name, saved.path, reason));
}

void Extractor::make_link(zip_t *za, const Entry &e)
{
    QByteArray target_bytes;
    if (e.size <= max_link_length) {
        if (const Zip_File_Ptr zf(zip_fopen_index(za, e.index, 0)); zf) {
            target_bytes.resize(e.size);
            if (zip_fread(zf.get(), target_bytes.data(), zip_uint64_t(e.size)) != e.size)
                target_bytes.clear();
        }
    }
    const QString target = decode_entry_name(target_bytes);
    if (!link_target_is_safe(destination, e.parent, target)) {
        report(QStringLiteral("%1: link to \"%2\" leads out of the destination; not extracted").arg(e.name, target));
        return;
    }
    const QByteArray target_name = QFile::encodeName(target);
    QString reason;
    const Claimed_Name link = claim_free_name(e.parent, leaf_of(e), false, [&](const QString &path) {
        if (::symlink(target_name.constData(), QFile::encodeName(path).constData()) == 0)
            return Name_Claim::Claimed;
        const int error = errno;
        reason = QString::fromLocal8Bit(std::strerror(error));
        return error == EEXIST ? Name_Claim::Taken : Name_Claim::Failed;
    });
    if (!link.ok)
        report(QStringLiteral("%1: cannot create the link: %2").arg(e.name, reason));
}

bool Extractor::run(qint64 progress_budget)
{
    const qsizetype errors_before = errors->size();
    Zip_Ptr za = open_archive();
    if (!za)
        return false;
    qint64 comp_total = 0;
    std::vector<Entry> entries = read_safe_entries(
        za.get(), destination, [this](const QString &line) { report(line); }, &comp_total);
    progress_scale = comp_total > 0 ? double(progress_budget) / double(comp_total) : 0.0;

    std::vector<const Entry *> files;
    std::vector<const Entry *> links;
    folders.make(entries);
    for (const Entry &e : entries) {
        if (e.is_dir)
            advance(e.comp_size, true);
        else if (!e.parent.isEmpty())
            (e.is_link ? links : files).push_back(&e);
    }
    extract_in_parallel(za.get(), std::move(files));
    for (const Entry *e : links)
        make_link(za.get(), *e);
    za.reset();
    if (cancelled()) {
        folders.remove_empty_created();
        return false;
    }
    folders.restore_times();
    return errors->size() == errors_before;
}

} // namespace

bool extract_archive(const std::function<zip_source_t *(QString *reason)> &open_archive_source,
                     const QString &destination, Job_Control *control, qint64 progress_budget,
                     QStringList *errors)
{
    Extractor extractor(destination, open_archive_source, control, errors);
    return extractor.run(progress_budget);
}
