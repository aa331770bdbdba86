// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "job_control.h"
#include "package_pipeline.h"

#include <QMetaType>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

Q_DECLARE_METATYPE(Package_Result)

// A run's result as the window's end-of-work signal carries it: a map of
// "is_encryption" and "is_ok" (bool) and the whole result under "result".
QVariant end_work_value(const Package_Result &result);
// Back from such a value; a map without the whole result still tells the
// type and the outcome.
Package_Result end_work_result(const QVariant &value);

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
        // Encryption: seals the container with it (empty: none).
        Password password;
        // Where the user directed the run (a name, a folder, chosen entries).
        Pack_Options pack;
        Unpack_Options unpack;
    };
    // Asks the user for a protected container's password, on the job's thread.
    using Password_Asker = Password_Provider;
    // Makes the worker thread; throws std::system_error when none can be made.
    using Thread_Starter = std::function<std::thread(std::function<void()> body)>;

    explicit Package_Job(QObject *parent = nullptr);
    ~Package_Job() override;

    // Tests replace how the thread is made, to see a failed start.
    void set_thread_starter(Thread_Starter starter) { thread_starter = std::move(starter); }
    // Tests: each run waits at `point` until it is cancelled (Job_Control::hold_at).
    void hold_at(Run_Point point) { held_point = point; }
    // Decryption asks it when a run reaches a protected container; the worker
    // waits for the answer. Without one such a container is refused.
    void set_password_asker(Password_Asker asker) { password_asker = std::move(asker); }

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
    // The run no longer waits for a password (cancelled): close the question.
    void password_withdrawn();

private:
    void work(const Input &input, const Password_Asker &asker);
    void deliver(quint64 run);
    // On the worker: asks on the job's thread and waits for the answer or a cancel.
    bool ask_password(const Password_Asker &asker, const QString &container, int attempt, Password *out);
    // Ends the worker's wait with no password.
    void withdraw_question();

    struct Question;

    Thread_Starter thread_starter;
    Password_Asker password_asker;
    // The question the worker waits on, if any; guarded by its own mutex.
    std::mutex question_mutex;
    std::shared_ptr<Question> question;
    std::optional<Run_Point> held_point;
    std::unique_ptr<Job_Control> control;
    std::thread worker;
    // Written by the worker, read only after it is joined.
    Package_Result outcome;
    // Tells a run's late delivery from the current run's after an abandon.
    quint64 run_number = 0;
};
