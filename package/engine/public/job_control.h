// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDateTime>
#include <QString>

#include <atomic>
#include <functional>
#include <mutex>
#include <optional>

// The one error line of a cancelled run.
QString cancelled_message();
// The reason of a run that ran out of memory (or of threads).
QString out_of_memory_message();

// Where a run takes the time from. The system's clock, unless a test sets
// one that moves on without waiting.
class Run_Clock
{
public:
    virtual ~Run_Clock() = default;
    virtual QDateTime now() = 0;
    // Returns once now() has passed into the next second.
    virtual void wait_for_next_second() = 0;
    // Milliseconds on a clock that never goes back, for pacing progress reports.
    virtual qint64 monotonic_ms() = 0;
};

// Points a run passes, named so that a test can act at one (cancel there,
// or hold the run there) instead of after some time has gone by.
enum class Run_Point {
    Archive_Opened, // encryption: the container's private file is made, its archive open, nothing added yet
    File_Unpacked   // a file is complete, not yet named (from any of the unpacking threads)
};
// "archive_opened", "file_unpacked": the names a test gives them from outside.
QString run_point_name(Run_Point point);
std::optional<Run_Point> run_point_named(const QString &name);

// Shared between a running pipeline and whoever started it: the starter may
// cancel from any thread, the pipeline reports progress from its own thread.
// Runs started without one get one that nobody watches.
class Job_Control
{
public:
    using Progress_Handler = std::function<void(qint64 done, qint64 total)>;
    using Point_Handler = std::function<void(Run_Point point)>;

    Job_Control();

    void cancel()
    {
        cancelled.store(true, std::memory_order_relaxed);
        cancelled.notify_all();
    }
    bool is_cancelled() const { return cancelled.load(std::memory_order_relaxed); }
    // Stops the run as a cancel does, from any thread, but as a failure with
    // this reason (the first one given wins): the usual clean-up follows.
    void fail(const QString &reason);
    // Empty unless fail() was called.
    QString failure() const;

    // Set before the pipeline starts; called on the pipeline's thread.
    void set_progress_handler(Progress_Handler handler) { progress_handler = std::move(handler); }

    // Used by the pipeline: the total may grow while the run learns its input.
    // add_total() and advance() report (throttled) and belong to the pipeline's
    // thread; helper threads use add_done() and leave reporting to it.
    void add_total(qint64 bytes);
    void advance(qint64 bytes);
    void add_done(qint64 bytes) { done_bytes.fetch_add(bytes, std::memory_order_relaxed); }
    // Reports now, unthrottled: the pipeline's final word on progress.
    void report_now();
    // Reports if enough has changed since the last report.
    void report_progress() { report(); }
    qint64 done() const { return done_bytes.load(std::memory_order_relaxed); }
    qint64 total() const { return total_bytes.load(std::memory_order_relaxed); }

    // Set before the pipeline starts. The handler may be called from any of the run's threads.
    void set_point_handler(Point_Handler handler) { point_handler = std::move(handler); }
    void set_clock(Run_Clock *test_clock) { run_clock = test_clock; }
    // Set before the pipeline starts: the run waits at `point` (after its
    // handler) until it is cancelled, so a test acts on a run surely under way.
    void hold_at(Run_Point point) { held_point = point; }
    void reached(Run_Point point) const
    {
        if (point_handler)
            point_handler(point);
        if (held_point == point)
            cancelled.wait(false, std::memory_order_relaxed);
    }
    Run_Clock &clock() const { return *run_clock; }

private:
    void report();

    std::atomic<bool> cancelled{false};
    mutable std::mutex failure_mutex;
    QString failure_reason;
    std::atomic<qint64> done_bytes{0};
    std::atomic<qint64> total_bytes{0};
    Progress_Handler progress_handler;
    Point_Handler point_handler;
    std::optional<Run_Point> held_point;
    Run_Clock *run_clock;
    // Throttle state, touched only on the pipeline's thread.
    qint64 last_report_ms = -1;
    int last_report_permille = -1;
};
