// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <stop_token>
#include <thread>
#include <vector>

#include "pack/deflate_codec.h"

class Input_File;
class Job_Control;
struct Planned_File;

constexpr int deflate_level = 6;

// Files under 4 KiB are about half of a source tree's count and a tenth of its
// size: two levels less costs them under 1% of their size and saves a third
// of the time they take. Bigger files get the full level: it keeps
// containers no bigger than Info-ZIP's zips.
constexpr qint64 small_file = 4096;
constexpr int deflate_level_for(qint64 file_size)
{
    return file_size < small_file ? deflate_level - 2 : deflate_level;
}

// Deflates files on worker threads, in archive order, into bounded queues that
// libzip's writer drains from within zip_close on the pipeline's thread. Jobs
// may be added while the workers run, so deflating starts while the chosen
// folders are still being walked. The planned files are not the pool's: it
// keeps a pointer for each job not yet started, and a stream only from the
// moment a worker starts a file to the moment the writer is done with it.
// Its buffers are bounded by the ahead budget, so apart from that one
// pointer per waiting job its memory does not grow with the number of files.
class Deflate_Pool
{
public:
    explicit Deflate_Pool(Job_Control &control);
    ~Deflate_Pool() { stop(); }

    // 1 to 9 for every file, or -1 for deflate_level_for(size); before start().
    void set_level(int chosen) { level = chosen; }
    int level_for(qint64 file_size) const { return level < 0 ? deflate_level_for(file_size) : level; }

    void start();
    // A deflated file, its name set, becomes a job, numbered in the order of
    // adding. The file must stay put until the pool has stopped.
    void add_job(Planned_File *file);
    // No more jobs: workers that run out of them end.
    void close_jobs();
    // Stops the workers and waits for them.
    void stop();

    // The writer's side, in job order: begin a job, read it to its end, ask for its result.
    void begin(int job);
    // Blocks until data, the stream's end (0) or a failure (-1, with reason).
    qint64 read(int job, char *out, qint64 length, QString *error);
    // The whole file's checksum and size, once every segment is through.
    bool result(int job, quint32 *crc, qint64 *size);

private:
    // One piece of a deflated file on its way from a worker thread to libzip's
    // writer. Big files are cut into segments deflated side by side; each segment
    // but the last ends on a byte boundary (sync flush), so the pieces join into
    // one deflate stream. No segment looks back into the one before: what it
    // holds decodes to exactly the bytes its checksum covers, even when the file
    // changes under it.
    struct Segment
    {
        // Deflated, not yet read by the writer: blocks[first] on. A list, not
        // a deque: an empty deque costs half a kilobyte, and a segment is
        // kept for every file in flight.
        QList<QByteArray> blocks;
        qsizetype first = 0;
        qint64 front_offset = 0; // of blocks[first], already read
        qint64 queued = 0;       // bytes in blocks, unread
        bool finished = false;
        bool failed = false;
        QString error;
        quint32 crc = 0;
        qint64 in_size = 0;
        bool through() const { return finished || failed; }
    };

    // One file's job, from its start by a worker to the writer's next job.
    struct Stream
    {
        const Planned_File *file = nullptr;
        std::vector<Segment> segments;
        size_t taken = 0;          // segments handed to workers
        size_t current = 0;        // the segment the writer reads now
        quint64 first_sequence = 0; // segments are numbered across all streams, in archive order
    };

    // A segment a worker deflates: which, and what part of the file.
    struct Work_Item
    {
        const Planned_File *file = nullptr;
        int job = 0;
        size_t segment = 0;
        qint64 offset = 0;
        qint64 length = 0; // as planned; a file that ends sooner has changed
        bool last = true;
        quint64 sequence = 0;
    };

    static constexpr qint64 segment_size = deflate_piece_size;
    // How far the deflating threads may run ahead of libzip's writer. Together
    // with the per-thread buffers this keeps memory flat whatever the input.
    static constexpr qint64 ahead_budget = 8 * 1024 * 1024;
    // The writer copies far faster than files deflate, so it keeps catching up.
    // Waking it for each small file would cost a pair of thread switches per
    // file; it sleeps until a batch is ready instead.
    static constexpr quint64 wake_batch = 64;
    static constexpr qint64 wake_bytes = 1024 * 1024;

    Job_Control &control;
    int level = -1;

    // Everything below is guarded by `mutex`.
    //
    // Jobs, in order: waiting ones (added, not started) follow the streams
    // (started). streams.front() is job first_job; the next job to start is
    // first_job + streams.size() == jobs_started, waiting.front(). Workers take segments in archive order: the first stream
    // with untaken segments is streams[open_stream], and a new stream is
    // started only when every stream is taken. The writer starts a job itself
    // when no worker has yet, and on begin() drops the streams before its
    // job: it is done with them.
    std::mutex mutex;
    std::deque<const Planned_File *> waiting;
    std::deque<Stream> streams;
    int first_job = 0;
    int jobs_added = 0;
    int jobs_started = 0;
    size_t open_stream = 0;
    bool jobs_closed = false;
    quint64 next_sequence = 0;
    // The segment the writer reads now (its sequence number), and the bytes
    // queued in all segments. A worker pushing a block waits on producer_wait
    // while buffered >= ahead budget, unless its segment is head: the writer
    // must always be able to make progress. The writer signals producer_wait
    // whenever it frees a block or moves head.
    quint64 head = 0;
    qint64 buffered = 0;
    // Every segment before frontier (by sequence) is through. frontier_stream
    // is the stream that holds it.
    quint64 frontier = 0;
    size_t frontier_stream = 0;
    // The writer, when its segment has nothing yet, waits on consumer_wait
    // for: data and a whole batch through (frontier >= wake_at) or all jobs
    // through, or enough queued for it, or the budget half full, or a
    // failure or cancel.
    // waiting_on is the segment it waits on (null when it does not wait);
    // workers signal consumer_wait after a change only when it may go.
    const Segment *waiting_on = nullptr;
    quint64 wake_at = 0;
    // Workers wait on work_wait for a job, or for the pool to close.
    std::condition_variable_any producer_wait;
    std::condition_variable_any consumer_wait;
    std::condition_variable_any work_wait;
    // Last: destroyed first, so no worker outlives what it uses.
    std::vector<std::jthread> threads;

    bool cancelled() const;
    bool jobs_waiting() const { return jobs_started < jobs_added; }
    Stream &stream_of(int job) { return streams[size_t(job - first_job)]; }
    Segment &segment_of(const Work_Item &item) { return stream_of(item.job).segments[item.segment]; }
    void start_stream();
    bool writer_may_go(const Segment &s) const;
    void wake_writer();
    qint64 end_of_stream(int job, QString *error);

    void work(std::stop_token stop);
    bool take_item(Work_Item *item, const std::stop_token &stop);
    bool push(const Work_Item &item, QByteArray block, const std::stop_token &stop);
    void fail(const Work_Item &item, const QString &reason);
    void finish(const Work_Item &item, quint32 crc, qint64 in_size);
    bool deflate_item(const Work_Item &item, const std::stop_token &stop);
    bool deflate_blocks(Input_File &file, Piece_Deflater &z, const Work_Item &item, const std::stop_token &stop,
                        quint32 *crc, qint64 *in_size, QString *reason);
};
