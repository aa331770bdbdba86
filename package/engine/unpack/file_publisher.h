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
class File_Publisher
{
public:
    File_Publisher(Extract_Folders &folders, Extract_Log &log);
    ~File_Publisher() { finish(); }
    File_Publisher(const File_Publisher &) = delete;
    File_Publisher &operator=(const File_Publisher &) = delete;

    // From any thread; waits while too many files are held open.
    void add(Finished_File file);
    // Publishes what is left and waits until all is named.
    void finish();

private:
    // A batch is worth a flush from this size on.
    static constexpr size_t batch_files = 128;
    static constexpr qint64 batch_bytes = 64 * 1024 * 1024;
    // Each file waiting holds a descriptor: up to half of what the process
    // may hold. On a disk slow to flush, bigger batches save most of the time.
    const size_t most_files_held;

    using Batch = std::vector<Finished_File>;

    Extract_Folders &folders;
    Extract_Log &log;
    std::mutex mutex;
    std::condition_variable changed;
    Batch pending;
    qint64 pending_bytes = 0;
    size_t files_held = 0; // pending and being published
    bool finishing = false;
    std::thread flusher; // started by the first file

    bool batch_ready() const { return pending.size() >= batch_files || pending_bytes >= batch_bytes; }
    void flush_batches();
    void publish_batch(Batch &batch);
    void publish(Finished_File &file);
};
