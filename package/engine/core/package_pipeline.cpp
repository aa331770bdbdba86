#include "package_pipeline.h"

#include "job_control.h"
#include "core/pipeline_steps.h"

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

QVariantMap Package_Result::to_variant_map() const
{
    QVariantMap map;
    map.insert(QStringLiteral("is_encryption"), is_encryption);
    map.insert(QStringLiteral("is_ok"), is_ok);
    map.insert(QStringLiteral("reason"), errors.join(QLatin1Char('\n')));
    map.insert(QStringLiteral("warnings"), warnings);
    return map;
}

namespace pipeline {

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

} // namespace pipeline
