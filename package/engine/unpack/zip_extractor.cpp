// SPDX-License-Identifier: GPL-3.0-or-later
#include "unpack/zip_extractor.h"

#include "container/archive_entries.h"
#include "container/entry_data_reader.h"
#include "core/free_name.h"
#include "core/guarded.h"
#include "core/path_patterns.h"
#include "core/path_rules.h"
#include "core/private_file.h"
#include "core/sizes.h"
#include "job_control.h"
#include "unpack/descriptor_budget.h"
#include "unpack/extract_folders.h"
#include "unpack/extract_links.h"
#include "unpack/file_publisher.h"
#include "unpack/unpack_check.h"
#include "unpack/work_queue.h"

#include <QThread>

#include <cerrno>
#include <memory>
#include <mutex>
#include <vector>

namespace {

constexpr size_t queued_files = 64;

int unpacking_threads()
{
    return QThread::idealThreadCount() > 1 ? 2 : 1;
}

using Kind = Archive_Entry::Kind;

struct File_Job
{
    Archive_Entry entry;
    Extract_Folders::Id folder = Extract_Folders::none;
    bool folder_is_new = false;
    // A small entry's raw data, read on the reading thread: the unpacking
    // threads then never wait for libzip, which one thread at a time may use.
    QByteArray raw;
    bool has_raw = false;
};

class Extractor
{
public:
    Extractor(const Archive_Opener &open_source, const std::shared_ptr<const os::Folder> &destination,
              const os::Path &display, Job_Control &control, const Path_Patterns *chosen)
        : open_source(open_source), destination(destination), display(display), control(control), chosen(chosen)
    {
    }

    bool run(qint64 progress_budget, Extract_Report *report);

private:
    const Archive_Opener &open_source;
    std::shared_ptr<const os::Folder> destination;
    os::Path display;
    Job_Control &control;
    const Path_Patterns *chosen; // null: every entry
    Extract_Log log;
    const Descriptor_Budget budget = budget_for(os::open_files_allowed(), unpacking_threads());
    Extract_Folders folders{destination, display, log, budget.folders};
    File_Publisher publisher{folders, log, control, budget.waiting_files};
    std::mutex archive_lock;
    bool resuming = false; // the destination held something before this run
    double progress_scale = 1.0;

    void advance(qint64 compressed) { control.add_done(qint64(double(compressed) * progress_scale)); }
    // The next sound entry from index on, or false at the end; problems were
    // reported once already, by check_before_unpacking().
    bool next_entry(zip_t *za, zip_uint64_t *index, Archive_Entry *e);
    void unpack_files(zip_t *za);
    void extract_file(zip_t *za, const File_Job &job);
    bool copy(Entry_Data_Reader &reader, os::File &out, const Archive_Entry &e);
    std::vector<zip_uint64_t> links; // found by unpack_files(), made last
    void make_links(zip_t *za);
};

bool Extractor::next_entry(zip_t *za, zip_uint64_t *index, Archive_Entry *e)
{
    const zip_uint64_t count = zip_uint64_t(zip_get_num_entries(za, 0));
    for (; *index < count; ++*index) {
        QString problem;
        if (read_archive_entry(za, *index, e, &problem) && entry_problem(*e).isEmpty() && !is_left_out(*e)
            && (!chosen || chosen->take(e->path))) {
            ++*index;
            return true;
        }
    }
    return false;
}

// Entries are read and folders made on this thread; files are unpacked by
// two others, while this one reports progress.
void Extractor::unpack_files(zip_t *za)
{
    Work_Queue<File_Job> queue(queued_files, [this] { control.report_progress(); });
    queue.start(unpacking_threads(), [this, za](File_Job &job) {
        if (!control.is_cancelled())
            guarded(control, [&] { extract_file(za, job); });
    });
    // Workers may be in libzip for a big entry: libzip is only used under the lock.
    const auto next = [&](zip_uint64_t *index, Archive_Entry *e) {
        const std::lock_guard<std::mutex> lock(archive_lock);
        return next_entry(za, index, e);
    };
    Archive_Entry e;
    for (zip_uint64_t index = 0; !control.is_cancelled() && next(&index, &e);) {
        if (e.kind == Kind::Folder) {
            folders.folder_for(e.path);
            folders.remember(e.path, e.has_permissions, e.permissions, e.has_time, e.mtime);
            advance(e.compressed_size);
        } else if (e.kind == Kind::Link) {
            links.push_back(e.index);
        } else if (e.kind == Kind::File) {
            const Extract_Folders::Id folder = folders.folder_for(parent_of(e.path));
            if (folder == Extract_Folders::none) {
                advance(e.compressed_size); // reported with the folder
                continue;
            }
            const bool is_new = folder == Extract_Folders::top ? !resuming : folders.created(folder);
            File_Job job{e, folder, is_new, {}, false};
            if (Entry_Data_Reader::can_read_raw(e)) {
                const std::lock_guard<std::mutex> lock(archive_lock);
                QString problem;
                job.has_raw = Entry_Data_Reader::read_raw(za, e, &job.raw, &problem);
            }
            queue.push(std::move(job));
        }
        control.report_progress();
    }
    queue.finish();
}

void Extractor::extract_file(zip_t *za, const File_Job &job)
{
    const Archive_Entry &e = job.entry;
    const QString entry = e.display();
    const QByteArray name = leaf_of(e.path);
    const auto cannot_create = [&](int error) {
        log.error(QStringLiteral("%1: cannot create the file in %2: %3")
                      .arg(entry, display_path(folders.path_of(job.folder)), os::reason(error)),
                  parent_of(e.path));
        advance(e.compressed_size);
    };
    int error = 0;
    const std::shared_ptr<const os::Folder> folder = folders.open_for(job.folder, name, &error);
    if (!folder)
        return cannot_create(error);
    // Started again: a file that already holds this entry's content stays as it is.
    if (!job.folder_is_new) {
        const Claimed_Name found = claim_free_name(name, false, [&](const QByteArray &candidate) {
            os::Status st;
            if (folder->status_of(candidate, &st) != 0)
                return Name_Claim::Claimed; // free: nothing to compare with
            return holds_same_content(*folder, candidate, e.size, e.crc) ? Name_Claim::Same : Name_Claim::Taken;
        });
        if (found.outcome == Name_Claim::Same) {
            log.already_there();
            advance(e.compressed_size);
            return;
        }
    }
    // The raw data is read again by the worker when it could not be read here: the reason shows then.
    Entry_Data_Reader reader = job.has_raw ? Entry_Data_Reader(e, job.raw) : Entry_Data_Reader(za, e, &archive_lock);
    if (!reader.is_open()) {
        log.error(QStringLiteral("%1: %2").arg(entry, reader.error()), parent_of(e.path));
        advance(e.compressed_size);
        return;
    }
    // Written privately and named only when complete and on disk.
    auto temporary = std::make_unique<Private_File>();
    error = temporary->create(folder, QByteArrayLiteral(".part"));
    if (error == EMFILE || error == ENFILE) {
        // Out of descriptors after all: once the waiting files are named, one is free.
        publisher.make_room();
        error = temporary->create(folder, QByteArrayLiteral(".part"));
    }
    if (error)
        return cannot_create(error);
    if (!copy(reader, temporary->file(), e))
        return; // the temporary file goes with `temporary`
    temporary->file().start_write_back();
    if (e.has_permissions)
        if ((error = temporary->file().set_permissions(e.permissions | 0400)))
            log.warning(QStringLiteral("%1: cannot set its permissions: %2").arg(entry, os::reason(error)));
    publisher.add({std::move(temporary), job.folder, name, e.path, e.size, e.crc, e.has_time, e.mtime});
    control.reached(Run_Point::File_Unpacked);
}

// The entry's bytes into out, advancing progress as they come; false when
// cancelled or on a failure, which is reported.
bool Extractor::copy(Entry_Data_Reader &reader, os::File &out, const Archive_Entry &e)
{
    const auto buffer = std::make_unique_for_overwrite<char[]>(io_block);
    qint64 written = 0, reported = 0;
    bool ok = true;
    while (ok) {
        if (control.is_cancelled())
            ok = false;
        const qint64 n = ok ? reader.read(buffer.get(), io_block) : 0;
        if (n < 0) {
            log.error(QStringLiteral("%1: %2").arg(e.display(), reader.error()), parent_of(e.path));
            ok = false;
        }
        if (n <= 0)
            break;
        if (const int error = out.write_all(buffer.get(), n)) {
            log.error(QStringLiteral("%1: write failed: %2").arg(e.display(), os::reason(error)), parent_of(e.path));
            ok = false;
        }
        written += n;
        // In floating point: the product of two sizes of a few GiB overflows.
        const qint64 units = e.size > 0 ? qint64(double(e.compressed_size) * double(qMin(written, e.size)) / double(e.size)) : 0;
        advance(units - reported);
        reported = units;
    }
    advance(e.compressed_size - reported);
    return ok && !control.is_cancelled();
}

void Extractor::make_links(zip_t *za)
{
    for (const zip_uint64_t index : links) {
        Archive_Entry e;
        QString problem;
        if (control.is_cancelled())
            return;
        if (read_archive_entry(za, index, &e, &problem)) {
            advance(e.compressed_size);
            extract_link(za, e, folders, log);
        }
    }
}

bool Extractor::run(qint64 progress_budget, Extract_Report *report)
{
    QString reason;
    const Zip_Ptr za = open_checked_archive(open_source, &reason);
    Unpack_Check check;
    bool ok = za && check_before_unpacking(za.get(), *destination, display, control, log, &check, chosen);
    resuming = check.resuming;
    progress_scale = check.compressed_total > 0 ? double(progress_budget) / double(check.compressed_total) : 0.0;
    if (!za)
        log.error(reason);
    if (ok) {
        guarded(control, [&] { unpack_files(za.get()); });
        // Cancelled too: what is complete is kept, and a run started again goes on from there.
        guarded(control, [&] {
            publisher.finish();
            make_links(za.get());
        });
    }
    if (control.is_cancelled()) {
        folders.remove_empty_created(true);
    } else if (ok) {
        folders.restore_modes_and_times();
        if (log.error_count() > 0)
            folders.remove_empty_created(false);
        // Names, folders and their times on disk before the run says it is done.
        if (const int error = folders.sync_all())
            log.error(QStringLiteral("cannot write to disk: %1").arg(os::reason(error)));
    }
    ok = ok && log.error_count() == 0 && !control.is_cancelled();
    *report = log.take();
    report->refused_as_damaged = !za && is_damage(reason);
    return ok;
}

} // namespace

bool extract_archive(const Archive_Opener &open_source, const std::shared_ptr<const os::Folder> &destination,
                     const os::Path &display, Job_Control &control, qint64 progress_budget, Extract_Report *report,
                     const Path_Patterns *chosen)
{
    return Extractor(open_source, destination, display, control, chosen).run(progress_budget, report);
}

