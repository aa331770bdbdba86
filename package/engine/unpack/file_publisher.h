#pragma once

#include "core/private_file.h"

#include <QByteArray>
#include <QString>

#include <memory>
#include <mutex>
#include <vector>

class Extract_Log;

// An unpacked file, complete but without its name yet.
struct Finished_File
{
    std::unique_ptr<Private_File> file;
    os::Path folder;           // where it goes
    QByteArray name;           // its name there
    QByteArray entry_path;     // in the archive, for messages
    qint64 size = 0;
    quint32 crc = 0;
    bool has_time = false;
    qint64 mtime = 0;
};

// Whether path is a regular file with exactly this size and checksum.
bool holds_same_content(const os::Path &path, qint64 size, quint32 crc);

// Names finished files in batches, each once the destination's file system
// has their data: after a power cut no name stands for a file that is short
// or empty, and one flush of the file system serves a whole batch instead of
// a stall per file. A name already taken by a file of the same content counts
// as already there; by anything else, the file gets the next free number.
class File_Publisher
{
public:
    File_Publisher(const os::Path &destination, Extract_Log &log) : destination(destination), log(log) {}

    // From any thread; may publish a batch.
    void add(Finished_File file);
    // Publishes what is left.
    void finish();

private:
    static constexpr size_t batch_files = 128;
    static constexpr qint64 batch_bytes = 64 * 1024 * 1024;

    os::Path destination;
    Extract_Log &log;
    std::mutex pending_mutex;
    std::vector<Finished_File> pending;
    qint64 pending_bytes = 0;
    std::mutex publish_mutex; // one batch at a time

    void publish_batch(std::vector<Finished_File> batch);
    void publish(Finished_File &file);
};
