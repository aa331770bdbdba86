#pragma once

#include <QString>

#include <atomic>
#include <functional>

// The one error line of a cancelled run.
QString cancelled_message();

// Shared between a running pipeline and whoever started it: the starter may
// cancel from any thread, the pipeline reports progress from its own thread.
class Job_Control
{
public:
    using Progress_Handler = std::function<void(qint64 done, qint64 total)>;

    void cancel() { cancelled.store(true, std::memory_order_relaxed); }
    bool is_cancelled() const { return cancelled.load(std::memory_order_relaxed); }

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

private:
    void report();

    std::atomic<bool> cancelled{false};
    std::atomic<qint64> done_bytes{0};
    std::atomic<qint64> total_bytes{0};
    Progress_Handler progress_handler;
    // Throttle state, touched only on the pipeline's thread.
    qint64 last_report_ms = -1;
    int last_report_permille = -1;
};
