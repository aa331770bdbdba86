#include "package_pipeline.h"

#include "container_source.h"
#include "free_name.h"
#include "job_control.h"
#include "kvx_cipher.h"
#include "private_file.h"
#include "zip_extractor.h"
#include "zip_packer.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QThread>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <sys/stat.h>

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

bool is_cancelled(Job_Control *control)
{
    return control && control->is_cancelled();
}

void finish_progress(Job_Control *control)
{
    if (!control)
        return;
    const qint64 missing = control->total() - control->done();
    if (missing > 0)
        control->add_done(missing);
    control->report_now();
}

Package_Result fail(Package_Result result, const QString &reason, Job_Control *control)
{
    result.is_ok = false;
    if (is_cancelled(control)) {
        result.is_cancelled = true;
        result.errors.append(cancelled_message());
    } else if (!reason.isEmpty()) {
        result.errors.append(reason);
    }
    return result;
}

// The folder a container unpacks into: beside it, named by its file name up
// to the first ".". A name without a usable base (".kvxdata", or no "." at
// all, which would be the container itself) gets "<name> contents" instead.
QString destination_name(const QFileInfo &container)
{
    const QString name = container.fileName();
    const QString base = name.section(QLatin1Char('.'), 0, 0);
    if (!base.isEmpty() && base != name)
        return base;
    QString stem = name;
    while (stem.startsWith(QLatin1Char('.')))
        stem.remove(0, 1);
    if (stem.isEmpty())
        stem = QStringLiteral("container");
    return stem + QStringLiteral(" contents");
}

// An existing real folder is shared (two containers with one base name unpack
// into one folder); a name taken by a file or a link gets a numbered name.
QString prepare_destination(const QString &parent, const QString &name, bool *created, QString *reason)
{
    QString why;
    const Claimed_Name folder = claim_folder(parent, name, created, &why);
    if (folder.ok)
        return folder.path;
    *reason = folder.path.isEmpty() ? QStringLiteral("no free folder name for %1").arg(name)
                                    : QStringLiteral("cannot create the folder %1: %2").arg(folder.path, why);
    return QString();
}

// One encryption run, phase by phase: plan, write the archive, encipher it,
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
    qint64 estimate = 0;

    bool failed(const QString &reason)
    {
        failure = reason;
        return false;
    }
    bool plan(const QStringList &files, const QStringList &folders, const QString &base_dir, Pack_Plan *plan);
    bool write(const Pack_Plan &plan, Private_File &archive);
    bool encipher(Private_File &archive, Private_File &part);
    bool publish(Private_File &part);
};

Package_Result Encryption::run(const QStringList &files, const QStringList &folders, const QString &base_dir)
{
    Pack_Plan pack_plan;
    // Both files are private until the container is published complete.
    Private_File archive;
    Private_File part;
    if (!plan(files, folders, base_dir, &pack_plan) || !write(pack_plan, archive) || !encipher(archive, part)
        || !publish(part))
        return fail(result, failure, control);
    result.is_ok = true;
    finish_progress(control);
    return result;
}

bool Encryption::plan(const QStringList &files, const QStringList &folders, const QString &base_dir,
                      Pack_Plan *plan)
{
    if (files.isEmpty() && folders.isEmpty())
        return failed(QStringLiteral("Nothing to pack: no files or folders were chosen"));
    work = QDir(base_dir.isEmpty() ? QDir::currentPath() : base_dir).absoluteFilePath(working_folder_name());
    QString reason;
    if (!make_folder(work, &reason))
        return failed(QStringLiteral("%1: cannot create the working folder: %2").arg(work, reason));
    // Temporaries of runs that ended without cleaning up (killed, power lost).
    remove_abandoned_temporaries(work);

    *plan = plan_pack(files, folders, &result.errors, control);
    result.warnings = plan->warnings;
    if (!result.errors.isEmpty() || is_cancelled(control))
        return false;
    if (plan->entries.empty())
        return failed(QStringLiteral("Nothing to pack: the chosen items hold no files or folders"));
    // The chunk loop's share of the progress, estimated until the archive's size is known.
    estimate = plan->total_bytes - plan->deflate_bytes + plan->deflate_bytes / 4 + qint64(plan->entries.size()) * 100;
    if (control)
        control->add_total(plan->total_bytes + estimate);
    return true;
}

bool Encryption::write(const Pack_Plan &plan, Private_File &archive)
{
    QString reason;
    if (!archive.create(work, QStringLiteral(".zip"), &reason))
        return failed(QStringLiteral("%1: cannot create a temporary file: %2").arg(work, reason));
    if (!write_archive(plan, archive.file(), work, control, &reason))
        return failed(reason);
    if (control)
        control->add_total(archive.file().size() - estimate);
    return true;
}

bool Encryption::encipher(Private_File &archive, Private_File &part)
{
    QString reason;
    if (!part.create(work, container_suffix() + QStringLiteral(".part"), &reason))
        return failed(QStringLiteral("%1: cannot create a temporary file: %2").arg(work, reason));
    if (!archive.file().seek(0) || !run_chunk_loop(archive.file(), part.file(), Cipher_Direction::Encrypt, control, &reason))
        return failed(QStringLiteral("%1: writing the container failed: %2").arg(work, reason));
    if (!part.file().flush())
        return failed(QStringLiteral("%1: writing the container failed: %2").arg(work, part.file().errorString()));
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

// Unpacks one container into its destination folder, adding to result what
// went wrong and the folder it filled.
void decrypt_one(const QString &path, Job_Control *control, Package_Result *result)
{
    const QFileInfo info(path);
    const qint64 share = qMax<qint64>(0, info.size());
    const qint64 done_before = control ? control->done() : 0;
    auto settle_progress = [&] {
        if (control)
            control->advance(qMax<qint64>(0, share - (control->done() - done_before)));
    };
    if (!info.isFile()) {
        result->errors.append(QStringLiteral("%1: no such container file").arg(path));
        settle_progress();
        return;
    }
    if (info.size() == 0) {
        result->errors.append(QStringLiteral("%1: the container is empty").arg(path));
        return;
    }
    bool created = false;
    QString reason;
    const QString destination = prepare_destination(info.absolutePath(), destination_name(info), &created, &reason);
    if (destination.isEmpty()) {
        result->errors.append(QStringLiteral("%1: %2").arg(path, reason));
        settle_progress();
        return;
    }
    QStringList errors;
    const QString container = info.absoluteFilePath();
    const bool ok = extract_archive(
        [container](QString *why) { return create_container_source(container, why); }, destination, control,
        share, &errors);
    for (const QString &e : errors)
        result->errors.append(QStringLiteral("%1: %2").arg(path, e));
    if (!ok && errors.isEmpty() && !is_cancelled(control))
        result->errors.append(QStringLiteral("%1: extraction failed").arg(path));
    // A folder made for a container that held nothing usable goes again.
    if (created && QDir(destination).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System)
        && !ok)
        QDir().rmdir(destination);
    else
        result->output_folders.append(destination);
    settle_progress();
}

} // namespace

QString working_folder_name()
{
    return QStringLiteral("AddData");
}

QString container_suffix()
{
    return QStringLiteral(".kvxdata");
}

QString container_filter()
{
    return QStringLiteral("KVX file(*%1)").arg(container_suffix());
}

QString cancelled_message()
{
    return QStringLiteral("Cancelled");
}

QVariantMap Package_Result::to_variant_map() const
{
    QVariantMap map;
    map.insert(QStringLiteral("is_encryption"), is_encryption);
    map.insert(QStringLiteral("is_ok"), is_ok);
    map.insert(QStringLiteral("reason"), errors.join(QLatin1Char('\n')));
    map.insert(QStringLiteral("warnings"), warnings);
    return map;
}

Package_Result run_encryption(const QStringList &files, const QStringList &folders, const QString &base_dir,
                              Job_Control *control)
{
    return Encryption(control).run(files, folders, base_dir);
}

Package_Result run_decryption(const QStringList &containers, Job_Control *control)
{
    Package_Result result;
    result.is_encryption = false;

    QStringList ordered = containers;
    std::sort(ordered.begin(), ordered.end());
    ordered.erase(std::unique(ordered.begin(), ordered.end()), ordered.end());

    qint64 total = 0;
    for (const QString &c : ordered)
        total += qMax<qint64>(0, QFileInfo(c).size());
    if (control)
        control->add_total(total);

    for (const QString &path : ordered) {
        if (is_cancelled(control))
            break;
        decrypt_one(path, control, &result);
    }

    if (is_cancelled(control))
        return fail(result, QString(), control);
    result.is_ok = result.errors.isEmpty();
    if (result.is_ok)
        finish_progress(control);
    return result;
}
