// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <memory>
#include <mutex>

#include "core/zip_handles.h"

struct Archive_Entry;

// Reads one entry's data and judges it: what comes out must be exactly the
// entry's size and checksum, for files and links alike. Stored and deflated
// entries are read raw from libzip and inflated here (ISA-L when built in,
// libdeflate for small entries, zlib otherwise); other methods go through
// libzip. Threads may share one archive handle: libzip is only called with
// archive_lock held (when given), and inflating happens outside it.
class Entry_Data_Reader
{
public:
    Entry_Data_Reader(zip_t *archive, const Archive_Entry &entry, std::mutex *archive_lock = nullptr);
    // The same over an entry's raw data read beforehand (see read_raw()): no libzip call at all.
    Entry_Data_Reader(const Archive_Entry &entry, QByteArray raw);
    ~Entry_Data_Reader();
    Entry_Data_Reader(const Entry_Data_Reader &) = delete;
    Entry_Data_Reader &operator=(const Entry_Data_Reader &) = delete;

    bool is_open() const;
    // Bytes read, 0 at the end once the checks passed, -1 with error().
    qint64 read(char *buffer, qint64 length);
    QString error() const { return reason; }

    // Whether read_raw() can take the entry: stored or deflated, and small.
    static bool can_read_raw(const Archive_Entry &entry);
    // The entry's raw data, whole; false with *problem.
    static bool read_raw(zip_t *archive, const Archive_Entry &entry, QByteArray *raw, QString *problem);

    // The whole data of a small entry (a link's target), checked; false with error().
    bool read_all(QByteArray *out, qint64 limit);

private:
    struct Decoder;
    std::unique_ptr<Decoder> decoder;
    QString reason;
};

// A link entry's target, read whole and checked against its checksum, and
// judged by the link rules; false with *problem naming what is wrong.
bool read_link_target(zip_t *archive, const Archive_Entry &entry, std::mutex *archive_lock, QByteArray *target,
                      QString *problem);
