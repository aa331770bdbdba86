#pragma once

#include <QByteArray>
#include <QString>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <stop_token>
#include <thread>
#include <vector>

#include "pack/deflate_codec.h"
#include "job_control.h"

struct Pack_Entry;
class Input_File;

constexpr int deflate_level = 6;

// Files under a MiB are most of a real folder's count but little of its size:
// one level less costs them about 1% of size and saves about a fifth of the time.
constexpr int deflate_level_for(qint64 file_size)
{
    return file_size < (1 << 20) ? deflate_level - 1 : deflate_level;
}

// Deflates files on worker threads, in archive order, into bounded queues that
// libzip's writer drains from within zip_close on the pipeline's thread. Jobs
// may be added while the workers run, so deflating starts while the chosen
// folders are still being walked.
class Deflate_Pool
{
public:
    explicit Deflate_Pool(Job_Control &control);
    ~Deflate_Pool() { stop(); }

    void start();
    // Job numbers follow the order of adding; the entry must stay where it is.
    void add_job(const Pack_Entry *entry);
    // No more jobs: workers that run out of them end.
    void close_jobs();
    // Stops the workers and waits for them.
    void stop();

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
        std::deque<QByteArray> blocks;
        qint64 front_offset = 0;
        bool finished = false;
        bool failed = false;
        QString error;
        quint32 crc = 0;
        qint64 in_size = 0;
    };

    struct Stream
    {
        std::vector<Segment> segments;
        size_t first_item = 0;
        size_t current = 0; // segment the writer reads now
    };

    struct Work_Item
    {
        const Pack_Entry *entry = nullptr;
        int job = 0;
        size_t segment = 0;
        qint64 offset = 0;
        qint64 length = 0; // as planned; a file that ends sooner has changed
        bool last = true;
    };

    static constexpr qint64 segment_size = deflate_piece_size;

    // Deques: adding keeps the places of what is there.
    std::deque<const Pack_Entry *> jobs;
    std::deque<Stream> streams;
    std::deque<Work_Item> items;
    Job_Control &control;
    std::mutex mutex;
    std::condition_variable_any producer_wait;
    std::condition_variable_any consumer_wait;
    std::condition_variable_any work_wait;
    size_t next_item = 0;
    bool jobs_closed = false;
    size_t head = 0;
    qint64 buffered = 0;
    // Items before this one are all through (finished or failed).
    size_t frontier = 0;
    // While the writer waits: the segment it waits on, and the frontier that wakes it.
    const Segment *waiting_on = nullptr;
    size_t wake_at = 0;
    // Last: destroyed first, so no worker outlives what it uses.
    std::vector<std::jthread> threads;

    bool cancelled() const { return control.is_cancelled(); }
    bool writer_may_go(const Segment &s) const;
    void wake_writer();
    Segment &segment_of(const Work_Item &item) { return streams[size_t(item.job)].segments[item.segment]; }
    qint64 end_of_stream(int job, QString *error);

    void work(std::stop_token stop);
    bool take_item(size_t *index, Work_Item *item, const std::stop_token &stop);
    bool push(size_t item, QByteArray block, const std::stop_token &stop);
    void fail(size_t item, const QString &reason);
    void finish(size_t item, quint32 crc, qint64 in_size);
    bool deflate_item(size_t item_index, const Work_Item &item, const std::stop_token &stop);
    bool deflate_blocks(Input_File &file, Piece_Deflater &z, size_t item_index, const Work_Item &item,
                        const std::stop_token &stop, quint32 *crc, qint64 *in_size, QString *reason);
};
