// SPDX-License-Identifier: GPL-3.0-or-later
#include "job_control.h"

#include "platform/system.h"

#include <QThread>

#include <chrono>

namespace {

class System_Clock : public Run_Clock
{
public:
    QDateTime now() override { return QDateTime::currentDateTime(); }
    void wait_for_next_second() override
    {
        const QDateTime start = QDateTime::currentDateTime();
        QThread::msleep(quint64(1000 - start.time().msec()));
    }
    qint64 monotonic_ms() override
    {
        using namespace std::chrono;
        return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
    }
};

const std::pair<Run_Point, const char *> point_names[] = {{Run_Point::Archive_Opened, "archive_opened"},
                                                          {Run_Point::File_Unpacked, "file_unpacked"}};

System_Clock system_clock;

} // namespace

// A run is about to start: its threads must fit a memory limit.
Job_Control::Job_Control() : run_clock(&system_clock)
{
    os::adapt_to_memory_limit();
}

QString cancelled_message()
{
    return QStringLiteral("Cancelled");
}

QString out_of_memory_message()
{
    return QStringLiteral("out of memory");
}

void Job_Control::fail(const QString &reason)
{
    {
        const std::lock_guard<std::mutex> lock(failure_mutex);
        if (failure_reason.isEmpty())
            failure_reason = reason;
    }
    cancel();
}

QString Job_Control::failure() const
{
    const std::lock_guard<std::mutex> lock(failure_mutex);
    return failure_reason;
}

QString run_point_name(Run_Point point)
{
    for (const auto &[named, name] : point_names)
        if (named == point)
            return QString::fromLatin1(name);
    return QString();
}

std::optional<Run_Point> run_point_named(const QString &name)
{
    for (const auto &[point, named] : point_names)
        if (name == QLatin1String(named))
            return point;
    return std::nullopt;
}

void Job_Control::add_total(qint64 bytes)
{
    total_bytes.fetch_add(bytes, std::memory_order_relaxed);
    report();
}

void Job_Control::advance(qint64 bytes)
{
    add_done(bytes);
    report();
}

void Job_Control::report_now()
{
    if (!progress_handler)
        return;
    last_report_ms = run_clock->monotonic_ms();
    const qint64 t = total();
    const qint64 d = t > 0 ? qMin(done(), t) : done();
    last_report_permille = t > 0 ? int(d * 1000 / t) : 0;
    progress_handler(d, t);
}

// At most one call per 1/1000 step and per 20 ms: a window repaints no faster,
// and a busy run must not flood the event queue with progress events.
void Job_Control::report()
{
    if (!progress_handler)
        return;
    const qint64 t = total();
    const qint64 d = t > 0 ? qMin(done(), t) : done();
    const int permille = t > 0 ? int(d * 1000 / t) : 0;
    if (permille == last_report_permille)
        return;
    const qint64 now = run_clock->monotonic_ms();
    if (last_report_ms >= 0 && now - last_report_ms < 20 && !(t > 0 && d >= t))
        return;
    last_report_ms = now;
    last_report_permille = permille;
    progress_handler(d, t);
}
