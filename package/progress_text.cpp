// SPDX-License-Identifier: GPL-3.0-or-later
#include "progress_text.h"

#include "Basic_Text.h"

#include <QLocale>

namespace {

// Shorter runs give no rate worth showing.
const qint64 steady_after_ms = 2000;

// "m:ss", or "h:mm:ss" from an hour on.
QString clock_text(qint64 seconds)
{
    const QLatin1Char zero('0');
    if (seconds >= 3600)
        return QStringLiteral("%1:%2:%3").arg(seconds / 3600).arg(seconds / 60 % 60, 2, 10, zero)
            .arg(seconds % 60, 2, 10, zero);
    return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, zero);
}

} // namespace

QString progress_format(qint64 done, qint64 total, qint64 elapsed_ms)
{
    // No "%" beyond "%p": the bar reads "%" as the start of a field.
    const QString format = QStringLiteral("%p%");
    if (elapsed_ms < steady_after_ms || done <= 0 || total <= done)
        return format;
    const double rate = double(done) * 1000.0 / double(elapsed_ms);
    const qint64 left = qint64(double(total - done) / rate + 0.5);
    return format + QStringLiteral("  \u00B7  ")
           + QLocale().formattedDataSize(qint64(rate), 1, QLocale::DataSizeTraditionalFormat)
           + QStringLiteral("/s  \u00B7  ") + Basic_Text::instance()->txt_time_left.arg(clock_text(left));
}
