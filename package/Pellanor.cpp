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
#include <QHeaderView>
#include <QIcon>
#include <QMessageBox>
#include <QMimeData>

#include <exception>
#include <system_error>
#include <utility>

namespace {

const QString container_filter = QStringLiteral("KVX file(*.kvxdata)");
const QString container_suffix = QStringLiteral(".kvxdata");
const QString work_folder_name = QStringLiteral("AddData");

QString work_folder_path()
{
    return QDir::current().absoluteFilePath(work_folder_name);
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
    const Basic_Text *text = Basic_Text::instance();

    init_frame();
    setWindowIcon(QIcon(QStringLiteral(":/Pellanor/Resources/icon_162X162.ico")));

    content_area->setLayout(&main_grid);
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

    type_label.setText(text->txt_choose_type);
    main_grid.addWidget(&type_label, 0, 1, 1, 1, Qt::AlignLeft);
    main_grid.addWidget(&type_combo, 0, 2, 1, 1, Qt::AlignLeft);
    type_combo.addItem(text->txt_type_encryption);
    type_combo.addItem(text->txt_type_decryption);
    main_grid.addWidget(&hint_label, 0, 3, 1, 1, Qt::AlignLeft);

    init_table();
    main_grid.addWidget(&file_table, 1, 1, 1, 4);

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

    start_button.setText(text->txt_button_encryption);
    main_grid.addWidget(&start_button, 3, 3, 1, 1, Qt::AlignRight);
    status_label.setText(QString());
    // Room for either busy text from the start, so a run never widens the window.
    const QFontMetrics metrics(status_label.font());
    status_label.setMinimumWidth(
        qMax(metrics.horizontalAdvance(text->txt_encryption + text->txt_in_progress),
             metrics.horizontalAdvance(text->txt_decryption + text->txt_in_progress)));
    main_grid.addWidget(&status_label, 3, 1, 1, 1, Qt::AlignLeft);

    // Shown only while a run lasts, beside the busy text. It spans the wide
    // column too, so showing it never widens the window.
    progress_bar.setRange(0, 1000);
    progress_bar.setTextVisible(false);
    progress_bar.setMaximumHeight(16);
    progress_bar.setFixedWidth(200);
    progress_bar.hide();
    main_grid.addWidget(&progress_bar, 3, 2, 1, 2, Qt::AlignLeft | Qt::AlignVCenter);

    // Names let tests and style sheets find the controls.
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

    set_title(QStringLiteral("  Corvanta"));
    connect_signals();
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

void Pellanor::slot_select_file()
{
    const Basic_Text *text = Basic_Text::instance();
    const QStringList paths = is_encryption
        ? choose_files(text->txt_choose_encrypted_file, QString(), QString())
        : choose_files(text->txt_choose_decryption_file, work_folder_path(), container_filter);
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
    progress_bar.show();
}

void Pellanor::slot_progress(qint64 done, qint64 total)
{
    if (!busy)
        return;
    progress_bar.setValue(total > 0 ? int(qMin(done, total) * 1000 / total) : 0);
}

void Pellanor::slot_end_work(const QVariant &result)
{
    // The worker emits as its last act, so this join is immediate.
    if (worker.joinable())
        worker.join();
    job_control.reset();

    if (!job_abandoned)
        report(result.toMap());
    job_abandoned = false;
    slot_del_all();
    leave_busy_state();
}

void Pellanor::leave_busy_state()
{
    status_label.setText(QString());
    progress_bar.hide();
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
    // A success may still have left items out; the detail names them.
    const QString detail = is_ok ? result.value(QStringLiteral("warnings")).toStringList().join(QLatin1Char('\n'))
                                 : result.value(QStringLiteral("reason")).toString();
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
        } else if (is_encryption || path.endsWith(container_suffix, Qt::CaseInsensitive)) {
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
