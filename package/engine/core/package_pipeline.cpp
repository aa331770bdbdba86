#include "package_pipeline.h"

#include "job_control.h"
#include "core/pipeline_steps.h"

#include <QFile>

QString working_folder_name()
{
    return QStringLiteral("AddData");
}

QString container_suffix()
{
    return QStringLiteral(".kvxdata");
}

QList<QByteArray> native_paths(const QStringList &paths)
{
    QList<QByteArray> native;
    for (const QString &p : paths)
        native.append(QFile::encodeName(p));
    return native;
}

QString container_filter()
{
    return QStringLiteral("KVX file(*%1)").arg(container_suffix());
}

namespace {

// The result's keys, written once.
const QString key_is_encryption = QStringLiteral("is_encryption");
const QString key_is_ok = QStringLiteral("is_ok");
const QString key_is_cancelled = QStringLiteral("is_cancelled");
const QString key_reason = QStringLiteral("reason");
const QString key_warnings = QStringLiteral("warnings");
const QString key_container_path = QStringLiteral("container_path");
const QString key_output_folders = QStringLiteral("output_folders");
const QString key_containers_total = QStringLiteral("containers_total");
const QString key_containers_unpacked = QStringLiteral("containers_unpacked");
const QString key_files_written = QStringLiteral("files_written");
const QString key_files_already_there = QStringLiteral("files_already_there");
const QString key_kept_beside = QStringLiteral("kept_beside");

} // namespace

QVariantMap Package_Result::to_variant_map() const
{
    return {{key_is_encryption, is_encryption},
            {key_is_ok, is_ok},
            {key_is_cancelled, is_cancelled},
            {key_reason, errors.join(QLatin1Char('\n'))},
            {key_warnings, warnings},
            {key_container_path, container_path},
            {key_output_folders, output_folders},
            {key_containers_total, containers_total},
            {key_containers_unpacked, containers_unpacked},
            {key_files_written, files_written},
            {key_files_already_there, files_already_there},
            {key_kept_beside, kept_beside}};
}

Package_Result Package_Result::from_variant_map(const QVariantMap &map)
{
    Package_Result r;
    r.is_encryption = map.value(key_is_encryption).toBool();
    r.is_ok = map.value(key_is_ok).toBool();
    r.is_cancelled = map.value(key_is_cancelled).toBool();
    const QString reason = map.value(key_reason).toString();
    if (!reason.isEmpty())
        r.errors = reason.split(QLatin1Char('\n'));
    r.warnings = map.value(key_warnings).toStringList();
    r.container_path = map.value(key_container_path).toString();
    r.output_folders = map.value(key_output_folders).toStringList();
    r.containers_total = map.value(key_containers_total).toInt();
    r.containers_unpacked = map.value(key_containers_unpacked).toInt();
    r.files_written = map.value(key_files_written).toLongLong();
    r.files_already_there = map.value(key_files_already_there).toLongLong();
    r.kept_beside = map.value(key_kept_beside).toStringList();
    return r;
}

namespace pipeline {

void finish_progress(Job_Control &control)
{
    const qint64 missing = control.total() - control.done();
    if (missing > 0)
        control.add_done(missing);
    control.report_now();
}

Package_Result fail(Package_Result result, const QString &reason, const Job_Control &control)
{
    result.is_ok = false;
    if (const QString failure = control.failure(); !failure.isEmpty()) {
        result.errors.append(failure);
    } else if (control.is_cancelled()) {
        result.is_cancelled = true;
        result.errors.append(cancelled_message());
    } else if (!reason.isEmpty()) {
        result.errors.append(reason);
    }
    return result;
}

} // namespace pipeline
