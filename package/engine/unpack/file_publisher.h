// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/private_file.h"
#include "unpack/extract_folders.h"

#include <QByteArray>
#include <QString>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class Extract_Log;
class Job_Control;

// An unpacked file, complete but without its name yet.
struct Finished_File
{
    std::unique_ptr<Private_File> file;
    Extract_Folders::Id folder; // where it goes
    QByteArray name;            // its name there
    QByteArray entry_path;      // in the archive, for messages
    qint64 size = 0;
    quint32 crc = 0;
    bool has_time = false;
    qint64 mtime = 0;
};

// Whether name in folder is a regular file (not a link to one) with exactly
// this size and checksum.
bool holds_same_content(const os::Folder &folder, const QByteArray &name, qint64 size, quint32 crc);

// Names finished files in batches, each once the destination's file system
// has their data: after a power cut no name stands for a file that is short
// or empty, and one flush of the file system serves a whole batch instead of
// a stall per file. The flushing happens on a thread of its own while the
// unpacking goes on, and takes all that finished meanwhile: the slower the
// disk, the bigger the batches. A name already taken by a file of the same
// content counts as already there; by anything else, the file gets the next
// free number.
// The files waiting hold descriptors, as many as most_descriptors: one
// that cannot be added for want of them starts a flush at once, so a low
// open-file limit makes batches small, never stops the run.
class File_Publisher
{
public:
    File_Publisher(Extract_Folders &folders, Extract_Log &log, const Job_Control &control, size_t most_descriptors);
    ~File_Publisher() { finish(); }
    File_Publisher(const File_Publisher &) = delete;
    File_Publisher &operator=(const File_Publisher &) = delete;

    // From any thread; waits while too many descriptors are held. After a
    // cancel it waits no more and drops the file.
    void add(Finished_File file);
    // Waits until every file added is named and closed (or the run is
    // cancelled): the way out when the system has no descriptor left.
    void make_room();
    // Publishes what is left and waits until all is named.
    void finish();

private:
    // A batch is worth a flush from this size on.
    static constexpr size_t batch_files = 128;
    static constexpr qint64 batch_bytes = 64 * 1024 * 1024;

    using Batch = std::vector<Finished_File>;

    Extract_Folders &folders;
    Extract_Log &log;
    const Job_Control &control;
    const size_t most_descriptors;
    std::mutex mutex;
    std::condition_variable changed;
    Batch pending;
    qint64 pending_bytes = 0;
    size_t descriptors_held = 0; // pending and being published
    int waiting_for_room = 0;
    bool finishing = false;
    std::thread flusher; // started by the first file

    bool batch_ready() const
    {
        return pending.size() >= batch_files || pending_bytes >= batch_bytes || (waiting_for_room > 0 && !pending.empty())
            || finishing;
    }
    // Waits, under lock, until done() or a cancel.
    template <typename Done>
    void wait(std::unique_lock<std::mutex> &lock, Done done);
    void flush_batches();
    void publish_batch(Batch &batch);
    void publish(Finished_File &file);
};
