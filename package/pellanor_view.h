// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QList>
#include <QObject>
#include <QProgressBar>
#include <QPushButton>
#include <QString>
#include <QTableWidget>

class Path_Set;

// Return and Enter press the focused button, as Space does.
class Return_Clicks : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
};

// The main window's controls and how they are laid out, named and reached by
// the keyboard; what they do is the window's business.
class Pellanor_View
{
public:
    // The entries of type_combo, by index.
    enum Type_Index { Encryption_Index = 0, Decryption_Index = 1 };
    // Data roles of a row's name cell.
    enum Table_Role { IsDirRole = Qt::UserRole + 1, PathRole = Qt::UserRole + 2 };

    struct Row
    {
        QString path;
        bool is_dir = false;
    };

protected:
    // Fills `content_area` with every control, in the layout's order.
    void build_view(QWidget *content_area);
    // The empty, headed table.
    void set_up_table();
    // Folders first, then files, each in the sets' order.
    void show_rows(const Path_Set &folders, const Path_Set &files);
    // The entries of the selected rows.
    QList<Row> selected_rows() const;
    void show_mode(bool is_encryption);
    // What a run locks, shows and hides; the busy text names the run.
    void show_busy(bool on, bool is_encryption);
    void show_progress_of_run(qint64 done, qint64 total, qint64 elapsed_ms);
    void show_cancelled(bool is_encryption);
    // The status row's standing note, with a word on the password set for the next container.
    void show_notice(const QString &standing, bool password_set);

    QGridLayout main_grid;
    QLabel type_label;
    QComboBox type_combo;
    QLabel hint_label;
    QPushButton add_file_button;
    QPushButton add_dir_button;
    QPushButton clear_button;
    QPushButton delete_button;
    QPushButton open_dir_button;
    QTableWidget file_table;
    QPushButton start_button;
    QLabel status_label;
    QProgressBar progress_bar;
    QPushButton cancel_button;

private:
    void set_up_grid();
    void build_type_row();
    void build_list_buttons();
    void build_status_row();
    void name_controls();
    void set_up_keys(QWidget *content_area);

    Return_Clicks return_clicks;
};
