// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>

#include "platform/system.h"

#include <memory>

// A file of this run's own that nobody sees under a final name until it is
// complete. Where the system allows it the file has no name at all (it
// vanishes with the process, even on a crash); elsewhere it is a hidden
// ".corvanta-<hex><suffix>" file kept locked while its run lives, so that a
// later run can tell it was abandoned. Removed when the object goes, unless published.
class Private_File
{
public:
    Private_File() = default;
    ~Private_File();
    Private_File(const Private_File &) = delete;
    Private_File &operator=(const Private_File &) = delete;

    // Creates the file in folder: 0 or the errno value. The hidden fallback
    // keeps the folder open until the file is published or gone.
    int create(const std::shared_ptr<const os::Folder> &folder, const QByteArray &suffix);
    int create(const os::Path &folder, const QByteArray &suffix);
    os::File &file() { return handle; }
    // Gives the complete file the name `name` in folder, the one it was
    // created in, atomically and never in place of another file: 0, EEXIST
    // when the name is taken, or another errno value.
    int publish(const os::Folder &folder, const QByteArray &name);
    int publish(const os::Path &path);
    // Closes and removes the file now, unless it was published.
    void discard();
    // The descriptors it holds: its own, and its folder's for the hidden fallback.
    int descriptors() const { return hidden_folder ? 2 : 1; }

private:
    os::File handle;
    std::shared_ptr<const os::Folder> hidden_folder; // the hidden fallback only
    QByteArray hidden_name;

    int create_hidden(const QByteArray &suffix);
    int publish_hidden(const QByteArray &name);
};

// Removes hidden temporaries in folder that no living run holds.
void remove_abandoned_temporaries(const os::Folder &folder);
void remove_abandoned_temporaries(const os::Path &folder);
