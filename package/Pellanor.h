#pragma once

#include "Basic_From_Obj.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QGridLayout>
#include <QLabel>
#include <QMap>
#include <QProgressBar>
#include <QPushButton>
#include <QString>
#include <QStringList>
#include <QTableWidget>
#include <QUrl>
#include <QVariant>

#include <functional>
#include <memory>
#include <thread>

class Job_Control;
class QMimeData;

// The main window: the type switch, the selection lists and their table, and
// the package job that runs on a worker thread while the window stays usable.
class Pellanor : public Basic_From_Obj
{
    Q_OBJECT

public:
    // Data roles of a row's name cell.
    enum Table_Role { IsDirRole = 1100, PathRole = 1101 };

    // What one run works on, copied from the window when it starts, so the
    // window stays free to change (or go away) while the worker reads it.
    struct Job_Input
    {
        bool is_encryption = true;
        QStringList files;
        QStringList folders;
        QString base_dir;
    };

    explicit Pellanor(QWidget *parent = nullptr);
    ~Pellanor() override;

    void init_window();
    void connect_signals();
    void init_table();
    void refresh_table();

    void window_hook() override {}

    bool is_encryption_mode() const { return is_encryption; }
    bool is_busy() const { return busy; }
    const QMap<QString, QString> &files() const { return file_map; }
    const QMap<QString, QString> &folders() const { return folder_map; }

    // Adds paths exactly as the dialogs would (absolute, "/" separated).
    void add_files(const QStringList &paths);
    void add_folder(const QString &path);
    // Lists paths given on the command line, relative ones taken from the
    // current directory: only containers open decryption mode, anything else
    // encryption mode. Paths that cannot be used are left out and named in a box.
    void open_paths(const QStringList &paths);

signals:
    void signal_end_work(QVariant result);
    void signal_progress(qint64 done, qint64 total);

public slots:
    void slot_select_file();
    void slot_select_dir();
    void slot_del_select();
    void slot_del_all();
    void slot_open_dir();
    void slot_encryption();
    void slot_textChanged(const QString &text);
    void slot_start_work();
    void slot_end_work(const QVariant &result);
    void slot_cancel();

protected:
    // The user-facing dialogs, replaceable so the window can run unattended.
    virtual QStringList choose_files(const QString &caption, const QString &dir,
                                     const QString &filter);
    virtual QString choose_folder(const QString &caption);
    virtual void show_report(const QString &title, const QString &text,
                             const QString &detail, bool is_ok);
    virtual void open_url(const QUrl &url);
    // Starts the worker; throws std::system_error when no thread can be made.
    virtual void start_thread(std::function<void()> body);

    // The job's body, on the worker thread: one pipeline, then the end signal.
    void do_work(const Job_Input &input, Job_Control *control);

    void closeEvent(QCloseEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private slots:
    void slot_progress(qint64 done, qint64 total);

private:
    // The builders init_window() calls, one per area of the window.
    void set_up_grid();
    void build_type_row();
    void build_list_buttons();
    void build_status_row();
    void name_controls();
    static QStringList sort_opened(const QStringList &paths, QStringList *files, QStringList *folders);
    void stop_job();
    void leave_busy_state();
    void report(const QVariantMap &result);
    // Sorts dropped paths as the dialogs would take them; false when none is taken.
    bool sort_drop(const QMimeData *mime, QStringList *files, QStringList *folders) const;

    bool is_encryption = true;
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
    QMap<QString, QString> file_map;
    QMap<QString, QString> folder_map;

    bool busy = false;
    // Set when the window is closed mid-run: the run's end is then not reported.
    bool job_abandoned = false;
    std::unique_ptr<Job_Control> job_control;
    std::thread worker;
    // Time since the run started, for its rate and time left.
    QElapsedTimer run_clock;
};
