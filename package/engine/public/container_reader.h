#pragma once

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

// One entry of a container, as listed: the name decoded as on extraction.
struct Container_Entry
{
    QString name;        // "/" separated; a folder's name ends in "/"
    qint64 size = 0;     // bytes once unpacked
    QDateTime modified;  // invalid when the archive records no time
    bool is_dir = false;
};

// Reads a container's table of contents without writing anything. False with
// a reason when the file cannot be read or is not a container.
bool list_container(const QString &container_path, QList<Container_Entry> *entries, QString *reason);

// Reads every entry through the decipher and checks its CRC, writing nothing.
// Each damaged entry adds "<entry>: <what is wrong>" to damaged. False with a
// reason when the file cannot be read or is not a container at all.
bool test_container(const QString &container_path, QStringList *damaged, QString *reason);
