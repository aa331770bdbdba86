#include "package_pipeline.h"

#include "pack/deflate_pool.h"
#include "job_control.h"
#include "core/pipeline_steps.h"
#include "core/private_file.h"
#include "pack/archive_writer.h"
#include "pack/pack_planner.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QThread>

#include <cerrno>
#include <cstring>

#include <sys/stat.h>

using namespace pipeline;

namespace {

// "yyyyMMdd__hhmmss_ddd" with ASCII digits whatever the locale, and the
// system locale's abbreviated day name.
QString time_stamp(const QDateTime &t)
{
    return t.toString(QStringLiteral("yyyyMMdd__hhmmss_"))
           + QLocale::system().dayName(t.date().dayOfWeek(), QLocale::ShortFormat);
}

QString system_reason()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

// Makes folder and its missing parents; false with the system's reason.
bool make_folder(const QString &folder, QString *reason)
{
    const QStringList parts = QDir::cleanPath(QDir(folder).absolutePath()).split(QLatin1Char('/'));
    QString path;
    for (const QString &part : parts) {
        path += part.isEmpty() && path.isEmpty() ? QString() : QLatin1Char('/') + part;
        if (path.isEmpty())
            continue;
        if (::mkdir(QFile::encodeName(path).constData(), 0777) != 0 && errno != EEXIST) {
            *reason = system_reason();
            return false;
        }
    }
    if (!QFileInfo(folder).isDir()) {
        *reason = QString::fromLocal8Bit(std::strerror(ENOTDIR));
        return false;
    }
    return true;
}

// One encryption run, phase by phase: plan, write the archive enciphered,
// publish the container. A phase that fails leaves its reason in `failure`
// (empty when the errors or a cancel already say it).
class Encryption
{
public:
    explicit Encryption(Job_Control *control) : control(control) { result.is_encryption = true; }

    Package_Result run(const QStringList &files, const QStringList &folders, const QString &base_dir);

private:
    Job_Control *control;
    Package_Result result;
    QString stamp = time_stamp(QDateTime::currentDateTime());
    QString work;
    QString failure;

    bool failed(const QString &reason)
    {
        failure = reason;
        return false;
    }
    bool plan(const QStringList &files, const QStringList &folders, const QString &base_dir, Pack_Plan *plan,
              Deflate_Pool &pool);
    bool write(const Pack_Plan &plan, Deflate_Pool &pool, Private_File &part);
    bool publish(Private_File &part);
};

Package_Result Encryption::run(const QStringList &files, const QStringList &folders, const QString &base_dir)
{
    Pack_Plan pack_plan;
    // Private until the container is published complete.
    Private_File part;
    // Deflates files while the walk goes on; stopped before the plan goes.
    Deflate_Pool pool(control);
    if (!plan(files, folders, base_dir, &pack_plan, pool) || !write(pack_plan, pool, part) || !publish(part))
        return fail(result, failure, control);
    result.is_ok = true;
    finish_progress(control);
    return result;
}

bool Encryption::plan(const QStringList &files, const QStringList &folders, const QString &base_dir,
                      Pack_Plan *plan, Deflate_Pool &pool)
{
    if (files.isEmpty() && folders.isEmpty())
        return failed(QStringLiteral("Nothing to pack: no files or folders were chosen"));
    work = QDir(base_dir.isEmpty() ? QDir::currentPath() : base_dir).absoluteFilePath(working_folder_name());
    QString reason;
    if (!make_folder(work, &reason))
        return failed(QStringLiteral("%1: cannot create the working folder: %2").arg(work, reason));
    // Temporaries of runs that ended without cleaning up (killed, power lost).
    remove_abandoned_temporaries(work);

    pool.start();
    plan_pack(files, folders, &result.errors, control, plan, [&](const Pack_Entry &e) {
        if (control)
            control->add_total(e.size);
        if (e.deflate)
            pool.add_job(&e);
    });
    pool.close_jobs();
    result.warnings = plan->warnings;
    if (!result.errors.isEmpty() || is_cancelled(control))
        return false;
    if (plan->entries.empty())
        return failed(QStringLiteral("Nothing to pack: the chosen items hold no files or folders"));
    return true;
}

// The archive is enciphered on its way into the file: no plain copy is ever written.
bool Encryption::write(const Pack_Plan &plan, Deflate_Pool &pool, Private_File &part)
{
    QString reason;
    if (!part.create(work, container_suffix() + QStringLiteral(".part"), &reason))
        return failed(QStringLiteral("%1: cannot create a temporary file: %2").arg(work, reason));
    if (!write_archive(plan, pool, part.file(), work, Archive_Form::Enciphered, control, &reason))
        return failed(reason);
    return true;
}

// The container appears under its final name only when complete, and never
// in place of another: a name taken (by a user or by a run at the same
// moment) waits for the next second's time stamp.
bool Encryption::publish(Private_File &part)
{
    for (int attempt = 0;; ++attempt) {
        const QString container = work + QLatin1Char('/') + stamp + container_suffix();
        bool taken = false;
        QString reason;
        if (part.publish(container, &taken, &reason)) {
            result.container_path = container;
            return true;
        }
        if (!taken || attempt >= 30)
            return failed(QStringLiteral("%1: cannot save the container: %2").arg(container, reason));
        if (is_cancelled(control))
            return false;
        const QDateTime now = QDateTime::currentDateTime();
        QThread::msleep(quint64(1000 - now.time().msec()));
        stamp = time_stamp(QDateTime::currentDateTime());
    }
}

} // namespace

Package_Result run_encryption(const QStringList &files, const QStringList &folders, const QString &base_dir,
                              Job_Control *control)
{
    return Encryption(control).run(files, folders, base_dir);
}
