#pragma once

#include "job_control.h"
#include "package_pipeline.h"

#include <QMetaType>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>
#include <thread>

Q_DECLARE_METATYPE(Package_Result)

// One run of encryption or decryption on a worker thread of its own. The
// thread is always joined, never detached: by the end of the run, by
// abandon(), or by the destructor.
class Package_Job : public QObject
{
    Q_OBJECT

public:
    // What one run works on, copied when it starts, so whoever started it is
    // free to change (or go away) while the worker reads it.
    struct Input
    {
        bool is_encryption = true;
        QStringList files;
        QStringList folders;
        QString base_dir;
    };
    // Makes the worker thread; throws std::system_error when none can be made.
    using Thread_Starter = std::function<std::thread(std::function<void()> body)>;

    explicit Package_Job(QObject *parent = nullptr);
    ~Package_Job() override;

    // Tests replace how the thread is made, to see a failed start.
    void set_thread_starter(Thread_Starter starter) { thread_starter = std::move(starter); }
    // Tests: each run waits at `point` until it is cancelled (Job_Control::hold_at).
    void hold_at(Run_Point point) { held_point = point; }

    bool is_running() const { return worker.joinable(); }
    // Starts a run unless one is running. When no thread can be made nothing
    // runs, and the failure is returned as the run's result.
    std::optional<Package_Result> start(const Input &input);
    // Asks the run to stop; it still ends with finished(), marked cancelled.
    void cancel();
    // Cancels and waits for the worker: finished() is not emitted for this
    // run, its result is returned instead (none when nothing was running).
    std::optional<Package_Result> abandon();

signals:
    // From the worker thread, paced by the engine.
    void progress(qint64 done, qint64 total);
    // On the thread the job lives on, once the worker is joined.
    void finished(const Package_Result &result);

private:
    void work(const Input &input);
    void deliver(quint64 run);

    Thread_Starter thread_starter;
    std::optional<Run_Point> held_point;
    std::unique_ptr<Job_Control> control;
    std::thread worker;
    // Written by the worker, read only after it is joined.
    Package_Result outcome;
    // Tells a run's late delivery from the current run's after an abandon.
    quint64 run_number = 0;
};
