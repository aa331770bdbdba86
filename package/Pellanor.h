// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "Basic_From_Obj.h"
#include "chosen_paths.h"
#include "contents_dialog.h"
#include "package_job.h"
#include "pellanor_view.h"
#include "run_report.h"

#include <QElapsedTimer>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QVariant>

#include <functional>
#include <thread>

// The main window: the type switch, the selection lists and their table, and
// the package job that runs on a worker thread while the window stays usable.
// The controls and their layout are Pellanor_View's; the run is Package_Job's.
class Pellanor : public Basic_From_Obj, private Pellanor_View
{
    Q_OBJECT

public:
    explicit Pellanor(QWidget *parent = nullptr);
    ~Pellanor() override;

    void init_window();
    void connect_signals();
    // The table, empty and headed; rebuilt from the two lists.
    void init_table() { set_up_table(); }
    void refresh_table() { show_rows(folder_map, file_map); }

    void window_hook() override {}

    bool is_encryption_mode() const { return is_encryption; }
    bool is_busy() const { return busy; }
    const Path_Set &files() const { return file_map; }
    const Path_Set &folders() const { return folder_map; }

    // What paths given at start-up ask for: by their kind (only containers
    // open decryption mode, anything else encryption mode), or one mode.
    enum class Open_Mode { By_Kind, Pack, Unpack };

    // Adds paths exactly as the dialogs would (absolute, "/" separated).
    void add_files(const QStringList &paths);
    void add_folder(const QString &path);
    // Lists paths given on the command line, relative ones taken from the
    // current directory. Paths that cannot be used (in Unpack mode also those
    // that are no container) are left out and named in a box. `start`: run
    // at once, after that box is closed.
    void open_paths(const QStringList &paths, Open_Mode mode = Open_Mode::By_Kind, bool start = false);
    // The folder whose "AddData" packing writes into.
    QString base_folder() const { return base_dir; }
    void set_base_folder(const QString &folder) { base_dir = folder; }
    // Opens inside the available screen area, at the described size where it fits.
    void place_on_screen();

    // What signal_end_work carries: "is_encryption" and "is_ok" (bool), and
    // the whole result under "result".
    static QVariant end_work_value(const Package_Result &result);

    // The table's context menu for a row (null when it offers nothing); the caller owns it.
    QMenu *row_menu(int row);
    // Runs directed by the user: a container into a folder (only the entries
    // patterns take, when given), the selected rows into a named container.
    void unpack_to(const QString &container, const QList<QByteArray> &patterns = {});
    void pack_as(const QString &path);
    // Every listed container into one chosen folder.
    void unpack_listed_to();
    Contents_Dialog *show_contents(const QString &container);

signals:
    void signal_end_work(QVariant result);

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
    // Ctrl+P in encryption mode: the password for the next container.
    void slot_set_password();

protected:
    // The user-facing dialogs, replaceable so the window can run unattended.
    virtual QStringList choose_files(const QString &caption, const QString &dir, const QString &filter);
    virtual QString choose_folder(const QString &caption);
    virtual QString choose_save_file(const QString &caption, const QString &dir, const QString &filter);
    // Shows the end-of-run box and returns how the user closed it.
    virtual Run_Report::Answer show_report(const QString &title, const Run_Report &report);
    virtual void open_url(const QUrl &url);
    // Asked before closing over a run; true to stop the run and close.
    virtual bool confirm_close(bool is_encryption);
    // Asked on this thread while the run's worker waits: false when none is given.
    virtual bool ask_password(const QString &container, int attempt, Password *out);
    // Makes the job's worker thread; throws std::system_error when none can be made.
    virtual std::thread start_thread(std::function<void()> body) { return std::thread(std::move(body)); }

    void closeEvent(QCloseEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    void choose_type(int index);
    // What a drop would add: nothing while a run works from the lists.
    Chosen_Paths droppable(const QDropEvent *event) const;
    // Switches mode without counting as the user's action.
    void apply_mode(bool to_encryption);
    void add_chosen(const QStringList &files, const QStringList &folders);
    // Outside a run the status row is empty once the user does something.
    void clear_notice();
    // The one switch of the busy state.
    void set_busy(bool on);
    // Leaves the busy state; `tell`: show the report box unless cancelled.
    void end_run(const Package_Result &outcome, bool tell);
    void report(const Package_Result &result);
    void start_run(Package_Job::Input input);
    void unpack_to(const QStringList &containers, const QList<QByteArray> &patterns);
    void show_row_menu(const QPoint &at);

    bool is_encryption = true;
    Path_Set file_map;
    Path_Set folder_map;
    QString base_dir;
    // What the status row says whenever nothing else needs saying.
    QString standing_notice;
    // Seals the next container; forgotten once a packing ends or on leaving the mode.
    Password next_password;

    bool busy = false;
    // What the last run was asked, for a salvage of what it refused as damaged.
    Package_Job::Input last_run;
    // Time since the run started, for its rate and time left.
    QElapsedTimer run_clock;

protected:
    // Last: its worker is stopped before anything it reports to goes away.
    // Tests hold its runs at a named point.
    Package_Job job;
};
