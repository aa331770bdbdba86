// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <zip.h>

// Salvage of a damaged container (most often one cut short): its entries
// are found from the front by their local headers, as a streaming reader
// finds them, and each whose data is whole and passes its checksum is kept.
// The kept entries are then presented, with a central directory made in
// memory, as an ordinary archive: the normal unpack judges and writes them,
// and no plain archive reaches the disk.
struct Salvage_Plan
{
    qint64 archive_size = 0; // the container's deciphered bytes the entries use
    qint64 shift = 0;        // bytes a cut took from the front of the last chunk
    QByteArray directory;    // central directory and end records, after them
    int recovered = 0;       // entries kept
    QStringList lost;        // "name (why)" for each entry found but not kept
    int modes_unknown = 0;   // kept entries whose Unix mode and type were lost with the central directory
};

// Finds what can be recovered from the container. False with a reason when
// nothing can be read at all, or the container is protected by a password
// (its chunks are sealed as a whole; salvage does not open them).
bool plan_salvage(const QByteArray &container_path, Salvage_Plan *plan, QString *reason);

// A source over the container's deciphered bytes, up to plan.archive_size,
// followed by plan.directory.
zip_source_t *create_salvage_source(const QByteArray &container_path, const Salvage_Plan &plan, QString *reason);
