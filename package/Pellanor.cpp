#include "Pellanor.h"

#include "Basic_Text.h"
#include "chosen_paths.h"
#include "job_control.h"
#include "package_pipeline.h"
#include "progress_text.h"
#include "start_place.h"

#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIcon>
#include <QKeyEvent>
#include <QMessageBox>
#include <QMimeData>
#include <QScreen>
#include <QShortcut>
#include <QTimer>

#include <exception>
#include <system_error>
#include <utility>

namespace {

// The size the window opens at, where the screen allows.
const QSize described_size(600, 420);

} // namespace

Pellanor::Pellanor(QWidget *parent)
    : Basic_From_Obj(parent)
{
    resize(described_size);
    // Only the low 24 bits count: a black title bar.
    title_bar_color = static_cast<int>(0xFF000000u);
    setAcceptDrops(true);
}

Pellanor::~Pellanor()
{
    // The worker may still be packing: stop it before the window goes away.
    stop_job();
}

void Pellanor::init_window()
{
    init_frame();
    setWindowIcon(QIcon(QStringLiteral(":/Pellanor/Resources/icon_162X162.ico")));

    content_area->setLayout(&main_grid);
    set_up_grid();
    build_type_row();
    init_table();
    main_grid.addWidget(&file_table, 1, 1, 1, 4);
    build_list_buttons();
    build_status_row();
    name_controls();
    set_up_keys();

    set_title(QStringLiteral("  Corvanta"));
    connect_signals();

    // A launcher may start the program where nothing can be written.
    const QString current = QDir::currentPath();
    base_dir = choose_base_dir(current, QDir::homePath());
    if (base_dir != current)
        status_label.setText(Basic_Text::instance()->txt_working_in_home.arg(
            QDir::toNativeSeparators(QDir(base_dir).filePath(working_folder_name()))));
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

void Pellanor::set_up_grid()
{
    main_grid.setRowStretch(0, 0);
    main_grid.setRowMinimumHeight(0, 30);
    main_grid.setRowStretch(1, 1);
    main_grid.setRowStretch(2, 0);
    main_grid.setRowMinimumHeight(2, 30);
    main_grid.setRowStretch(3, 0);
    main_grid.setRowMinimumHeight(3, 30);
    main_grid.setColumnStretch(0, 0);
    main_grid.setColumnMinimumWidth(0, 5);
    main_grid.setColumnStretch(1, 0);
    main_grid.setColumnMinimumWidth(1, 80);
    main_grid.setColumnStretch(2, 0);
    main_grid.setColumnMinimumWidth(2, 80);
    main_grid.setColumnStretch(3, 1);
    main_grid.setColumnStretch(4, 0);
    main_grid.setColumnMinimumWidth(4, 5);
}

// Top row: the mode and its hint.
void Pellanor::build_type_row()
{
    const Basic_Text *text = Basic_Text::instance();
    type_label.setText(text->txt_choose_type);
    main_grid.addWidget(&type_label, 0, 1, 1, 1, Qt::AlignLeft);
    main_grid.addWidget(&type_combo, 0, 2, 1, 1, Qt::AlignLeft);
    type_combo.addItem(text->txt_type_encryption);
    type_combo.addItem(text->txt_type_decryption);
    // Wraps rather than widen the window past its described width.
    hint_label.setWordWrap(true);
    main_grid.addWidget(&hint_label, 0, 3, 1, 1, Qt::AlignLeft);
}

// Under the table: the buttons that change the list.
void Pellanor::build_list_buttons()
{
    const Basic_Text *text = Basic_Text::instance();
    auto *button_grid = new QGridLayout;
    main_grid.addLayout(button_grid, 2, 0, 1, 4);
    button_grid->setRowStretch(0, 0);
    button_grid->setRowMinimumHeight(0, 30);
    button_grid->setRowStretch(1, 1);
    button_grid->setRowStretch(2, 1);
    button_grid->setRowStretch(3, 1);

    add_file_button.setText(text->txt_add_file);
    button_grid->addWidget(&add_file_button, 0, 1, 1, 1, Qt::AlignRight);
    add_dir_button.setText(text->txt_add_dir);
    button_grid->addWidget(&add_dir_button, 0, 2, 1, 1, Qt::AlignRight);
    delete_button.setText(text->txt_delete);
    button_grid->addWidget(&delete_button, 0, 3, 1, 1, Qt::AlignRight);
    clear_button.setText(text->txt_clear);
    button_grid->addWidget(&clear_button, 0, 4, 1, 1, Qt::AlignRight);
    open_dir_button.setText(text->txt_open_dir);
    button_grid->addWidget(&open_dir_button, 0, 5, 1, 1, Qt::AlignRight);
}

// Bottom row: the busy text, the progress and cancel of a run, the start button
// at the right. One row layout, so a long notice wraps instead of running
// under the start button.
void Pellanor::build_status_row()
{
    const Basic_Text *text = Basic_Text::instance();
    start_button.setText(text->txt_button_encryption);
    status_label.setText(QString());
    status_label.setWordWrap(true);
    // Room for either busy text from the start, so a run never widens the window.
    const QFontMetrics metrics(status_label.font());
    int busy_width = 0;
    for (const QString &word : {text->txt_encryption, text->txt_decryption})
        busy_width = qMax(busy_width, metrics.horizontalAdvance(word + text->txt_in_progress));
    status_label.setMinimumWidth(busy_width);

    // Shown only while a run lasts, beside the busy text.
    progress_bar.setRange(0, 1000);
    progress_bar.setFormat(QStringLiteral("%p%"));
    progress_bar.setMaximumHeight(18);
    progress_bar.setFixedWidth(260);
    progress_bar.hide();
    cancel_button.setText(text->txt_cancel);
    cancel_button.hide();
    auto *bottom_row = new QHBoxLayout;
    // The text takes the free width: it wraps only when the row is full.
    bottom_row->addWidget(&status_label, 1);
    bottom_row->addWidget(&progress_bar, 0, Qt::AlignVCenter);
    bottom_row->addWidget(&cancel_button, 0, Qt::AlignVCenter);
    bottom_row->addWidget(&start_button, 0, Qt::AlignVCenter);
    main_grid.addLayout(bottom_row, 3, 1, 1, 3);
}

// Names let tests and style sheets find the controls.
void Pellanor::name_controls()
{
    type_combo.setObjectName(QStringLiteral("type_combo"));
    hint_label.setObjectName(QStringLiteral("hint_label"));
    add_file_button.setObjectName(QStringLiteral("add_file_button"));
    add_dir_button.setObjectName(QStringLiteral("add_dir_button"));
    delete_button.setObjectName(QStringLiteral("delete_button"));
    clear_button.setObjectName(QStringLiteral("clear_button"));
    open_dir_button.setObjectName(QStringLiteral("open_dir_button"));
    file_table.setObjectName(QStringLiteral("file_table"));
    start_button.setObjectName(QStringLiteral("start_button"));
    status_label.setObjectName(QStringLiteral("status_label"));
    progress_bar.setObjectName(QStringLiteral("progress_bar"));
    cancel_button.setObjectName(QStringLiteral("cancel_button"));
}

void Pellanor::set_up_keys()
{
    // Tab moves between controls, not between the table's cells.
    file_table.setTabKeyNavigation(false);
    // Reading order: the type, the list, its buttons, then the bottom row.
    const QList<QWidget *> order = {&type_combo,    &file_table,   &add_file_button,
                                    &add_dir_button, &delete_button, &clear_button,
                                    &open_dir_button, &cancel_button, &start_button};
    for (qsizetype i = 1; i < order.size(); ++i)
        setTabOrder(order[i - 1], order[i]);
    for (QPushButton *button : {&add_file_button, &add_dir_button, &delete_button, &clear_button,
                                &open_dir_button, &cancel_button, &start_button})
        button->installEventFilter(this);

    // Through the buttons, so a run's locked buttons lock their keys too.
    auto *remove = new QShortcut(QKeySequence::Delete, &file_table);
    remove->setContext(Qt::WidgetShortcut);
    connect(remove, &QShortcut::activated, &delete_button, &QPushButton::click);
    auto *open = new QShortcut(QKeySequence::Open, this);
    connect(open, &QShortcut::activated, &add_file_button, &QPushButton::click);
    auto *escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    escape->setContext(Qt::ApplicationShortcut);
    connect(escape, &QShortcut::activated, this, &Pellanor::slot_cancel);
}

bool Pellanor::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        const bool plain = (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
        auto *button = qobject_cast<QPushButton *>(watched);
        if (button && plain && (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter)) {
            button->click();
            return true;
        }
    }
    return Basic_From_Obj::eventFilter(watched, event);
}

void Pellanor::connect_signals()
{
    connect(&type_combo, &QComboBox::textActivated, this, &Pellanor::slot_textChanged);
    slot_textChanged(Basic_Text::instance()->txt_type_encryption);

    connect(&add_file_button, &QPushButton::clicked, this, &Pellanor::slot_select_file);
    connect(&add_dir_button, &QPushButton::clicked, this, &Pellanor::slot_select_dir);
    connect(&delete_button, &QPushButton::clicked, this, &Pellanor::slot_del_select);
    connect(&clear_button, &QPushButton::clicked, this, &Pellanor::slot_del_all);
    connect(&open_dir_button, &QPushButton::clicked, this, &Pellanor::slot_open_dir);
    connect(&start_button, &QPushButton::clicked, this, &Pellanor::slot_encryption);
    connect(&cancel_button, &QPushButton::clicked, this, &Pellanor::slot_cancel);

    // Emitted on the worker thread, so both arrive queued on the GUI thread.
    connect(this, &Pellanor::signal_end_work, this, &Pellanor::slot_end_work);
    connect(this, &Pellanor::signal_progress, this, &Pellanor::slot_progress);
}

void Pellanor::init_table()
{
    const Basic_Text *text = Basic_Text::instance();

    file_table.setRowCount(0);
    file_table.setColumnCount(2);
    file_table.setEditTriggers(QAbstractItemView::NoEditTriggers);
    file_table.setSelectionBehavior(QAbstractItemView::SelectRows);
    file_table.horizontalHeader()->setVisible(true);
    file_table.verticalHeader()->setVisible(false);
    file_table.horizontalHeader()->setStretchLastSection(true);
    file_table.setHorizontalHeaderLabels({text->txt_file_name, text->txt_file_type});
    file_table.setColumnWidth(0, 450);
}

void Pellanor::refresh_table()
{
    const Basic_Text *text = Basic_Text::instance();

    init_table();
    int row = file_table.rowCount();
    file_table.setRowCount(row + folder_map.size() + file_map.size());

    const auto add_row = [&](const QString &path, bool is_dir) {
        auto *name_cell = new QTableWidgetItem(path);
        name_cell->setData(IsDirRole, is_dir);
        name_cell->setData(PathRole, path);
        file_table.setItem(row, 0, name_cell);
        file_table.setItem(row, 1, new QTableWidgetItem(is_dir ? text->txt_is_dir : text->txt_is_file));
        ++row;
    };
    for (auto it = folder_map.cbegin(); it != folder_map.cend(); ++it)
        add_row(it.key(), true);
    for (auto it = file_map.cbegin(); it != file_map.cend(); ++it)
        add_row(it.key(), false);
}

void Pellanor::clear_notice()
{
    if (!busy)
        status_label.clear();
}

void Pellanor::add_chosen(const QStringList &files, const QStringList &folders)
{
    for (const QString &folder : folders)
        folder_map.insert(folder, folder);
    for (const QString &file : files)
        file_map.insert(file, file);
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

void Pellanor::open_paths(const QStringList &paths, Open_Mode mode)
{
    if (busy || paths.isEmpty())
        return;
    Chosen_Paths chosen = sort_opened(paths, QDir::current());
    bool to_decryption = mode == Open_Mode::Unpack || (mode == Open_Mode::By_Kind && chosen.only_containers());
    if (mode == Open_Mode::Unpack) {
        // Only containers unpack; anything else is named with the paths left out.
        const QString why = Basic_Text::instance()->txt_not_container;
        for (const QString &path : std::as_const(chosen.folders) + chosen.files)
            if (!is_container(path))
                chosen.problems.append(QStringLiteral("%1: %2").arg(path, why));
        chosen.folders.clear();
        chosen.files.removeIf([](const QString &path) { return !is_container(path); });
    }
    type_combo.setCurrentIndex(to_decryption ? 1 : 0);
    apply_mode(!to_decryption);
    add_chosen(chosen.files, chosen.folders);
    // One key press or click starts what was asked for.
    start_button.setFocus();

    if (!chosen.problems.isEmpty()) {
        // After the window is up, so the box stands in front of it.
        Run_Report problems;
        problems.text = Basic_Text::instance()->txt_not_listed + QLatin1Char('\n')
                        + chosen.problems.join(QLatin1Char('\n'));
        QTimer::singleShot(0, this, [this, problems] { show_report(Basic_Text::instance()->txt_title, problems); });
    }
}

void Pellanor::slot_select_file()
{
    const Basic_Text *text = Basic_Text::instance();
    const QString work_folder = QDir(base_dir).filePath(working_folder_name());
    const QStringList paths = is_encryption
        ? choose_files(text->txt_choose_encrypted_file, QString(), QString())
        : choose_files(text->txt_choose_decryption_file, work_folder, container_filter());
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
    const QList<QTableWidgetItem *> cells = file_table.selectedItems();
    for (const QTableWidgetItem *cell : cells) {
        const QString path = cell->data(PathRole).toString();
        if (path.isEmpty())
            continue;
        if (cell->data(IsDirRole).toBool())
            folder_map.remove(path);
        else
            file_map.remove(path);
    }
    refresh_table();
}

void Pellanor::slot_del_all()
{
    clear_notice();
    file_map = QMap<QString, QString>();
    folder_map = QMap<QString, QString>();
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

    Job_Input input;
    input.is_encryption = is_encryption;
    input.files = file_map.keys();
    input.folders = folder_map.keys();
    input.base_dir = base_dir;

    slot_start_work();
    job_abandoned = false;
    job_control = std::make_unique<Job_Control>();
    Job_Control *control = job_control.get();
    // The engine already paces its reports; each one is a queued hop to the bar.
    control->set_progress_handler([this](qint64 done, qint64 total) {
        emit signal_progress(done, total);
    });

    try {
        start_thread([this, input, control] { do_work(input, control); });
    } catch (const std::system_error &error) {
        job_control.reset();
        set_busy(false);
        status_label.clear();
        Package_Result failed;
        failed.is_encryption = input.is_encryption;
        failed.errors.append(QStringLiteral("The work could not be started: %1")
                                 .arg(QString::fromLocal8Bit(error.what())));
        report(failed);
    }
}

void Pellanor::start_thread(std::function<void()> body)
{
    worker = std::thread(std::move(body));
}

void Pellanor::do_work(const Job_Input &input, Job_Control *control)
{
    Package_Result outcome;
    try {
        outcome = input.is_encryption ? run_encryption(input.files, input.folders, input.base_dir, control)
                                      : run_decryption(input.files, control);
    } catch (const std::exception &error) {
        // Whatever went wrong is reported; it must not end the program.
        outcome = Package_Result();
        outcome.is_encryption = input.is_encryption;
        outcome.errors.append(QString::fromLocal8Bit(error.what()));
    }
    emit signal_end_work(QVariant(outcome.to_variant_map()));
}

void Pellanor::slot_textChanged(const QString &type_text)
{
    clear_notice();
    apply_mode(type_text == Basic_Text::instance()->txt_type_encryption);
}

void Pellanor::apply_mode(bool to_encryption)
{
    const Basic_Text *text = Basic_Text::instance();
    // What the table shows is what runs: entries of the other mode go.
    if (to_encryption != is_encryption) {
        file_map = QMap<QString, QString>();
        folder_map = QMap<QString, QString>();
    }

    if (to_encryption) {
        add_dir_button.setEnabled(true);
        start_button.setText(text->txt_button_encryption);
        is_encryption = true;
        hint_label.setText(text->txt_hint_encryption);
    } else {
        start_button.setText(text->txt_button_decryption);
        add_dir_button.setEnabled(false);
        is_encryption = false;
        hint_label.setText(text->txt_hint_decryption);
    }
    refresh_table();
}

void Pellanor::slot_start_work()
{
    const Basic_Text *text = Basic_Text::instance();
    status_label.setText((is_encryption ? text->txt_encryption : text->txt_decryption)
                         + text->txt_in_progress);
    set_busy(true);
    progress_bar.setValue(0);
    progress_bar.setFormat(QStringLiteral("%p%"));
    run_clock.start();
}

void Pellanor::set_busy(bool on)
{
    busy = on;
    // What could change the lists or start a second run.
    for (QWidget *control : std::initializer_list<QWidget *>{&type_combo, &add_file_button, &add_dir_button,
                                                             &delete_button, &clear_button, &start_button})
        control->setEnabled(!on);
    if (!on)
        add_dir_button.setEnabled(is_encryption);
    progress_bar.setVisible(on);
    cancel_button.setVisible(on);
    cancel_button.setEnabled(on);
}

void Pellanor::slot_progress(qint64 done, qint64 total)
{
    if (!busy)
        return;
    progress_bar.setValue(total > 0 ? int(qMin(done, total) * 1000 / total) : 0);
    progress_bar.setFormat(progress_format(done, total, run_clock.elapsed()));
}

void Pellanor::slot_cancel()
{
    // Encryption removes whatever it had begun; decryption keeps the files it
    // finished, which a later run completes.
    if (!busy || !job_control)
        return;
    job_control->cancel();
    cancel_button.setEnabled(false);
}

void Pellanor::slot_end_work(const QVariant &result)
{
    // The worker emits as its last act, so this join is immediate.
    if (worker.joinable())
        worker.join();
    job_control.reset();

    const Package_Result outcome = Package_Result::from_variant_map(result.toMap());
    // The run is over: nothing to cancel beside the report.
    progress_bar.hide();
    cancel_button.hide();
    // A cancelled run is no failure: no box, and the list stays for another try.
    if (!job_abandoned && !outcome.is_cancelled)
        report(outcome);
    job_abandoned = false;
    set_busy(false);
    status_label.clear();
    if (!outcome.is_cancelled) {
        slot_del_all();
        return;
    }
    const Basic_Text *text = Basic_Text::instance();
    status_label.setText(outcome.is_encryption ? text->txt_encryption + text->txt_cancelled
                                               : text->txt_decryption + text->txt_cancelled_kept);
}

void Pellanor::report(const Package_Result &result)
{
    // A failed packing whose working folder cannot be written says what to do.
    QString blocked;
    if (result.is_encryption && !result.is_ok && !can_make_working_folder(base_dir))
        blocked = QDir::toNativeSeparators(QDir(base_dir).filePath(working_folder_name()));
    const Run_Report shown = make_run_report(result, blocked);
    if (show_report(Basic_Text::instance()->txt_title, shown) && !shown.folder.isEmpty())
        open_url(QUrl::fromLocalFile(shown.folder));
}

void Pellanor::stop_job()
{
    if (!worker.joinable())
        return;
    job_abandoned = true;
    if (job_control)
        job_control->cancel();
    worker.join();
}

void Pellanor::closeEvent(QCloseEvent *event)
{
    // Closing mid-run cancels the run, as the cancel button does.
    stop_job();
    Basic_From_Obj::closeEvent(event);
}

QStringList Pellanor::choose_files(const QString &caption, const QString &dir,
                                   const QString &filter)
{
    return QFileDialog::getOpenFileNames(nullptr, caption, dir, filter);
}

QString Pellanor::choose_folder(const QString &caption)
{
    return QFileDialog::getExistingDirectory(nullptr, caption, QString(),
                                             QFileDialog::ShowDirsOnly);
}

bool Pellanor::show_report(const QString &title, const Run_Report &report)
{
    QMessageBox box;
    box.setWindowTitle(title);
    box.setText(report.text);
    box.setIcon(report.is_ok ? QMessageBox::Information : QMessageBox::Warning);
    if (!report.summary.isEmpty()) {
        // Paths are kept whole: the box grows to the widest one.
        box.setTextFormat(Qt::PlainText);
        box.setInformativeText(summary_html(report.summary));
    }
    if (!report.details.isEmpty())
        box.setDetailedText(report.details);
    QPushButton *open = nullptr;
    if (!report.folder.isEmpty())
        open = box.addButton(Basic_Text::instance()->txt_open_folder, QMessageBox::ActionRole);
    box.setDefaultButton(box.addButton(QMessageBox::Ok));
    box.exec();
    return open && box.clickedButton() == open;
}

void Pellanor::open_url(const QUrl &url)
{
    // A desktop without a file manager has nothing to show; nothing to report.
    QDesktopServices::openUrl(url);
}

void Pellanor::dragEnterEvent(QDragEnterEvent *event)
{
    // Nothing can be added while a run works from the lists.
    const QMimeData *mime = event->mimeData();
    if (!busy && mime && !sort_dropped(mime->urls(), is_encryption).is_empty())
        event->acceptProposedAction();
    else
        event->ignore();
}

void Pellanor::dropEvent(QDropEvent *event)
{
    const QMimeData *mime = event->mimeData();
    const Chosen_Paths chosen = mime ? sort_dropped(mime->urls(), is_encryption) : Chosen_Paths();
    if (busy || chosen.is_empty()) {
        event->ignore();
        return;
    }
    clear_notice();
    add_chosen(chosen.files, chosen.folders);
    event->acceptProposedAction();
}
