#include "unpack/zip_extractor.h"

#include "container/archive_entries.h"
#include "container/entry_data_reader.h"
#include "core/free_name.h"
#include "core/path_rules.h"
#include "core/private_file.h"
#include "core/sizes.h"
#include "job_control.h"
#include "unpack/extract_folders.h"
#include "unpack/file_publisher.h"

#include <QLocale>
#include <QThread>

#include <cerrno>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace {

constexpr size_t queued_files = 64;
// What a file or folder takes on disk beyond its bytes, and what is kept free
// besides: a mebibyte and a hundredth of the whole.
constexpr qint64 disk_block = 4096;
constexpr qint64 room_margin = 1024 * 1024;
constexpr qint64 room_margin_share = 100;
constexpr int progress_wait_ms = 50;

using Kind = Archive_Entry::Kind;

qint64 on_disk(qint64 size)
{
    return (size + disk_block - 1) / disk_block * disk_block + disk_block;
}

QString data_size(qint64 bytes)
{
    return QLocale::c().formattedDataSize(bytes, 1);
}

struct File_Job
{
    Archive_Entry entry;
    os::Path folder;
    bool folder_is_new = false;
};

class Extractor
{
public:
    Extractor(const Archive_Opener &open_source, const os::Path &destination, Job_Control &control)
        : open_source(open_source), destination(destination), control(control)
    {
    }

    bool run(qint64 progress_budget, Extract_Report *report);

private:
    const Archive_Opener &open_source;
    os::Path destination;
    Job_Control &control;
    Extract_Log log;
    Extract_Folders folders{destination, log};
    File_Publisher publisher{destination, log};
    std::mutex archive_lock;
    bool resuming = false; // the destination held something before this run
    qint64 progress_budget = 0;
    double progress_scale = 1.0;
    // Files on their way from the reading thread to the unpacking ones.
    std::mutex queue_mutex;
    std::condition_variable queue_changed;
    std::deque<File_Job> queue;
    bool queue_closed = false;
    int workers_running = 0;

    void advance(qint64 compressed) { control.add_done(qint64(double(compressed) * progress_scale)); }
    // The next sound entry from index on, or false at the end; problems are reported once, by judge().
    bool next_entry(zip_t *za, zip_uint64_t *index, Archive_Entry *e);
    bool judge(zip_t *za);
    void unpack_files(zip_t *za);
    void enqueue(File_Job job);
    void work(zip_t *za);
    void extract_file(zip_t *za, const File_Job &job);
    bool copy(Entry_Data_Reader &reader, os::File &out, const Archive_Entry &e);
    void make_links(zip_t *za);
    void make_link(zip_t *za, const Archive_Entry &e);
};

bool Extractor::next_entry(zip_t *za, zip_uint64_t *index, Archive_Entry *e)
{
    const zip_uint64_t count = zip_uint64_t(zip_get_num_entries(za, 0));
    for (; *index < count; ++*index) {
        QString problem;
        if (read_archive_entry(za, *index, e, &problem) && entry_problem(*e).isEmpty() && !is_left_out(*e)) {
            ++*index;
            return true;
        }
    }
    return false;
}

// Every entry is judged before anything is written: what cannot be unpacked
// is named, and the whole must fit the destination's free space. A file
// already there with its size (a run started again) needs no more room.
bool Extractor::judge(zip_t *za)
{
    os::Status st;
    std::vector<QByteArray> present;
    os::list_folder(destination, &present);
    resuming = !present.empty();
    qint64 needed = 0, compressed_total = 0;
    const zip_uint64_t count = zip_uint64_t(zip_get_num_entries(za, 0));
    for (zip_uint64_t i = 0; i < count && !control.is_cancelled(); ++i) {
        Archive_Entry e;
        QString problem;
        if (!read_archive_entry(za, i, &e, &problem)) {
            log.error(problem);
            continue;
        }
        problem = entry_problem(e);
        if (!problem.isEmpty()) {
            log.error(QStringLiteral("%1: %2").arg(e.display(), problem), parent_of(e.path));
            continue;
        }
        if (e.kind == Kind::Special)
            log.warning(QStringLiteral("%1: left out: a special file (socket, pipe or device) is not unpacked").arg(e.display()));
        if (is_left_out(e))
            continue;
        compressed_total += e.compressed_size;
        const bool there = resuming && os::status(destination + '/' + e.path, false, &st) == 0
                           && (e.kind == Kind::Folder ? st.kind == os::Kind::Folder
                                                      : st.kind == os::Kind::File && st.size == e.size);
        needed += there ? 0 : on_disk(e.kind == Kind::Folder ? 0 : e.size);
    }
    progress_scale = compressed_total > 0 ? double(progress_budget) / double(compressed_total) : 0.0;
    qint64 free = 0;
    if (const int error = os::free_space(destination, &free)) {
        log.error(QStringLiteral("cannot tell the free space on the destination's disk: %1").arg(os::reason(error)));
        return false;
    }
    if (needed > 0 && needed + room_margin + needed / room_margin_share > free) {
        log.error(QStringLiteral("not enough room: unpacking needs %1, and the disk holding %2 has %3 free")
                      .arg(data_size(needed), display_path(destination), data_size(free)));
        return false;
    }
    return !control.is_cancelled();
}

void Extractor::enqueue(File_Job job)
{
    std::unique_lock<std::mutex> lock(queue_mutex);
    while (queue.size() >= queued_files) {
        queue_changed.wait_for(lock, std::chrono::milliseconds(progress_wait_ms));
        control.report_progress();
    }
    queue.push_back(std::move(job));
    queue_changed.notify_all();
}

void Extractor::work(zip_t *za)
{
    for (;;) {
        File_Job job;
        {
            std::unique_lock<std::mutex> lock(queue_mutex);
            queue_changed.wait(lock, [&] { return !queue.empty() || queue_closed; });
            if (queue.empty()) {
                --workers_running;
                queue_changed.notify_all();
                return;
            }
            job = std::move(queue.front());
            queue.pop_front();
            queue_changed.notify_all();
        }
        if (!control.is_cancelled())
            extract_file(za, job);
    }
}

void Extractor::unpack_files(zip_t *za)
{
    std::vector<std::jthread> workers;
    workers_running = QThread::idealThreadCount() > 1 ? 2 : 1;
    for (int i = 0; i < workers_running; ++i)
        workers.emplace_back([this, za] { work(za); });
    Archive_Entry e;
    for (zip_uint64_t index = 0; !control.is_cancelled() && next_entry(za, &index, &e);) {
        if (e.kind == Kind::Folder) {
            folders.folder_for(e.path);
            folders.remember(e.path, e.has_permissions, e.permissions, e.has_time, e.mtime);
            advance(e.compressed_size);
        } else if (e.kind == Kind::File) {
            const Extract_Folders::Folder folder = folders.folder_for(parent_of(e.path));
            if (folder.path.isEmpty())
                advance(e.compressed_size); // reported with the folder
            else
                enqueue({e, folder.path, folder.created || (folder.path == destination && !resuming)});
        }
        control.report_progress();
    }
    // Progress is reported from this thread while the last files are unpacked.
    std::unique_lock<std::mutex> lock(queue_mutex);
    queue_closed = true;
    queue_changed.notify_all();
    while (workers_running > 0) {
        queue_changed.wait_for(lock, std::chrono::milliseconds(progress_wait_ms));
        lock.unlock();
        control.report_progress();
        lock.lock();
    }
    lock.unlock();
    workers.clear(); // joins
}

void Extractor::extract_file(zip_t *za, const File_Job &job)
{
    const Archive_Entry &e = job.entry;
    const QString entry = e.display();
    const QByteArray name = leaf_of(e.path);
    // Started again: a file that already holds this entry's content stays as it is.
    if (!job.folder_is_new) {
        const Claimed_Name found = claim_free_name(job.folder, name, false, [&](const QByteArray &path) {
            os::Status st;
            if (os::status(path, false, &st) != 0)
                return Name_Claim::Claimed; // free: nothing to compare with
            return holds_same_content(path, e.size, e.crc) ? Name_Claim::Same : Name_Claim::Taken;
        });
        if (found.outcome == Name_Claim::Same) {
            log.already_there();
            advance(e.compressed_size);
            return;
        }
    }
    Entry_Data_Reader reader(za, e, &archive_lock);
    if (!reader.is_open()) {
        log.error(QStringLiteral("%1: %2").arg(entry, reader.error()), parent_of(e.path));
        advance(e.compressed_size);
        return;
    }
    // Written privately and named only when complete and on disk.
    auto temporary = std::make_unique<Private_File>();
    if (const int error = temporary->create(job.folder, QByteArrayLiteral(".part"))) {
        log.error(QStringLiteral("%1: cannot create the file in %2: %3").arg(entry, display_path(job.folder), os::reason(error)),
                  parent_of(e.path));
        advance(e.compressed_size);
        return;
    }
    if (!copy(reader, temporary->file(), e))
        return; // the temporary file goes with `temporary`
    if (e.has_permissions)
        if (const int error = temporary->file().set_permissions(e.permissions | 0400))
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
        const qint64 units = e.size > 0 ? e.compressed_size * written / e.size : 0;
        advance(units - reported);
        reported = units;
    }
    advance(e.compressed_size - reported);
    return ok && !control.is_cancelled();
}

void Extractor::make_links(zip_t *za)
{
    Archive_Entry e;
    for (zip_uint64_t index = 0; !control.is_cancelled() && next_entry(za, &index, &e);)
        if (e.kind == Kind::Link)
            make_link(za, e);
}

// A link already there with the same target counts as already there.
void Extractor::make_link(zip_t *za, const Archive_Entry &e)
{
    advance(e.compressed_size);
    const Extract_Folders::Folder folder = folders.folder_for(parent_of(e.path));
    if (folder.path.isEmpty())
        return;
    QByteArray target;
    QString problem;
    if (!read_link_target(za, e, nullptr, &target, &problem)) {
        log.error(QStringLiteral("%1: %2").arg(e.display(), problem), parent_of(e.path));
        return;
    }
    int failure = 0;
    const Claimed_Name made = claim_free_name(folder.path, leaf_of(e.path), false, [&](const QByteArray &path) {
        failure = os::make_symlink(target, path);
        if (failure == 0)
            return Name_Claim::Claimed;
        QByteArray existing;
        if (failure == EEXIST)
            return os::read_link(path, &existing) == 0 && existing == target ? Name_Claim::Same : Name_Claim::Taken;
        return is_name_rejection(failure, path) ? Name_Claim::Rejected : Name_Claim::Failed;
    });
    if (made.outcome == Name_Claim::Same) {
        log.already_there();
        return;
    }
    if (made.outcome != Name_Claim::Claimed) {
        log.error(QStringLiteral("%1: cannot create the link: %2").arg(e.display(), os::reason(failure)), parent_of(e.path));
        return;
    }
    log.written();
    if (made.portable)
        log.warning(QStringLiteral("%1: the destination cannot hold this name; unpacked as \"%2\"")
                        .arg(e.display(), display_path(leaf_of(made.path))));
    if (e.has_time)
        if (const int error = os::set_time(made.path, e.mtime))
            log.warning(QStringLiteral("%1: cannot set its time: %2").arg(e.display(), os::reason(error)));
}

bool Extractor::run(qint64 progress_budget, Extract_Report *report)
{
    os::Status st;
    if (const int error = os::status(destination, true, &st); error || st.kind != os::Kind::Folder) {
        log.error(QStringLiteral("%1: %2").arg(display_path(destination), os::reason(error ? error : ENOTDIR)));
        *report = log.take();
        return false;
    }
    QString reason;
    const Zip_Ptr za = open_checked_archive(open_source, &reason);
    this->progress_budget = progress_budget;
    bool ok = za && judge(za.get());
    if (!za)
        log.error(reason);
    if (ok) {
        unpack_files(za.get());
        // Cancelled too: what is complete is kept, and a run started again goes on from there.
        publisher.finish();
        make_links(za.get());
    }
    if (control.is_cancelled()) {
        folders.remove_empty_created(true);
    } else if (ok) {
        folders.restore_modes_and_times();
        if (log.error_count() > 0)
            folders.remove_empty_created(false);
        // Names, folders and their times on disk before the run says it is done.
        if (const int error = os::sync_file_system(destination))
            log.error(QStringLiteral("cannot write to disk: %1").arg(os::reason(error)));
    }
    ok = ok && log.error_count() == 0 && !control.is_cancelled();
    *report = log.take();
    return ok;
}

} // namespace

bool extract_archive(const Archive_Opener &open_source, const os::Path &destination, Job_Control &control,
                     qint64 progress_budget, Extract_Report *report)
{
    return Extractor(open_source, destination, control).run(progress_budget, report);
}
