#pragma once

#include <QString>
#include <QStringList>

#include <functional>

#include <zip.h>

class Job_Control;

// Extracts every entry of the archive into destination, which must exist.
// open_archive_source is called once per extracting thread and must give a
// fresh source over the same archive. Nothing in the destination is
// overwritten: a name already taken gets "name (2).ext". Each file appears
// under its final name only when complete. Links are created only when their
// target stays inside the destination; other links are skipped and reported.
// progress_budget bytes are advanced on control across the extraction.
bool extract_archive(const std::function<zip_source_t *(QString *reason)> &open_archive_source,
                     const QString &destination, Job_Control *control, qint64 progress_budget,
                     QStringList *errors);
