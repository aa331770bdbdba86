#pragma once

#include <QDir>
#include <QList>
#include <QStringList>
#include <QUrl>

// Paths from the command line or a drop, sorted into what the lists take.
// Files and folders are in the form the dialogs give: absolute, "/"
// separated, no trailing "/".
struct Chosen_Paths
{
    QStringList files;
    QStringList folders;
    QStringList problems;  // "<path>: <why>" for each path left out and worth telling

    bool is_empty() const { return files.isEmpty() && folders.isEmpty(); }
    // Only containers: what opens in decryption mode.
    bool only_containers() const;
};

// Containers are known by their suffix, in any case.
bool is_container(const QString &path);

// Paths given at start-up, relative ones taken from `base`; each one that
// does not exist, is neither file nor folder or cannot be read is a problem.
Chosen_Paths sort_opened(const QStringList &paths, const QDir &base);

// Dropped URLs: local files and folders that exist; in decryption mode only
// containers. What is left out is not named: a drop shows its own refusal.
Chosen_Paths sort_dropped(const QList<QUrl> &urls, bool is_encryption);
