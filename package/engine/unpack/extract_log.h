// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/path_rules.h"

#include <QByteArray>
#include <QSet>
#include <QString>
#include <QStringList>

#include <mutex>

// What an extraction did, for the run's result.
struct Extract_Report
{
    QStringList errors;       // one line per entry that could not be unpacked
    QStringList warnings;     // what was unpacked differently from how it was stored, or left out
    qint64 files_written = 0;
    qint64 files_already_there = 0; // found with exactly the entry's content (a run started again)
    QStringList kept_beside;  // files kept beside a different one under a numbered name
    bool refused_as_damaged = false; // the archive failed its structure check
};

// The report as the extraction's threads fill it.
class Extract_Log
{
public:
    void error(const QString &line, const QByteArray &failed_folder = QByteArray())
    {
        const std::lock_guard<std::mutex> lock(mutex);
        report.errors.append(line);
        failed.insert(failed_folder);
    }
    void warning(const QString &line)
    {
        const std::lock_guard<std::mutex> lock(mutex);
        report.warnings.append(line);
    }
    // An entry unpacked under a name the destination can hold (on exFAT: "_" for "?").
    void respelled(const QString &entry, const QByteArray &name)
    {
        warning(QStringLiteral("%1: the destination cannot hold this name; unpacked as \"%2\"")
                    .arg(entry, display_path(name)));
    }
    void written()
    {
        const std::lock_guard<std::mutex> lock(mutex);
        ++report.files_written;
    }
    void already_there()
    {
        const std::lock_guard<std::mutex> lock(mutex);
        ++report.files_already_there;
    }
    void kept_beside(const QString &path)
    {
        const std::lock_guard<std::mutex> lock(mutex);
        report.kept_beside.append(path);
    }
    qsizetype error_count() const
    {
        const std::lock_guard<std::mutex> lock(mutex);
        return report.errors.size();
    }
    // The folders (relative to the destination) that held an entry that failed.
    QSet<QByteArray> failed_folders() const
    {
        const std::lock_guard<std::mutex> lock(mutex);
        return failed;
    }
    Extract_Report take()
    {
        const std::lock_guard<std::mutex> lock(mutex);
        return std::move(report);
    }

private:
    mutable std::mutex mutex;
    Extract_Report report;
    QSet<QByteArray> failed;
};
