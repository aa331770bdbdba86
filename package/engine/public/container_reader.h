// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

#include "password.h"

// One entry of a container, as listed: the name read as unpacking reads it.
struct Container_Entry
{
    QString name;        // "/" separated; a folder's name ends in "/"
    qint64 size = 0;     // bytes once unpacked
    QDateTime modified;  // invalid when the archive records no time
    bool is_dir = false;
};

// list, test and unpacking judge a container alike. Its structure first
// (headers that agree, entries that lie inside the archive and do not
// overlap): a container that fails it is refused whole. Then each entry: a
// name or link that leads outside the destination, or data that does not
// come to the entry's size and checksum, is damage of that entry. Duplicate
// names are no damage.

// Reads a container's table of contents without writing anything, handing
// each entry on as it is read (nothing is kept: a container may hold millions).
// False with a reason when the file cannot be read or its structure is
// damaged; entries unpacking would refuse by their names add a line each to refused.
using Listed_Entry = std::function<void(const Container_Entry &entry)>;
// A container protected by a password needs ask to give it (its names are
// hidden too); without it the reason says the container is protected.
bool list_container(const QByteArray &container_path, const Listed_Entry &on_entry, QStringList *refused,
                    QString *reason, const Password_Provider &ask = {});

// Reads every entry through the decipher and judges it as unpacking would,
// writing nothing. Each damaged entry adds "<entry>: <what is wrong>" to
// damaged. False with a reason when the file cannot be read or its structure
// is damaged.
bool test_container(const QByteArray &container_path, QStringList *damaged, QString *reason,
                    const Password_Provider &ask = {});
