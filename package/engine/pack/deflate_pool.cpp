#include "pack/deflate_pool.h"

#include "core/checksum.h"
#include "core/path_rules.h"
#include "core/sizes.h"
#include "job_control.h"
#include "pack/pack_planner.h"
#include "pack/input_file.h"

#include <QThread>

#include <zlib.h>

#include <cstring>
#include <memory>

namespace {

// How far the deflating threads may run ahead of libzip's writer. Together
// with the per-thread buffers this keeps memory flat whatever the input.
constexpr qint64 ahead_budget = 32 * 1024 * 1024;
// The writer copies far faster than files deflate, so it keeps catching up.
// Waking it for each small file would cost a pair of thread switches per
// file; it sleeps until a batch is ready instead.
constexpr size_t wake_batch = 64;
constexpr qint64 wake_bytes = 1024 * 1024;
// Deflating threads: more than four gain little against one writer.
constexpr int most_threads = 4;

// Opens a piece's file as planned and ready to deflate from offset: "" or why not.
QString open_piece(Input_File &file, const Pack_Entry &entry, const Piece_Deflater &z, qint64 offset)
{
    if (!file.open())
        return file.reason();
    if (!file.is_as_planned(entry.identity()))
        return changed_reason(entry.source_path);
    if (!z.is_ready())
        return QStringLiteral("%1: cannot start compression").arg(display_path(entry.source_path));
    if (!file.seek(offset))
        return file.reason();
    return QString();
}

} // namespace

Deflate_Pool::Deflate_Pool(Job_Control &control) : control(control) {}

void Deflate_Pool::start()
{
    const int n = qBound(1, QThread::idealThreadCount(), most_threads);
    for (int i = 0; i < n; ++i)
        threads.emplace_back([this](std::stop_token stop) { work(std::move(stop)); });
}

void Deflate_Pool::add_job(const Pack_Entry *entry)
{
    std::lock_guard<std::mutex> lock(mutex);
    const int job = int(jobs.size());
    jobs.push_back(entry);
    Stream &stream = streams.emplace_back();
    const qint64 size = entry->size;
    const qint64 count = size > segment_size ? (size + segment_size - 1) / segment_size : 1;
    stream.first_item = items.size();
    stream.segments.resize(size_t(count));
    for (qint64 s = 0; s < count; ++s)
        items.push_back({entry, job, size_t(s), s * segment_size,
                         s == count - 1 ? size - s * segment_size : segment_size, s == count - 1});
    work_wait.notify_all();
}

void Deflate_Pool::close_jobs()
{
    std::lock_guard<std::mutex> lock(mutex);
    jobs_closed = true;
    work_wait.notify_all();
}

void Deflate_Pool::stop()
{
    for (std::jthread &t : threads)
        t.request_stop();
    threads.clear(); // joins
}

void Deflate_Pool::begin(int job)
{
    std::lock_guard<std::mutex> lock(mutex);
    streams[size_t(job)].current = 0;
    head = streams[size_t(job)].first_item;
    producer_wait.notify_all();
}

qint64 Deflate_Pool::read(int job, char *out, qint64 length, QString *error)
{
    std::unique_lock<std::mutex> lock(mutex);
    Stream &stream = streams[size_t(job)];
    for (;;) {
        Segment &s = stream.segments[stream.current];
        if (!s.blocks.empty()) {
            QByteArray &front = s.blocks.front();
            const qint64 n = qMin(length, qint64(front.size()) - s.front_offset);
            memcpy(out, front.constData() + s.front_offset, size_t(n));
            s.front_offset += n;
            if (s.front_offset == front.size()) {
                buffered -= front.size();
                s.blocks.pop_front();
                s.front_offset = 0;
                producer_wait.notify_all();
            }
            return n;
        }
        if (s.failed) {
            *error = s.error;
            return -1;
        }
        if (s.finished) {
            if (stream.current + 1 == stream.segments.size())
                return end_of_stream(job, error);
            ++stream.current;
            head = stream.first_item + stream.current;
            producer_wait.notify_all();
            continue;
        }
        if (cancelled()) {
            *error = cancelled_message();
            return -1;
        }
        // No polling: a cancel reaches the worker on this segment within one
        // block, and its failure wakes this wait.
        waiting_on = &s;
        wake_at = qMin(head + wake_batch, items.size());
        consumer_wait.wait(lock, [&] { return writer_may_go(s); });
        waiting_on = nullptr;
    }
}

// The pieces together must be the whole planned file.
qint64 Deflate_Pool::end_of_stream(int job, QString *error)
{
    qint64 total = 0;
    for (const Segment &piece : streams[size_t(job)].segments)
        total += piece.in_size;
    if (total == jobs[size_t(job)]->size)
        return 0;
    *error = changed_reason(jobs[size_t(job)]->source_path);
    return -1;
}

bool Deflate_Pool::result(int job, quint32 *crc, qint64 *size)
{
    std::lock_guard<std::mutex> lock(mutex);
    uLong total_crc = crc32(0, nullptr, 0);
    qint64 total = 0;
    for (const Segment &s : streams[size_t(job)].segments) {
        if (!s.finished || s.failed)
            return false;
        total_crc = crc32_combine(total_crc, s.crc, z_off_t(s.in_size));
        total += s.in_size;
    }
    if (total != jobs[size_t(job)]->size)
        return false;
    *crc = quint32(total_crc);
    *size = total;
    return true;
}

void Deflate_Pool::work(std::stop_token stop)
{
    size_t index = 0;
    Work_Item item;
    while (take_item(&index, &item, stop))
        if (!deflate_item(index, item, stop))
            return;
}

// The next item in archive order, waiting for the walk to add one; false
// once there are none left or the pool stops.
bool Deflate_Pool::take_item(size_t *index, Work_Item *item, const std::stop_token &stop)
{
    std::unique_lock<std::mutex> lock(mutex);
    work_wait.wait(lock, stop, [&] { return next_item < items.size() || jobs_closed; });
    if (stop.stop_requested() || next_item >= items.size())
        return false;
    *index = next_item++;
    *item = items[*index];
    return true;
}

// The writer goes on once its segment has something for it and a batch of
// files is through, or enough is queued to be worth the switch.
bool Deflate_Pool::writer_may_go(const Segment &s) const
{
    if (s.failed || cancelled())
        return true;
    if (s.blocks.empty() && !s.finished)
        return false;
    qint64 queued = 0;
    for (const QByteArray &block : s.blocks)
        queued += block.size();
    return frontier >= wake_at || queued >= wake_bytes || buffered >= ahead_budget / 2;
}

// Under the lock, after any change the writer may wait for.
void Deflate_Pool::wake_writer()
{
    while (frontier < items.size() && (segment_of(items[frontier]).finished || segment_of(items[frontier]).failed))
        ++frontier;
    if (waiting_on && writer_may_go(*waiting_on))
        consumer_wait.notify_all();
}

// Hands a block to the writer; waits while too much is queued, except for
// the segment the writer is reading now, which must always make progress.
bool Deflate_Pool::push(size_t item, QByteArray block, const std::stop_token &stop)
{
    std::unique_lock<std::mutex> lock(mutex);
    producer_wait.wait(lock, stop, [&] { return item <= head || buffered < ahead_budget; });
    if (stop.stop_requested())
        return false;
    buffered += block.size();
    segment_of(items[item]).blocks.push_back(std::move(block));
    wake_writer();
    return true;
}

void Deflate_Pool::fail(size_t item, const QString &reason)
{
    std::lock_guard<std::mutex> lock(mutex);
    segment_of(items[item]).failed = true;
    segment_of(items[item]).error = reason;
    wake_writer();
}

void Deflate_Pool::finish(size_t item, quint32 crc, qint64 in_size)
{
    std::lock_guard<std::mutex> lock(mutex);
    Segment &s = segment_of(items[item]);
    s.crc = crc;
    s.in_size = in_size;
    s.finished = true;
    wake_writer();
}

// False when the pool stops: the writer has given up.
bool Deflate_Pool::deflate_item(size_t item_index, const Work_Item &item, const std::stop_token &stop)
{
    const Pack_Entry &entry = *item.entry;
    Input_File file(entry.source_path);
    Piece_Deflater z(deflate_level_for(entry.size));
    QString reason = open_piece(file, entry, z, item.offset);
    if (!reason.isEmpty()) {
        fail(item_index, reason);
        return true;
    }
    quint32 crc = 0;
    qint64 in_size = 0;
    bool ok = deflate_blocks(file, z, item_index, item, stop, &crc, &in_size, &reason);
    if (ok && !file.is_as_planned(entry.identity())) {
        ok = false;
        reason = changed_reason(entry.source_path);
    }
    if (!ok) {
        if (reason.isEmpty())
            return false;
        fail(item_index, reason);
        return true;
    }
    finish(item_index, crc, in_size);
    return true;
}

// Reads the piece block by block into the deflater. False with a reason, or
// with none when the pool stops.
bool Deflate_Pool::deflate_blocks(Input_File &file, Piece_Deflater &z, size_t item_index, const Work_Item &item,
                                  const std::stop_token &stop, quint32 *crc, qint64 *in_size, QString *reason)
{
    const os::Path &path = item.entry->source_path;
    std::unique_ptr<char[]> in(new char[io_block]);
    for (bool end = false; !end;) {
        if (cancelled()) {
            *reason = cancelled_message();
            return false;
        }
        const qint64 n = file.read(in.get(), qMin(io_block, item.length - *in_size));
        if (n <= 0) {
            // One that ends sooner than planned has changed.
            *reason = n < 0 ? file.reason() : changed_reason(path);
            return false;
        }
        end = *in_size + n == item.length;
        *crc = checksum_update(*crc, in.get(), n);
        *in_size += n;
        bool taken = true;
        const bool ok = z.add(in.get(), n, end, item.last,
                              [&](QByteArray block) { return taken = push(item_index, std::move(block), stop); });
        if (!ok && taken)
            *reason = QStringLiteral("%1: cannot compress").arg(display_path(path));
        control.add_done(n);
        if (!ok)
            return false;
    }
    return true;
}
