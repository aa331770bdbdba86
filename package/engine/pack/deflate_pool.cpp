// SPDX-License-Identifier: GPL-3.0-or-later
#include "pack/deflate_pool.h"

#include "job_control.h"
#include "pack/input_file.h"

#include <QThread>

#include <zlib.h>

#include <cstring>
#include <system_error>

// The pool's queues and the writer's side; the workers' side is deflate_worker.cpp.

namespace {

// Deflating threads: more than four gain little against one writer.
constexpr int most_threads = 4;

} // namespace

Deflate_Pool::Deflate_Pool(Job_Control &control) : control(control) {}

bool Deflate_Pool::cancelled() const
{
    return control.is_cancelled();
}

void Deflate_Pool::start()
{
    const int n = qBound(1, QThread::idealThreadCount(), most_threads);
    // Fewer threads under a low limit are only slower; none at all is a failure.
    for (int i = 0; i < n; ++i) {
        try {
            threads.emplace_back([this](std::stop_token stop) { work(std::move(stop)); });
        } catch (const std::system_error &) {
            if (threads.empty())
                throw;
            break;
        }
    }
}

void Deflate_Pool::add_job(Planned_File *file)
{
    std::lock_guard<std::mutex> lock(mutex);
    file->job = jobs_added++;
    waiting.push_back(file);
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

// Under the lock: the next waiting job becomes a stream, its segments numbered.
void Deflate_Pool::start_stream()
{
    Stream &stream = streams.emplace_back();
    stream.file = waiting.front();
    waiting.pop_front();
    ++jobs_started;
    const qint64 size = stream.file->identity.size;
    stream.segments.resize(size_t(size > segment_size ? (size + segment_size - 1) / segment_size : 1));
    stream.first_sequence = next_sequence;
    next_sequence += stream.segments.size();
}

void Deflate_Pool::begin(int job)
{
    std::lock_guard<std::mutex> lock(mutex);
    // The writer is done with every job before this one.
    while (!streams.empty() && first_job < job) {
        streams.pop_front();
        ++first_job;
        open_stream = open_stream > 0 ? open_stream - 1 : 0;
        frontier_stream = frontier_stream > 0 ? frontier_stream - 1 : 0;
    }
    while (job - first_job >= int(streams.size()) && jobs_waiting())
        start_stream();
    head = stream_of(job).first_sequence;
    producer_wait.notify_all();
    work_wait.notify_all();
}

qint64 Deflate_Pool::read(int job, char *out, qint64 length, QString *error)
{
    std::unique_lock<std::mutex> lock(mutex);
    Stream &stream = stream_of(job);
    for (;;) {
        Segment &s = stream.segments[stream.current];
        if (s.first < s.blocks.size()) {
            QByteArray &front = s.blocks[s.first];
            const qint64 n = qMin(length, qint64(front.size()) - s.front_offset);
            memcpy(out, front.constData() + s.front_offset, size_t(n));
            s.front_offset += n;
            s.queued -= n;
            if (s.front_offset == front.size()) {
                buffered -= front.size();
                front = QByteArray();
                s.front_offset = 0;
                if (++s.first == s.blocks.size()) {
                    s.blocks.clear();
                    s.first = 0;
                }
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
            ++head;
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
        wake_at = head + wake_batch;
        consumer_wait.wait(lock, [&] { return writer_may_go(s); });
        waiting_on = nullptr;
    }
}

// The pieces together must be the whole planned file.
qint64 Deflate_Pool::end_of_stream(int job, QString *error)
{
    qint64 total = 0;
    for (const Segment &piece : stream_of(job).segments)
        total += piece.in_size;
    if (total == stream_of(job).file->identity.size)
        return 0;
    *error = changed_reason(stream_of(job).file->path());
    return -1;
}

bool Deflate_Pool::result(int job, quint32 *crc, qint64 *size)
{
    std::lock_guard<std::mutex> lock(mutex);
    if (job - first_job >= int(streams.size()))
        return false; // not started
    uLong total_crc = crc32(0, nullptr, 0);
    qint64 total = 0;
    for (const Segment &s : stream_of(job).segments) {
        if (!s.finished || s.failed)
            return false;
        total_crc = crc32_combine(total_crc, s.crc, z_off_t(s.in_size));
        total += s.in_size;
    }
    if (total != stream_of(job).file->identity.size)
        return false;
    *crc = quint32(total_crc);
    *size = total;
    return true;
}

// The writer goes on once its segment has something for it and a batch of
// files is through, or enough is queued to be worth the switch.
bool Deflate_Pool::writer_may_go(const Segment &s) const
{
    if (s.failed || cancelled())
        return true;
    if (s.queued == 0 && !s.finished)
        return false;
    // The last jobs may be fewer than a batch.
    const bool all_through = jobs_closed && !jobs_waiting() && frontier >= next_sequence;
    return frontier >= wake_at || all_through || s.queued >= wake_bytes || buffered >= ahead_budget / 2;
}

// Under the lock, after any change the writer may wait for.
void Deflate_Pool::wake_writer()
{
    while (frontier_stream < streams.size()) {
        const Stream &s = streams[frontier_stream];
        const quint64 index = frontier - s.first_sequence;
        if (index >= s.segments.size()) {
            ++frontier_stream;
            continue;
        }
        if (!s.segments[index].through())
            break;
        ++frontier;
    }
    if (waiting_on && writer_may_go(*waiting_on))
        consumer_wait.notify_all();
}
