// SPDX-License-Identifier: GPL-3.0-or-later
#include "package_job.h"

#include <condition_variable>
#include <exception>
#include <system_error>
#include <utility>

namespace {

const QString key_is_encryption = QStringLiteral("is_encryption");
const QString key_is_ok = QStringLiteral("is_ok");
const QString key_result = QStringLiteral("result");

} // namespace

QVariant end_work_value(const Package_Result &result)
{
    return QVariantMap{{key_is_encryption, result.is_encryption},
                       {key_is_ok, result.is_ok},
                       {key_result, QVariant::fromValue(result)}};
}

Package_Result end_work_result(const QVariant &value)
{
    const QVariantMap map = value.toMap();
    Package_Result result = map.value(key_result).value<Package_Result>();
    result.is_encryption = map.value(key_is_encryption).toBool();
    result.is_ok = map.value(key_is_ok).toBool();
    return result;
}

// One password question from the worker; the first answer counts.
struct Package_Job::Question
{
    std::mutex mutex;
    std::condition_variable answered_cv;
    bool answered = false;
    bool given = false;
    Password password;

    void answer(bool is_given, const Password &given_password)
    {
        {
            std::lock_guard lock(mutex);
            if (answered)
                return;
            answered = true;
            given = is_given;
            if (is_given)
                password = given_password;
        }
        answered_cv.notify_all();
    }
    bool is_answered()
    {
        std::lock_guard lock(mutex);
        return answered;
    }
};

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
        worker = thread_starter([this, input, run, asker = password_asker] {
            work(input, asker);
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

void Package_Job::work(const Input &input, const Password_Asker &asker)
{
    try {
        if (input.is_encryption) {
            Pack_Options options = input.pack;
            options.password = input.password;
            outcome = run_encryption(input.files, input.folders, input.base_dir, control.get(), options);
        } else {
            Unpack_Options options = input.unpack;
            if (asker)
                options.ask_password = [this, asker](const QString &container, int attempt, Password *out) {
                    return ask_password(asker, container, attempt, out);
                };
            outcome = run_decryption(input.files, control.get(), options);
        }
    } catch (const std::exception &error) {
        // Whatever went wrong is reported; it must not end the program.
        outcome = Package_Result();
        outcome.is_encryption = input.is_encryption;
        outcome.errors.append(QString::fromLocal8Bit(error.what()));
    }
}

bool Package_Job::ask_password(const Password_Asker &asker, const QString &container, int attempt, Password *out)
{
    auto asked = std::make_shared<Question>();
    {
        // A cancel either comes first and is seen here, or finds the question.
        std::lock_guard lock(question_mutex);
        if (control->is_cancelled())
            return false;
        question = asked;
    }
    // The dialog runs on the job's thread; dropped if the job is gone, whose
    // end answered the question already.
    QMetaObject::invokeMethod(
        this,
        [asked, asker, container, attempt] {
            if (asked->is_answered())
                return;
            Password given;
            const bool is_given = asker(container, attempt, &given);
            asked->answer(is_given, given);
        },
        Qt::QueuedConnection);
    {
        std::unique_lock lock(asked->mutex);
        asked->answered_cv.wait(lock, [&] { return asked->answered; });
    }
    {
        std::lock_guard lock(question_mutex);
        if (question == asked)
            question.reset();
    }
    if (asked->given)
        *out = asked->password;
    return asked->given;
}

void Package_Job::withdraw_question()
{
    std::shared_ptr<Question> open;
    {
        std::lock_guard lock(question_mutex);
        open = std::exchange(question, nullptr);
    }
    if (!open)
        return;
    open->answer(false, Password());
    emit password_withdrawn();
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
    if (!control)
        return;
    control->cancel();
    withdraw_question();
}

std::optional<Package_Result> Package_Job::abandon()
{
    if (!worker.joinable())
        return std::nullopt;
    control->cancel();
    // A worker waiting for a password would never end otherwise.
    withdraw_question();
    worker.join();
    control.reset();
    return outcome;
}
