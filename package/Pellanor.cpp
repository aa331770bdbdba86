// SPDX-License-Identifier: GPL-3.0-or-later
#include "Pellanor.h"

#include "Basic_Text.h"
#include "close_on_signals.h"
#include "password_dialog.h"
#include "row_menu.h"
#include "start_place.h"

#include <QDesktopServices>
#include <QDir>
#include <QDropEvent>
#include <QFileInfo>
#include <QFileDialog>
#include <QIcon>
#include <QMessageBox>
#include <QMimeData>
#include <QScreen>
#include <QShortcut>
#include <QTimer>

#include <utility>

namespace {

// The size the window opens at, where the screen allows.
const QSize described_size(600, 420);

const QString key_is_encryption = QStringLiteral("is_encryption");
const QString key_is_ok = QStringLiteral("is_ok");
const QString key_result = QStringLiteral("result");

} // namespace

Pellanor::Pellanor(QWidget *parent)
    : Basic_From_Obj(parent)
{
    resize(described_size);
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

void Pellanor::place_on_screen()
{
    // Every text stays readable down to the layout's minimum.
    setMinimumSize(minimumSizeHint());
    const QScreen *where = screen();
    if (!where)
        return;
    setGeometry(fit_on_screen(described_size, minimumSize(), where->availableGeometry()));
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
    connect(&job, &Package_Job::password_withdrawn, this, [this] {
        for (Password_Dialog *open : findChildren<Password_Dialog *>())
            open->reject();
    });
    // Kept off the described rows: a key and the status row's note.
    auto *password_key = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_P), this);
    connect(password_key, &QShortcut::activated, this, &Pellanor::slot_set_password);

    // Right click, the Menu key, and Shift+F10 as desktops have it.
    file_table.setContextMenuPolicy(Qt::CustomContextMenu);
    connect(&file_table, &QWidget::customContextMenuRequested, this, &Pellanor::show_row_menu);
    auto *menu_key = new QShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F10), &file_table);
    menu_key->setContext(Qt::WidgetShortcut);
    connect(menu_key, &QShortcut::activated, this, [this] {
        const QModelIndex current = file_table.currentIndex();
        show_row_menu(current.isValid() ? file_table.visualRect(current).center() : QPoint());
    });
}

QMenu *Pellanor::row_menu(int row)
{
    const QTableWidgetItem *cell = file_table.item(row, 0);
    if (busy || !cell)
        return nullptr;
    return make_row_menu(cell->data(PathRole).toString(), is_encryption,
                         {[this](const QString &c) { unpack_to(c); }, [this](const QString &c) { show_contents(c); },
                          [this](const QString &p) { pack_as(p); }},
                         this);
}

void Pellanor::show_row_menu(const QPoint &at)
{
    const int row = file_table.rowAt(at.y());
    QMenu *menu = row_menu(row >= 0 ? row : file_table.currentRow());
    if (!menu)
        return;
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(file_table.viewport()->mapToGlobal(at));
}

void Pellanor::unpack_listed_to()
{
    if (!is_encryption && !file_map.isEmpty())
        unpack_to(file_map.paths(), {});
}

void Pellanor::unpack_to(const QString &container, const QList<QByteArray> &patterns)
{
    unpack_to(QStringList{container}, patterns);
}

void Pellanor::unpack_to(const QStringList &containers, const QList<QByteArray> &patterns)
{
    if (busy)
        return;
    const QString folder = choose_folder(tr("Unpack to"));
    if (folder.isEmpty())
        return;
    Package_Job::Input input{false, containers, {}, base_dir, {}, {}, {}};
    input.unpack.destination = QFile::encodeName(folder);
    input.unpack.include = patterns;
    start_run(input);
}

// The selected rows, or the one the menu was opened on.
void Pellanor::pack_as(const QString &path)
{
    if (busy)
        return;
    const QString file = choose_save_file(tr("Pack as"), QDir(base_dir).filePath(working_folder_name()), container_filter());
    if (file.isEmpty())
        return;
    Package_Job::Input input{true, {}, {}, base_dir, {}, {}, {}};
    QList<Row> rows = selected_rows();
    if (std::none_of(rows.cbegin(), rows.cend(), [&](const Row &r) { return r.path == path; }))
        rows = {{path, folder_map.contains(path)}};
    for (const Row &r : std::as_const(rows))
        (r.is_dir ? input.folders : input.files).append(r.path);
    input.pack.output_file = QFile::encodeName(file);
    start_run(input);
}

Contents_Dialog *Pellanor::show_contents(const QString &container)
{
    auto *dialog = new Contents_Dialog(container, this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &Contents_Dialog::unpack_requested, this,
            [this](const QString &c, const QList<QByteArray> &patterns) { unpack_to(c, patterns); });
    dialog->show();
    return dialog;
}

void Pellanor::clear_notice()
{
    // Where containers go stays said: it holds for every run.
    if (!busy)
        status_label.setText(next_password.is_empty() ? standing_notice
                             : standing_notice.isEmpty() ? Password_Dialog::password_set_notice()
                                                         : standing_notice + ' ' + Password_Dialog::password_set_notice());
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
    const QString work_folder = QDir(base_dir).filePath(working_folder_name());
    // Containers are looked for where packing puts them, once there are any;
    // files from where containers go (home, when started where nothing can be written).
    const QString start_folder = is_encryption || !QFileInfo(work_folder).isDir() ? base_dir : work_folder;
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
    else
        last_run = input;
    // A run that cannot start is a failure, and the list stays for another try.
    if (const auto failed = job.start(input)) {
        set_busy(false);
        report(*failed);
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

QVariant Pellanor::end_work_value(const Package_Result &result)
{
    return QVariantMap{{key_is_encryption, result.is_encryption},
                       {key_is_ok, result.is_ok},
                       {key_result, QVariant::fromValue(result)}};
}

void Pellanor::slot_end_work(const QVariant &result)
{
    // A map without the whole result still tells the type and the outcome.
    const QVariantMap map = result.toMap();
    Package_Result outcome = map.value(key_result).value<Package_Result>();
    outcome.is_encryption = map.value(key_is_encryption).toBool();
    outcome.is_ok = map.value(key_is_ok).toBool();
    end_run(outcome, true);
}

void Pellanor::end_run(const Package_Result &outcome, bool tell)
{
    // The run is over: nothing to cancel beside the report.
    progress_bar.hide();
    cancel_button.hide();
    // A cancelled run is no failure: no box, and the list stays for another try.
    if (tell && !outcome.is_cancelled)
        report(outcome);
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

bool Pellanor::ask_password(const QString &container, int attempt, Password *out)
{
    return Password_Dialog::ask_to_open(this, container, attempt, out);
}

void Pellanor::report(const Package_Result &result)
{
    const Run_Report shown = make_run_report(result, blocked_working_folder(result, base_dir));
    const Run_Report::Answer answer = show_report(Basic_Text::instance()->txt_title, shown);
    if (answer == Run_Report::Answer::Open_Folder && !shown.folder.isEmpty())
        open_url(QUrl::fromLocalFile(shown.folder));
    if (answer == Run_Report::Answer::Recover && !shown.recoverable.isEmpty()) {
        // Into where the refused run would have unpacked, as a run of its
        // own once this one's end is settled.
        Package_Job::Input salvage = last_run;
        salvage.files = shown.recoverable;
        salvage.folders.clear();
        salvage.unpack.salvage = true;
        QTimer::singleShot(0, this, [this, salvage] {
            if (!busy)
                start_run(salvage);
        });
    }
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

bool Pellanor::confirm_close(bool encryption)
{
    const QString question = encryption
        ? tr("Packing is still running. Stop it and close? Nothing of it is kept.")
        : tr("Unpacking is still running. Stop it and close? The files unpacked so far are kept; "
             "a new run completes the rest.");
    return QMessageBox::question(this, Basic_Text::instance()->txt_title, question) == QMessageBox::Yes;
}

QStringList Pellanor::choose_files(const QString &caption, const QString &dir, const QString &filter)
{
    return QFileDialog::getOpenFileNames(nullptr, caption, dir, filter);
}

QString Pellanor::choose_folder(const QString &caption)
{
    return QFileDialog::getExistingDirectory(nullptr, caption, QString(), QFileDialog::ShowDirsOnly);
}

QString Pellanor::choose_save_file(const QString &caption, const QString &dir, const QString &filter)
{
    return QFileDialog::getSaveFileName(this, caption, dir, filter, nullptr, QFileDialog::DontConfirmOverwrite);
}

Run_Report::Answer Pellanor::show_report(const QString &title, const Run_Report &report)
{
    return show_run_report_box(title, report);
}

void Pellanor::open_url(const QUrl &url)
{
    // A desktop without a file manager has nothing to show; nothing to report.
    QDesktopServices::openUrl(url);
}

Chosen_Paths Pellanor::droppable(const QDropEvent *event) const
{
    // Nothing can be added while a run works from the lists.
    const QMimeData *mime = event->mimeData();
    return busy || !mime ? Chosen_Paths() : sort_dropped(mime->urls(), is_encryption);
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
