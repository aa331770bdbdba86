// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QDialog>
#include <QLabel>
#include <QList>
#include <QPushButton>
#include <QTreeWidget>

#include <thread>

struct Container_Entry;

// The entries of one container as a tree (path, size, modification time),
// read as `list` reads them on a thread of its own, so a container of
// millions of entries does not stall the window. The user picks entries and
// asks to unpack them; the window chooses the folder and runs the unpacking.
class Contents_Dialog : public QDialog
{
    Q_OBJECT

public:
    explicit Contents_Dialog(const QString &container, QWidget *parent = nullptr);
    ~Contents_Dialog() override;

    QString container() const { return container_path; }
    QTreeWidget &tree() { return entry_tree; }
    QPushButton &unpack_button() { return unpack_selected_button; }
    QString status() const { return status_label.text(); }
    // Patterns that take exactly the selected entries (a folder with what is under it).
    QList<QByteArray> selected_patterns() const;

signals:
    // The listing is shown, or why it could not be read.
    void listed(bool ok);
    void unpack_requested(const QString &container, const QList<QByteArray> &patterns);

private:
    void show_entries(const QList<Container_Entry> &entries, const QStringList &refused, bool ok, const QString &reason);

    QString container_path;
    QTreeWidget entry_tree;
    QLabel status_label;
    QPushButton unpack_selected_button;
    std::thread reader;
};

// path with the pattern characters escaped, so that it matches only itself.
QByteArray literal_pattern(const QString &path);
