#pragma once

#include "unpack/extraction_rules.h"

#include <QFile>
#include <QHash>
#include <QString>

#include <functional>
#include <vector>

// Unix permission bits as Qt's permissions.
QFile::Permissions permissions_of(quint32 mode);

// The real folders an extraction writes into. An existing real folder is
// shared; a name taken by a file or a link gets a numbered name, so nothing
// is overwritten or written through a link.
class Extract_Folders
{
public:
    Extract_Folders(const QString &destination, std::function<void(const QString &)> report)
        : destination(destination), report(std::move(report))
    {
    }

    // Makes every folder the entries need, parents before children, and sets
    // each file's and link's parent (empty when its folder could not be made).
    // The entries must outlive restore_times().
    void make(std::vector<Archive_Entry> &entries);
    // Folder times and modes from the archive, deepest first, only on folders made here.
    void restore_times();
    // After a cancel: the folders made here that stayed empty go again.
    void remove_empty_created();

private:
    QString destination;
    std::function<void(const QString &)> report;
    QHash<QString, QString> folders;          // relative -> absolute, empty when it failed
    std::vector<QString> created_folders;     // ours, so their times and modes are restored
    QHash<QString, const Archive_Entry *> folder_entries;

    QString folder_for(const QString &relative);
    void sort_deepest_first();
};
