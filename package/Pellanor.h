// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "Basic_From_Obj.h"
#include "chosen_paths.h"
#include "contents_dialog.h"
#include "directed_runs.h"
#include "package_job.h"
#include "pellanor_view.h"
#include "run_report.h"
#include "start_place.h"
#include "window_dialogs.h"

#include <QElapsedTimer>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QVariant>


// The main window: the type switch, the selection lists and their table, and
// the package job that runs on a worker thread while the window stays usable.
// The controls and their layout are Pellanor_View's; the run is Package_Job's.
class Pellanor : public Basic_From_Obj, private Pellanor_View, protected Window_Dialogs
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
    void place_on_screen() { place_window(this, described_window_size); }

    // The table's context menu for a row (null when it offers nothing); the caller owns it.
    QMenu *row_menu(int row);
    // Every listed container into one chosen folder.
    void unpack_listed_to();
    Contents_Dialog *show_contents(const QString &container) { return directed.show_contents(container); }

signals:
    // Carries end_work_value() of the run's result.
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
    void start_run(Package_Job::Input input);

    bool is_encryption = true;
    Path_Set file_map;
    Path_Set folder_map;
    QString base_dir;
    // What the status row says whenever nothing else needs saying.
    QString standing_notice;
    // Seals the next container; forgotten once a packing ends or on leaving the mode.
    Password next_password;

    bool busy = false;
    // What the last run was asked (without its password), for its report.
    Package_Job::Input last_run;
    // Time since the run started, for its rate and time left.
    QElapsedTimer run_clock;

    Directed_Runs directed;

protected:
    // Last: its worker is stopped before anything it reports to goes away.
    // Tests hold its runs at a named point.
    Package_Job job;
};
