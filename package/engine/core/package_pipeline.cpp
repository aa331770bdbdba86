// SPDX-License-Identifier: GPL-3.0-or-later
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
