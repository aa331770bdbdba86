// SPDX-License-Identifier: GPL-3.0-or-later
#include "unpack/file_publisher.h"

#include "core/checksum.h"
#include "core/free_name.h"
#include "core/path_rules.h"
#include "core/sizes.h"
#include "job_control.h"
#include "unpack/extract_log.h"

#include <chrono>
#include <cerrno>

namespace {

// How often a wait looks at the cancel flag, which wakes nobody when set.
constexpr std::chrono::milliseconds cancel_poll{50};

} // namespace

bool holds_same_content(const os::Folder &folder, const QByteArray &name, qint64 size, quint32 crc)
{
    os::File file;
    os::Status st;
    if (file.open_read_in(folder, name) != 0 || file.status(&st) != 0 || st.kind != os::Kind::File || st.size != size)
        return false;
    QByteArray block(io_block, Qt::Uninitialized);
    quint32 sum = 0;
    qint64 total = 0;
    for (;;) {
        int error = 0;
        const qint64 n = file.read(block.data(), block.size(), &error);
        if (n < 0)
            return false;
        if (n == 0)
            return total == size && sum == crc;
        sum = checksum_update(sum, block.constData(), n);
        total += n;
    }
}

File_Publisher::File_Publisher(Extract_Folders &folders, Extract_Log &log, const Job_Control &control,
                               size_t most_descriptors)
    : folders(folders), log(log), control(control), most_descriptors(most_descriptors)
{
}

template <typename Done>
void File_Publisher::wait(std::unique_lock<std::mutex> &lock, Done done)
{
    while (!done() && !control.is_cancelled())
        changed.wait_for(lock, cancel_poll);
}

void File_Publisher::add(Finished_File file)
{
    const size_t weight = size_t(file.file->descriptors());
    std::unique_lock<std::mutex> lock(mutex);
    // One file always fits, however low the limit.
    const auto fits = [&] { return descriptors_held == 0 || descriptors_held + weight <= most_descriptors; };
    if (!fits()) {
        ++waiting_for_room;
        changed.notify_all();
        wait(lock, fits);
        --waiting_for_room;
        if (!fits())
            return; // cancelled: the file goes unnamed, a run started again makes it anew
    }
    pending_bytes += file.size;
    pending.push_back(std::move(file));
    descriptors_held += weight;
    if (!flusher.joinable())
        flusher = std::thread([this] { flush_batches(); });
    if (batch_ready())
        changed.notify_all();
}

void File_Publisher::make_room()
{
    std::unique_lock<std::mutex> lock(mutex);
    ++waiting_for_room;
    changed.notify_all();
    wait(lock, [this] { return descriptors_held == 0; });
    --waiting_for_room;
}

void File_Publisher::finish()
{
    {
        const std::lock_guard<std::mutex> lock(mutex);
        finishing = true;
    }
    changed.notify_all();
    if (flusher.joinable())
        flusher.join();
    // Ready for another run.
    const std::lock_guard<std::mutex> lock(mutex);
    finishing = false;
}

void File_Publisher::flush_batches()
{
    for (;;) {
        Batch batch;
        {
            std::unique_lock<std::mutex> lock(mutex);
            // After a cancel, what is complete is named at once.
            while (!batch_ready() && !(control.is_cancelled() && !pending.empty()))
                changed.wait_for(lock, cancel_poll);
            if (pending.empty())
                return; // finishing
            batch.swap(pending);
            pending_bytes = 0;
        }
        size_t weight = 0;
        for (const Finished_File &f : batch)
            weight += size_t(f.file->descriptors());
        publish_batch(batch);
        batch.clear(); // closes what is left open
        {
            const std::lock_guard<std::mutex> lock(mutex);
            descriptors_held -= weight;
        }
        changed.notify_all();
    }
}

void File_Publisher::publish_batch(Batch &batch)
{
    // Only this run's files wait for the disk, not everything the file
    // system has to write (another program's big copy): their write-back
    // started when each was complete.
    for (Finished_File &f : batch) {
        if (const int error = f.file->file().finish_write_back()) {
            log.error(QStringLiteral("%1: cannot be written to disk: %2").arg(display_path(f.entry_path), os::reason(error)),
                      parent_of(f.entry_path));
            f.file.reset();
            continue;
        }
        publish(f);
    }
}

void File_Publisher::publish(Finished_File &f)
{
    const QString entry = display_path(f.entry_path);
    // Only now: a file system that stamps data as it arrives (FUSE) has it all.
    if (f.has_time)
        if (const int error = f.file->file().set_time(f.mtime))
            log.warning(QStringLiteral("%1: cannot set its time: %2").arg(entry, os::reason(error)));
    int failure = 0;
    const std::shared_ptr<const os::Folder> folder = folders.open(f.folder, &failure);
    Claimed_Name saved;
    if (folder)
        saved = claim_free_name(f.name, false, [&](const QByteArray &name) {
            failure = f.file->publish(*folder, name);
            if (failure == 0)
                return Name_Claim::Claimed;
            if (failure == EEXIST)
                return holds_same_content(*folder, name, f.size, f.crc) ? Name_Claim::Same : Name_Claim::Taken;
            return is_name_rejection(failure, *folder) ? Name_Claim::Rejected : Name_Claim::Failed;
        });
    const os::Path saved_path = folders.path_of(f.folder) + '/' + (saved.name.isEmpty() ? f.name : saved.name);
    switch (saved.outcome) {
    case Name_Claim::Claimed:
        log.written();
        if (saved.portable)
            log.respelled(entry, saved.name);
        else if (saved.name != f.name)
            log.kept_beside(display_path(saved_path));
        break;
    case Name_Claim::Same:
        log.already_there();
        break;
    default:
        if (folder && saved.name.isEmpty())
            log.error(QStringLiteral("%1: cannot save the file: no free name").arg(entry), parent_of(f.entry_path));
        else
            log.error(QStringLiteral("%1: cannot save the file %2: %3")
                          .arg(entry, display_path(saved_path), os::reason(failure)),
                      parent_of(f.entry_path));
    }
    f.file.reset();
}
