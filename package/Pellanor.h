#pragma once

#include "Basic_From_Obj.h"
#include "run_report.h"

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

    // What paths given at start-up ask for: by their kind (only containers
    // open decryption mode, anything else encryption mode), or one mode.
    enum class Open_Mode { By_Kind, Pack, Unpack };

    // Adds paths exactly as the dialogs would (absolute, "/" separated).
    void add_files(const QStringList &paths);
    void add_folder(const QString &path);
    // Lists paths given on the command line, relative ones taken from the
    // current directory. Paths that cannot be used (in Unpack mode also those
    // that are no container) are left out and named in a box.
    void open_paths(const QStringList &paths, Open_Mode mode = Open_Mode::By_Kind);
    // The folder whose "AddData" packing writes into.
    QString base_folder() const { return base_dir; }
    void set_base_folder(const QString &folder) { base_dir = folder; }
    // Opens inside the available screen area, at the described size where it fits.
    void place_on_screen();

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
    // Shows the end-of-run box; true when the user asked to open the result's folder.
    virtual bool show_report(const QString &title, const Run_Report &report);
    virtual void open_url(const QUrl &url);
    // Starts the worker; throws std::system_error when no thread can be made.
    virtual void start_thread(std::function<void()> body);

    // The job's body, on the worker thread: one pipeline, then the end signal.
    void do_work(const Job_Input &input, Job_Control *control);

    void closeEvent(QCloseEvent *event) override;
    // Return and Enter press the focused button, as Space does.
    bool eventFilter(QObject *watched, QEvent *event) override;
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
    void set_up_keys();
    // Switches mode without counting as the user's action.
    void apply_mode(bool to_encryption);
    void add_chosen(const QStringList &files, const QStringList &folders);
    // Outside a run the status row is empty once the user does something.
    void clear_notice();
    // The one switch of the busy state: what a run locks, shows and hides.
    void set_busy(bool on);
    void stop_job();
    void report(const Package_Result &result);

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
    QString base_dir;

    bool busy = false;
    // Set when the window is closed mid-run: the run's end is then not reported.
    bool job_abandoned = false;
    std::unique_ptr<Job_Control> job_control;
    std::thread worker;
    // Time since the run started, for its rate and time left.
    QElapsedTimer run_clock;
};
