// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDir>
#include <QList>
#include <QStringList>
#include <QUrl>

#include <set>

class QMimeData;

// One selection list: each path at most once, walked in ascending order of
// its UTF-16 code units (case-sensitive, no locale), whatever the order of adding.
class Path_Set
{
public:
    void insert(const QString &path) { paths_.insert(path); }
    void insert(const QStringList &paths) { paths_.insert(paths.cbegin(), paths.cend()); }
    void remove(const QString &path) { paths_.erase(path); }
    void clear() { paths_.clear(); }
    bool contains(const QString &path) const { return paths_.count(path) != 0; }
    bool isEmpty() const { return paths_.empty(); }
    qsizetype size() const { return qsizetype(paths_.size()); }
    QStringList paths() const { return QStringList(paths_.cbegin(), paths_.cend()); }
    auto begin() const { return paths_.cbegin(); }
    auto end() const { return paths_.cend(); }

private:
    std::set<QString> paths_;
};

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
    // "These paths were not listed:" and the problems, one per line.
    QString problems_text() const;
    // Leaves out folders and files that are no container, each named as a problem.
    void keep_only_containers();
};

// Containers are known by their suffix, in any case.
bool is_container(const QString &path);

// Paths given at start-up, relative ones taken from `base`; each one that
// does not exist, is neither file nor folder or cannot be read is a problem.
Chosen_Paths sort_opened(const QStringList &paths, const QDir &base);

// Dropped URLs: local files and folders that exist; in decryption mode only
// containers. What is left out is not named: a drop shows its own refusal.
Chosen_Paths sort_dropped(const QList<QUrl> &urls, bool is_encryption);
// The same for a drop's data (nothing when there is none).
Chosen_Paths sort_dropped(const QMimeData *mime, bool is_encryption);
