#include "package_job.h"

#include <exception>
#include <system_error>
#include <utility>

Package_Job::Package_Job(QObject *parent)
    : QObject(parent)
    , thread_starter([](std::function<void()> body) { return std::thread(std::move(body)); })
{
    qRegisterMetaType<Package_Result>();
}

Package_Job::~Package_Job()
{
    // The worker reports through this object: it must end first.
    abandon();
}

std::optional<Package_Result> Package_Job::start(const Input &input)
{
    if (is_running())
        return std::nullopt;
    control = std::make_unique<Job_Control>();
    // The engine already paces its reports; each one is a queued hop to the receiver.
    control->set_progress_handler([this](qint64 done, qint64 total) { emit progress(done, total); });
    if (held_point)
        control->hold_at(*held_point);
    outcome = Package_Result();
    const quint64 run = ++run_number;
    try {
        worker = thread_starter([this, input, run] {
            work(input);
            // Runs on this object's thread; dropped if the object is gone by then.
            QMetaObject::invokeMethod(this, [this, run] { deliver(run); }, Qt::QueuedConnection);
        });
    } catch (const std::system_error &error) {
        control.reset();
        Package_Result failed;
        failed.is_encryption = input.is_encryption;
        failed.errors.append(QStringLiteral("The work could not be started: %1")
                                 .arg(QString::fromLocal8Bit(error.what())));
        return failed;
    }
    return std::nullopt;
}

void Package_Job::work(const Input &input)
{
    try {
        outcome = input.is_encryption ? run_encryption(input.files, input.folders, input.base_dir, control.get())
                                      : run_decryption(input.files, control.get());
    } catch (const std::exception &error) {
        // Whatever went wrong is reported; it must not end the program.
        outcome = Package_Result();
        outcome.is_encryption = input.is_encryption;
        outcome.errors.append(QString::fromLocal8Bit(error.what()));
    }
}

void Package_Job::deliver(quint64 run)
{
    // An abandoned run was joined and answered already.
    if (run != run_number || !worker.joinable())
        return;
    // The worker posts this as its last act, so the join is immediate.
    worker.join();
    control.reset();
    emit finished(outcome);
}

void Package_Job::cancel()
{
    if (control)
        control->cancel();
}

std::optional<Package_Result> Package_Job::abandon()
{
    if (!worker.joinable())
        return std::nullopt;
    control->cancel();
    worker.join();
    control.reset();
    return outcome;
}
