#include "Pellanor.h"

#include "job_control.h"
#include "package_pipeline.h"
#include "Basic_Text.h"

#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIcon>
#include <QLocale>
#include <QMessageBox>
#include <QMimeData>
#include <QShortcut>
#include <QTimer>

#include <algorithm>
#include <exception>
#include <system_error>
#include <utility>

namespace {

QString work_folder_path()
{
    return QDir::current().absoluteFilePath(working_folder_name());
}

// "42%", then the rate and the time left once a few seconds have given a
// steady rate. No "%" beyond the bar's own "%p": the bar reads "%" as a field.
QString progress_format(qint64 done, qint64 total, qint64 elapsed_ms)
{
    QString format = QStringLiteral("%p%");
    if (elapsed_ms < 2000 || done <= 0 || total <= done)
        return format;
    const double rate = double(done) * 1000.0 / double(elapsed_ms);
    const qint64 left = qint64(double(total - done) / rate + 0.5);
    const QString clock = left >= 3600
        ? QStringLiteral("%1:%2:%3").arg(left / 3600).arg(left / 60 % 60, 2, 10, QLatin1Char('0'))
              .arg(left % 60, 2, 10, QLatin1Char('0'))
        : QStringLiteral("%1:%2").arg(left / 60).arg(left % 60, 2, 10, QLatin1Char('0'));
    return format + QStringLiteral("  \u00B7  ")
           + QLocale().formattedDataSize(qint64(rate), 1, QLocale::DataSizeTraditionalFormat)
           + QStringLiteral("/s  \u00B7  ") + Basic_Text::instance()->txt_time_left.arg(clock);
}

// Containers are known by their suffix, in any case.
bool is_container(const QString &path)
{
    return path.endsWith(container_suffix(), Qt::CaseInsensitive);
}

} // namespace

Pellanor::Pellanor(QWidget *parent)
    : Basic_From_Obj(parent)
{
    resize(600, 420);
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

    set_title(QStringLiteral("  Corvanta"));
    connect_signals();
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

// Bottom row: the busy text, the progress and cancel of a run, the start button.
void Pellanor::build_status_row()
{
    const Basic_Text *text = Basic_Text::instance();
    start_button.setText(text->txt_button_encryption);
    main_grid.addWidget(&start_button, 3, 3, 1, 1, Qt::AlignRight);
    status_label.setText(QString());
    // Room for either busy text from the start, so a run never widens the window.
    const QFontMetrics metrics(status_label.font());
    int status_width = 0;
    for (const QString &word : {text->txt_encryption, text->txt_decryption})
        for (const QString &end : {text->txt_in_progress, text->txt_cancelled})
            status_width = qMax(status_width, metrics.horizontalAdvance(word + end));
    status_label.setMinimumWidth(status_width);
    main_grid.addWidget(&status_label, 3, 1, 1, 1, Qt::AlignLeft);

    // Shown only while a run lasts, beside the busy text. They span the wide
    // column too, so showing them never widens the window.
    progress_bar.setRange(0, 1000);
    progress_bar.setFormat(QStringLiteral("%p%"));
    progress_bar.setMaximumHeight(18);
    progress_bar.setFixedWidth(260);
    progress_bar.hide();
    cancel_button.setText(text->txt_cancel);
    cancel_button.hide();
    auto *busy_row = new QHBoxLayout;
    busy_row->addWidget(&progress_bar, 0, Qt::AlignVCenter);
    busy_row->addWidget(&cancel_button, 0, Qt::AlignVCenter);
    busy_row->addStretch(1);
    main_grid.addLayout(busy_row, 3, 2, 1, 2, Qt::AlignLeft | Qt::AlignVCenter);
    auto *escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    escape->setContext(Qt::ApplicationShortcut);
    connect(escape, &QShortcut::activated, this, &Pellanor::slot_cancel);
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

void Pellanor::add_files(const QStringList &paths)
{
    if (busy)
        return;
    for (const QString &path : paths)
        file_map.insert(path, path);
    refresh_table();
}

void Pellanor::add_folder(const QString &path)
{
    // Folders are packed, never unpacked: they have no place in decryption mode.
    if (busy || !is_encryption || path.isEmpty())
        return;
    folder_map.insert(path, path);
    refresh_table();
}

// Sorts paths given at start-up into files and folders, in the form the
// dialogs give; returns a line for each path that cannot be used.
QStringList Pellanor::sort_opened(const QStringList &paths, QStringList *files, QStringList *folders)
{
    const Basic_Text *text = Basic_Text::instance();
    QStringList problems;
    for (const QString &given : paths) {
        const QFileInfo info(QDir::current(), given);
        QString why;
        if (given.isEmpty() || !info.exists())
            why = text->txt_no_such_path;
        else if (!info.isFile() && !info.isDir())
            why = text->txt_not_file_or_folder;
        else if (!info.isReadable())
            why = text->txt_cannot_read;
        if (!why.isEmpty()) {
            problems.append(QStringLiteral("%1: %2").arg(given, why));
            continue;
        }
        // The same form the dialogs give: absolute, "/" separated, no trailing "/".
        (info.isDir() ? *folders : *files).append(QDir::cleanPath(info.absoluteFilePath()));
    }
    return problems;
}

void Pellanor::open_paths(const QStringList &paths)
{
    const Basic_Text *text = Basic_Text::instance();
    if (busy || paths.isEmpty())
        return;
    QStringList files, folders;
    const QStringList problems = sort_opened(paths, &files, &folders);

    const bool only_containers =
        folders.isEmpty() && !files.isEmpty()
        && std::all_of(files.cbegin(), files.cend(), is_container);
    const QString type = only_containers ? text->txt_type_decryption : text->txt_type_encryption;
    type_combo.setCurrentIndex(only_containers ? 1 : 0);
    slot_textChanged(type);
    for (const QString &folder : std::as_const(folders))
        folder_map.insert(folder, folder);
    for (const QString &file : std::as_const(files))
        file_map.insert(file, file);
    refresh_table();
    // One key press or click starts what was asked for.
    start_button.setFocus();

    if (!problems.isEmpty()) {
        // After the window is up, so the box stands in front of it.
        const QString message = text->txt_not_listed + QLatin1Char('\n') + problems.join(QLatin1Char('\n'));
        QTimer::singleShot(0, this, [this, message] {
            show_report(Basic_Text::instance()->txt_title, message, QString(), false);
        });
    }
}

void Pellanor::slot_select_file()
{
    const Basic_Text *text = Basic_Text::instance();
    const QStringList paths = is_encryption
        ? choose_files(text->txt_choose_encrypted_file, QString(), QString())
        : choose_files(text->txt_choose_decryption_file, work_folder_path(), container_filter());
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
    file_map = QMap<QString, QString>();
    folder_map = QMap<QString, QString>();
    refresh_table();
}

void Pellanor::slot_open_dir()
{
    // The folder only exists after the first packing; show it empty rather
    // than have the file manager complain about a missing path.
    const QString path = work_folder_path();
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
    input.base_dir = QDir::currentPath();

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
        leave_busy_state();
        report({{QStringLiteral("is_encryption"), input.is_encryption},
                {QStringLiteral("is_ok"), false},
                {QStringLiteral("reason"),
                 QStringLiteral("The work could not be started: %1")
                     .arg(QString::fromLocal8Bit(error.what()))}});
    }
}

void Pellanor::start_thread(std::function<void()> body)
{
    worker = std::thread(std::move(body));
}

void Pellanor::do_work(const Job_Input &input, Job_Control *control)
{
    QVariantMap result;
    try {
        const Package_Result outcome = input.is_encryption
            ? run_encryption(input.files, input.folders, input.base_dir, control)
            : run_decryption(input.files, control);
        result = outcome.to_variant_map();
        result.insert(QStringLiteral("is_cancelled"), outcome.is_cancelled);
        result.insert(QStringLiteral("container_path"), outcome.container_path);
        result.insert(QStringLiteral("output_folders"), outcome.output_folders);
    } catch (const std::exception &error) {
        // Whatever went wrong is reported; it must not end the program.
        result = {{QStringLiteral("is_encryption"), input.is_encryption},
                  {QStringLiteral("is_ok"), false},
                  {QStringLiteral("reason"), QString::fromLocal8Bit(error.what())}};
    }
    emit signal_end_work(QVariant(result));
}

void Pellanor::slot_textChanged(const QString &type_text)
{
    const Basic_Text *text = Basic_Text::instance();
    const bool to_encryption = type_text == text->txt_type_encryption;

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
    busy = true;
    status_label.setText((is_encryption ? text->txt_encryption : text->txt_decryption)
                         + text->txt_in_progress);
    type_combo.setEnabled(false);
    add_file_button.setEnabled(false);
    add_dir_button.setEnabled(false);
    delete_button.setEnabled(false);
    clear_button.setEnabled(false);
    start_button.setEnabled(false);
    progress_bar.setValue(0);
    progress_bar.setFormat(QStringLiteral("%p%"));
    progress_bar.show();
    cancel_button.setEnabled(true);
    cancel_button.show();
    run_clock.start();
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
    // The engine notices between blocks and removes whatever it had begun.
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

    // A cancelled run is no failure: no box, and the list stays for another try.
    const QVariantMap map = result.toMap();
    const bool cancelled = map.value(QStringLiteral("is_cancelled")).toBool();
    if (!job_abandoned && !cancelled)
        report(map);
    job_abandoned = false;
    if (!cancelled)
        slot_del_all();
    leave_busy_state();
    if (cancelled) {
        const Basic_Text *text = Basic_Text::instance();
        status_label.setText((map.value(QStringLiteral("is_encryption")).toBool() ? text->txt_encryption
                                                                                 : text->txt_decryption)
                             + text->txt_cancelled);
    }
}

void Pellanor::leave_busy_state()
{
    status_label.setText(QString());
    progress_bar.hide();
    cancel_button.hide();
    type_combo.setEnabled(true);
    add_file_button.setEnabled(true);
    add_dir_button.setEnabled(is_encryption);
    delete_button.setEnabled(true);
    clear_button.setEnabled(true);
    start_button.setEnabled(true);
    busy = false;
}

void Pellanor::report(const QVariantMap &result)
{
    const Basic_Text *text = Basic_Text::instance();
    const bool was_encryption = result.value(QStringLiteral("is_encryption")).toBool();
    const bool is_ok = result.value(QStringLiteral("is_ok")).toBool();
    const QString message = (was_encryption ? text->txt_encryption : text->txt_decryption)
                            + (is_ok ? text->txt_successful : text->txt_failure);
    // Where the result went, and what a success still left out.
    QStringList places = result.value(QStringLiteral("output_folders")).toStringList();
    const QString container = result.value(QStringLiteral("container_path")).toString();
    if (!container.isEmpty())
        places.prepend(QFileInfo(container).absoluteFilePath());
    QStringList detail_lines;
    if (!places.isEmpty())
        detail_lines << text->txt_saved_to << places;
    detail_lines << result.value(QStringLiteral("warnings")).toStringList();
    const QString detail = !is_ok ? result.value(QStringLiteral("reason")).toString()
                                  : detail_lines.join(QLatin1Char('\n'));
    show_report(text->txt_title, message, detail, is_ok);
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
    // Closing mid-run cancels the run; the engine removes what it had begun.
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

void Pellanor::show_report(const QString &title, const QString &text, const QString &detail,
                           bool is_ok)
{
    QMessageBox box;
    box.setWindowTitle(title);
    box.setText(text);
    box.setIcon(is_ok ? QMessageBox::Information : QMessageBox::Warning);
    if (!detail.isEmpty())
        box.setDetailedText(detail);
    box.exec();
}

void Pellanor::open_url(const QUrl &url)
{
    // A desktop without a file manager has nothing to show; nothing to report.
    QDesktopServices::openUrl(url);
}

bool Pellanor::sort_drop(const QMimeData *mime, QStringList *files, QStringList *folders) const
{
    // Nothing can be added while a run works from the lists.
    if (busy || !mime || !mime->hasUrls())
        return false;
    const QList<QUrl> urls = mime->urls();
    for (const QUrl &url : urls) {
        if (!url.isLocalFile())
            continue;
        const QFileInfo info(url.toLocalFile());
        if (!info.exists())
            continue;
        // The same form the dialogs give: absolute, "/" separated, no trailing "/".
        const QString path = QDir::cleanPath(info.absoluteFilePath());
        if (info.isDir()) {
            if (is_encryption)
                folders->append(path);
        } else if (is_encryption || is_container(path)) {
            files->append(path);
        }
    }
    return !files->isEmpty() || !folders->isEmpty();
}

void Pellanor::dragEnterEvent(QDragEnterEvent *event)
{
    QStringList files, folders;
    if (sort_drop(event->mimeData(), &files, &folders))
        event->acceptProposedAction();
    else
        event->ignore();
}

void Pellanor::dropEvent(QDropEvent *event)
{
    QStringList files, folders;
    if (!sort_drop(event->mimeData(), &files, &folders)) {
        event->ignore();
        return;
    }
    for (const QString &folder : std::as_const(folders))
        folder_map.insert(folder, folder);
    for (const QString &file : std::as_const(files))
        file_map.insert(file, file);
    refresh_table();
    event->acceptProposedAction();
}
