// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

#include "container/sealed_chunks.h"
#include "core/zip_handles.h"
#include "password.h"
#include "platform/system.h"

// A libzip source that reads a container and deciphers it on the fly, so a
// container opens as the zip archive it holds without a temporary archive on
// disk. The transform is local to each chunk, so any offset can be served.
// Returns nullptr with the system's reason when the container cannot be
// opened, or not_a_regular_file() for a folder, a pipe or a device.
zip_source_t *create_container_source(const QByteArray &container_path, QString *reason);
// The same over a container already open for reading (one not yet named).
zip_source_t *create_container_source(os::File file, QString *reason);

// The first chunks of a protected archive, as the check before unpacking
// opened them. A source given them reads them from here: no chunk is
// deciphered twice, and what comes out is what passed the check, whatever
// happens to the file meanwhile.
struct Opened_Chunks
{
    std::unique_ptr<char[]> bytes;
    qint64 size = 0; // whole chunks, or the archive to its end
};
using Opened_Start = std::shared_ptr<const Opened_Chunks>;

// A container protected by a password, with the key unlock_container() found.
zip_source_t *create_container_source(const QByteArray &container_path, const sealed::Key &key, QString *reason,
                                      const Opened_Start &opened = {});
zip_source_t *create_container_source(os::File file, const sealed::Key &key, QString *reason,
                                      const Opened_Start &opened = {});

// Whether the container needs a password, and its key when it does: ask
// is asked up to password_attempts times; *key stays unset for a container
// without a password. False with a reason when the container cannot be
// read, no password is given or none opens it ("wrong password or damaged
// container"). name is how ask names the container.
bool unlock_container(os::File file, const QString &name, const Password_Provider &ask, sealed::Key *key,
                      QString *reason);
// Checks every sealed chunk of a protected container: damage anywhere shows
// before anything is unpacked. go_on returning false stops it (a cancel).
// With `opened`, the chunks in the archive's first `keep` bytes are opened
// rather than only checked, and kept there (none when the memory cannot be had).
bool verify_sealed_chunks(const QByteArray &container_path, const sealed::Key &key, const std::function<bool()> &go_on,
                          QString *reason, Opened_Start *opened = nullptr, qint64 keep = 0);

// What every command says of a container that is not a regular file.
QString not_a_regular_file();

// Gives a fresh source over the same archive each time it is called, or null with a reason.
using Archive_Opener = std::function<zip_source_t *(QString *reason)>;

// The one judgement of an archive before anything is read from it: its
// structure is checked (see archive_check.h), then libzip opens it. Null with
// *reason ("not a container, or damaged (...)") when either refuses it.
Zip_Ptr open_checked_archive(const Archive_Opener &open_source, QString *reason);
// Whether a reason open_checked_archive() gave is damage to the archive, not
// a failure to read it.
bool is_damage(const QString &reason);

// What test_container() does, on any archive: every entry read and judged.
bool test_archive(const Archive_Opener &open_source, QStringList *damaged, QString *reason);
