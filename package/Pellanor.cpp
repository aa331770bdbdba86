// SPDX-License-Identifier: GPL-3.0-or-later
#include "Pellanor.h"

#include "Basic_Text.h"
#include "close_on_signals.h"
#include "password_dialog.h"
#include "row_menu.h"
#include "start_place.h"

#include <QDir>
#include <QDropEvent>
#include <QIcon>
#include <QShortcut>
#include <QTimer>

#include <utility>

Pellanor::Pellanor(QWidget *parent)
    : Basic_From_Obj(parent)
    , Window_Dialogs(this)
    , directed({this, this, [this] { return busy; }, [this] { return base_dir; },
                [this](const Package_Job::Input &input) { start_run(input); }})
{
    resize(described_window_size);
    // Only the low 24 bits count: a black title bar.
    title_bar_color = static_cast<int>(0xFF000000u);
    setAcceptDrops(true);
    job.set_thread_starter([this](std::function<void()> body) { return start_thread(std::move(body)); });
    job.set_password_asker([this](const QString &container, int attempt, Password *out) {
        return ask_password(container, attempt, out);
    });
}

Pellanor::~Pellanor()
{
    // The worker may still be packing: stop it before the window goes away.
    job.abandon();
}

void Pellanor::init_window()
{
    init_frame();
    setWindowIcon(QIcon(QStringLiteral(":/Pellanor/Resources/icon_162X162.ico")));
    build_view(content_area);
    set_title(QStringLiteral("  Corvanta"));
    connect_signals();

    // A launcher may start the program where nothing can be written.
    const QString current = QDir::currentPath();
    base_dir = choose_base_dir(current, QDir::homePath());
    if (base_dir != current)
        standing_notice = Basic_Text::instance()->txt_working_in_home.arg(
            QDir::toNativeSeparators(QDir(base_dir).filePath(working_folder_name())));
    status_label.setText(standing_notice);
}

void Pellanor::connect_signals()
{
    connect(&type_combo, &QComboBox::activated, this, &Pellanor::choose_type);
    choose_type(Encryption_Index);

    connect(&add_file_button, &QPushButton::clicked, this, &Pellanor::slot_select_file);
    connect(&add_dir_button, &QPushButton::clicked, this, &Pellanor::slot_select_dir);
    connect(&delete_button, &QPushButton::clicked, this, &Pellanor::slot_del_select);
    connect(&clear_button, &QPushButton::clicked, this, &Pellanor::slot_del_all);
    connect(&open_dir_button, &QPushButton::clicked, this, &Pellanor::slot_open_dir);
    connect(&start_button, &QPushButton::clicked, this, &Pellanor::slot_encryption);
    connect(&cancel_button, &QPushButton::clicked, this, &Pellanor::slot_cancel);

    // Progress comes from the worker thread, queued; the end comes on this one.
    connect(&job, &Package_Job::progress, this, [this](qint64 done, qint64 total) {
        if (busy)
            show_progress_of_run(done, total, run_clock.elapsed());
    });
    connect(&job, &Package_Job::finished, this,
            [this](const Package_Result &result) { emit signal_end_work(end_work_value(result)); });
    connect(this, &Pellanor::signal_end_work, this, &Pellanor::slot_end_work);
    // A cancelled run waits for no password: its question closes.
    connect(&job, &Package_Job::password_withdrawn, this, [this] { Password_Dialog::withdraw_all(this); });
    // Kept off the described rows: a key and the status row's note.
    auto *password_key = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_P), this);
    connect(password_key, &QShortcut::activated, this, &Pellanor::slot_set_password);

    attach_row_menu(&file_table, [this](int row) { return row_menu(row); });
}

QMenu *Pellanor::row_menu(int row)
{
    const QTableWidgetItem *cell = file_table.item(row, 0);
    if (!cell)
        return nullptr;
    // The row says what it is: one path may be listed as a file and as a folder.
    return directed.row_menu({cell->data(PathRole).toString(), cell->data(IsDirRole).toBool()}, selected_rows(),
                             is_encryption);
}

void Pellanor::unpack_listed_to()
{
    if (!is_encryption)
        directed.unpack_to(file_map.paths());
}

void Pellanor::clear_notice()
{
    // Where containers go stays said: it holds for every run.
    if (!busy)
        show_notice(standing_notice, !next_password.is_empty());
}

void Pellanor::add_chosen(const QStringList &files, const QStringList &folders)
{
    folder_map.insert(folders);
    file_map.insert(files);
    refresh_table();
}

void Pellanor::add_files(const QStringList &paths)
{
    if (busy)
        return;
    clear_notice();
    add_chosen(paths, {});
}

void Pellanor::add_folder(const QString &path)
{
    // Folders are packed, never unpacked: they have no place in decryption mode.
    if (busy || !is_encryption || path.isEmpty())
        return;
    clear_notice();
    add_chosen({}, {path});
}

void Pellanor::open_paths(const QStringList &paths, Open_Mode mode, bool start)
{
    if (busy || paths.isEmpty())
        return;
    Chosen_Paths chosen = sort_opened(paths, QDir::current());
    bool to_decryption = mode == Open_Mode::Unpack || (mode == Open_Mode::By_Kind && chosen.only_containers());
    // Only containers unpack; anything else is named with the paths left out.
    if (mode == Open_Mode::Unpack)
        chosen.keep_only_containers();
    type_combo.setCurrentIndex(to_decryption ? Decryption_Index : Encryption_Index);
    apply_mode(!to_decryption);
    add_chosen(chosen.files, chosen.folders);
    // One key press or click starts what was asked for.
    start_button.setFocus();

    // After the window is up, so the box stands in front of it; a run asked
    // for starts once the user has read it: one box at a time.
    if (chosen.problems.isEmpty() && !start)
        return;
    Run_Report problems;
    if (!chosen.problems.isEmpty())
        problems.text = chosen.problems_text();
    QTimer::singleShot(0, this, [this, problems, start] {
        if (!problems.text.isEmpty())
            show_report(Basic_Text::instance()->txt_title, problems);
        if (start)
            slot_encryption();
    });
}

void Pellanor::slot_select_file()
{
    const Basic_Text *text = Basic_Text::instance();
    const QString start_folder = file_dialog_folder(is_encryption, base_dir);
    const QStringList paths = is_encryption
        ? choose_files(text->txt_choose_encrypted_file, start_folder, QString())
        : choose_files(text->txt_choose_decryption_file, start_folder, container_filter());
    add_files(paths);
}

void Pellanor::slot_select_dir()
{
    const QString path = choose_folder(Basic_Text::instance()->txt_select_encrypted_folder);
    if (!path.isEmpty())
        add_folder(path);
}

void Pellanor::slot_del_select()
{
    if (busy)
        return;
    clear_notice();
    for (const Row &row : selected_rows())
        (row.is_dir ? folder_map : file_map).remove(row.path);
    refresh_table();
}

void Pellanor::slot_del_all()
{
    clear_notice();
    file_map.clear();
    folder_map.clear();
    refresh_table();
}

void Pellanor::slot_open_dir()
{
    // The folder only exists after the first packing; show it empty rather
    // than have the file manager complain about a missing path.
    const QString path = QDir(base_dir).filePath(working_folder_name());
    QDir().mkpath(path);
    open_url(QUrl::fromLocalFile(path));
}

void Pellanor::slot_encryption()
{
    if (busy || (file_map.isEmpty() && folder_map.isEmpty()))
        return;
    start_run({is_encryption, file_map.paths(), folder_map.paths(), base_dir, {}, {}, {}});
}

void Pellanor::start_run(Package_Job::Input input)
{
    slot_start_work();
    if (input.is_encryption)
        input.password = next_password;
    last_run = input;
    last_run.password = Password(); // not kept beyond the run
    // A run that cannot start is a failure, and the list stays for another try.
    if (const auto failed = job.start(input)) {
        set_busy(false);
        directed.report(*failed, last_run);
    }
}

void Pellanor::slot_textChanged(const QString &type_text)
{
    const int index = type_combo.findText(type_text);
    if (index >= 0)
        choose_type(index);
}

void Pellanor::choose_type(int index)
{
    clear_notice();
    const bool to_encryption = index == Encryption_Index;
    const qsizetype dropped = to_encryption == is_encryption ? 0 : file_map.size() + folder_map.size();
    apply_mode(to_encryption);
    // The list went with the type: say so, or it looks lost.
    if (dropped > 0)
        status_label.setText(tr("The list was emptied: its %1 entries belong to the other type").arg(dropped));
}

void Pellanor::apply_mode(bool to_encryption)
{
    // What the table shows is what runs: entries of the other mode go.
    if (to_encryption != is_encryption) {
        next_password = Password();
        file_map.clear();
        folder_map.clear();
    }
    is_encryption = to_encryption;
    show_mode(to_encryption);
    refresh_table();
}

void Pellanor::slot_start_work()
{
    set_busy(true);
    run_clock.start();
}

void Pellanor::set_busy(bool on)
{
    busy = on;
    show_busy(on, is_encryption);
}

void Pellanor::slot_cancel()
{
    // Encryption removes whatever it had begun; decryption keeps the files it
    // finished, which a later run completes.
    if (busy && job.is_running()) {
        job.cancel();
        cancel_button.setEnabled(false);
    }
}

void Pellanor::slot_end_work(const QVariant &result)
{
    end_run(end_work_result(result), true);
}

void Pellanor::end_run(const Package_Result &outcome, bool tell)
{
    // The run is over: nothing to cancel beside the report.
    progress_bar.hide();
    cancel_button.hide();
    // A cancelled run is no failure: no box, and the list stays for another try.
    if (tell && !outcome.is_cancelled)
        directed.report(outcome, last_run);
    set_busy(false);
    if (outcome.is_cancelled) {
        show_cancelled(outcome.is_encryption);
    } else {
        // The password was for this container, made or failed like the list.
        next_password = Password();
        slot_del_all();
    }
}

void Pellanor::slot_set_password()
{
    if (busy || !is_encryption)
        return;
    Password chosen;
    if (!Password_Dialog::ask_to_set(this, &chosen))
        return;
    next_password = chosen;
    clear_notice();
}

void Pellanor::closeEvent(QCloseEvent *event)
{
    // A run is work the user started: closing over it is asked first, unless
    // a signal ends the program.
    if (busy && !property(unattended_close_property).toBool() && !confirm_close(is_encryption))
        return event->ignore();
    // Closing mid-run cancels the run, as the cancel button does; its end is
    // not reported: the user asked for it.
    if (const std::optional<Package_Result> ended = job.abandon())
        end_run(*ended, false);
    Basic_From_Obj::closeEvent(event);
}

Chosen_Paths Pellanor::droppable(const QDropEvent *event) const
{
    // Nothing can be added while a run works from the lists.
    return busy ? Chosen_Paths() : sort_dropped(event->mimeData(), is_encryption);
}

void Pellanor::dragEnterEvent(QDragEnterEvent *event)
{
    if (droppable(event).is_empty())
        event->ignore();
    else
        event->acceptProposedAction();
}

void Pellanor::dropEvent(QDropEvent *event)
{
    const Chosen_Paths chosen = droppable(event);
    if (chosen.is_empty())
        return event->ignore();
    clear_notice();
    add_chosen(chosen.files, chosen.folders);
    event->acceptProposedAction();
}
