// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <zip.h>

// The archive's structure, read from its headers directly: libzip shows
// neither where entries lie nor what their local headers say. An archive is
// damaged when:
// - the end record, the central directory or a local header cannot be read
//   where the archive says it is;
// - an entry's data does not lie wholly before the central directory, or two
//   entries share bytes (the overlapping entries of a zip bomb);
// - a local header disagrees with its central entry: name, method, flags for
//   encryption and UTF-8 names, time, and (unless a data descriptor follows
//   the data) checksum and sizes; a time given in both must agree too
//   (one given in only one header is no damage: writers differ there);
// - an entry's Unix type disagrees with the type its DOS attributes name.
// Reads through source, which must be seekable; does not take it over.
// False with *damage naming the first fault; *entry_count is the number of
// entries the central directory holds.
bool check_archive_structure(zip_source_t *source, qint64 *entry_count, QString *damage);
