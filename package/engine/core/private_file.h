#pragma once

#include <QFile>
#include <QString>

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

    // Creates the file in folder; false with the system's reason.
    bool create(const QString &folder, const QString &suffix, QString *reason);
    // Read-write and unbuffered.
    QFile &file() { return device; }
    // Gives the complete file the name path, atomically and never in place of
    // another file. False with *taken set when the name exists, else with the reason.
    bool publish(const QString &path, bool *taken, QString *reason);

private:
    int fd = -1;
    QString hidden_path; // the named fallback only
    QFile device;
};

// Removes hidden temporaries in folder that no living run holds.
void remove_abandoned_temporaries(const QString &folder);
