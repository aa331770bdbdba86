// SPDX-License-Identifier: GPL-3.0-or-later
#include "pack/deflate_pool.h"

#include "core/checksum.h"
#include "core/guarded.h"
#include "core/path_rules.h"
#include "core/sizes.h"
#include "job_control.h"
#include "pack/input_file.h"

#include <memory>

// The deflate pool's workers: each takes the next segment in archive order,
// reads it from its file and hands the deflated blocks to the writer.

namespace {

// Opens a piece's file as planned and ready to deflate from offset: "" or why not.
QString open_piece(Input_File &file, const Planned_File &planned, const Piece_Deflater &z, qint64 offset)
{
    // Whether it is the planned file shows once it is read: one status call a file.
    if (!file.open())
        return file.reason();
    if (!z.is_ready())
        return QStringLiteral("%1: cannot start compression").arg(display_path(planned.path()));
    if (!file.seek(offset))
        return file.reason();
    return QString();
}

} // namespace

void Deflate_Pool::work(std::stop_token stop)
{
    Work_Item item;
    bool taken = false, go_on = true;
    // A worker that runs out of memory fails the run and its segment, so
    // that the writer waiting for the segment wakes.
    if (!guarded(control, [&] {
            while ((taken = take_item(&item, stop)) && (go_on = deflate_item(item, stop))) {
            }
        })
        && taken)
        fail(item, out_of_memory_message());
}

// The next segment in archive order, waiting for the walk to add a file;
// false once there are none left or the pool stops.
bool Deflate_Pool::take_item(Work_Item *item, const std::stop_token &stop)
{
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
        while (open_stream < streams.size() && streams[open_stream].taken == streams[open_stream].segments.size())
            ++open_stream;
        if (open_stream < streams.size())
            break;
        if (jobs_waiting()) {
            start_stream();
            continue;
        }
        if (jobs_closed || stop.stop_requested())
            return false;
        work_wait.wait(lock, stop, [&] { return jobs_waiting() || jobs_closed || open_stream < streams.size(); });
    }
    Stream &stream = streams[open_stream];
    const size_t segment = stream.taken++;
    const qint64 size = stream.file->identity.size;
    const qint64 offset = qint64(segment) * segment_size;
    const bool last = segment + 1 == stream.segments.size();
    *item = {stream.file, first_job + int(open_stream), segment, offset, last ? size - offset : segment_size, last,
             stream.first_sequence + segment};
    return true;
}

// Hands a block to the writer; waits while too much is queued, except for
// the segment the writer is reading now, which must always make progress.
bool Deflate_Pool::push(const Work_Item &item, QByteArray block, const std::stop_token &stop)
{
    std::unique_lock<std::mutex> lock(mutex);
    producer_wait.wait(lock, stop, [&] { return item.sequence <= head || buffered < ahead_budget; });
    if (stop.stop_requested())
        return false;
    buffered += block.size();
    segment_of(item).queued += block.size();
    segment_of(item).blocks.push_back(std::move(block));
    wake_writer();
    return true;
}

void Deflate_Pool::fail(const Work_Item &item, const QString &reason)
{
    std::lock_guard<std::mutex> lock(mutex);
    segment_of(item).failed = true;
    segment_of(item).error = reason;
    wake_writer();
}

void Deflate_Pool::finish(const Work_Item &item, quint32 crc, qint64 in_size)
{
    std::lock_guard<std::mutex> lock(mutex);
    Segment &s = segment_of(item);
    s.crc = crc;
    s.in_size = in_size;
    s.finished = true;
    wake_writer();
}

// False when the pool stops: the writer has given up.
bool Deflate_Pool::deflate_item(const Work_Item &item, const std::stop_token &stop)
{
    const Planned_File &planned = *item.file;
    Input_File file(planned.path());
    Piece_Deflater z(level_for(planned.identity.size));
    QString reason = open_piece(file, planned, z, item.offset);
    if (!reason.isEmpty()) {
        fail(item, reason);
        return true;
    }
    quint32 crc = 0;
    qint64 in_size = 0;
    bool ok = deflate_blocks(file, z, item, stop, &crc, &in_size, &reason);
    if (ok && !file.is_as_planned(planned.identity)) {
        ok = false;
        reason = changed_reason(planned.path());
    }
    if (!ok) {
        if (reason.isEmpty())
            return false;
        fail(item, reason);
        return true;
    }
    finish(item, crc, in_size);
    return true;
}

// Reads the piece block by block into the deflater. False with a reason, or
// with none when the pool stops.
bool Deflate_Pool::deflate_blocks(Input_File &file, Piece_Deflater &z, const Work_Item &item,
                                  const std::stop_token &stop, quint32 *crc, qint64 *in_size, QString *reason)
{
    const auto in = std::make_unique_for_overwrite<char[]>(size_t(io_block));
    for (bool end = false; !end;) {
        if (cancelled()) {
            *reason = cancelled_message();
            return false;
        }
        const qint64 n = file.read(in.get(), qMin(io_block, item.length - *in_size));
        if (n <= 0) {
            // One that ends sooner than planned has changed.
            *reason = n < 0 ? file.reason() : changed_reason(item.file->path());
            return false;
        }
        end = *in_size + n == item.length;
        *crc = checksum_update(*crc, in.get(), n);
        *in_size += n;
        bool taken = true;
        const bool ok = z.add(in.get(), n, end, item.last,
                              [&](QByteArray block) { return taken = push(item, std::move(block), stop); });
        if (!ok && taken)
            *reason = QStringLiteral("%1: cannot compress").arg(display_path(item.file->path()));
        control.add_done(n);
        if (!ok)
            return false;
    }
    return true;
}
