#include "package_pipeline.h"

#include "container/container_source.h"
#include "core/free_name.h"
#include "job_control.h"
#include "core/pipeline_steps.h"
#include "unpack/zip_extractor.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>

using namespace pipeline;

namespace {

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
    if (ok)
        ++result->containers_unpacked;
    // A folder made for a container that held nothing usable goes again.
    if (created && QDir(destination).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System)
        && !ok)
        QDir().rmdir(destination);
    else if (!result->output_folders.contains(destination))
        result->output_folders.append(destination);
    settle_progress();
}

} // namespace

Package_Result run_decryption(const QStringList &containers, Job_Control *control)
{
    Package_Result result;
    result.is_encryption = false;

    QStringList ordered = containers;
    std::sort(ordered.begin(), ordered.end());
    ordered.erase(std::unique(ordered.begin(), ordered.end()), ordered.end());

    result.containers_total = int(ordered.size());
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
