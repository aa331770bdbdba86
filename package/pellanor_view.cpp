// SPDX-License-Identifier: GPL-3.0-or-later
#include "pellanor_view.h"

#include "Basic_Text.h"
#include "chosen_paths.h"
#include "package_pipeline.h"
#include "password_dialog.h"
#include "progress_text.h"

#include <QCoreApplication>
#include <QFile>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QRegularExpression>
#include <QShortcut>

bool Return_Clicks::eventFilter(QObject *watched, QEvent *event)
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
    return QObject::eventFilter(watched, event);
}

void Pellanor_View::build_view(QWidget *content_area)
{
    content_area->setLayout(&main_grid);
    set_up_grid();
    build_type_row();
    set_up_table();
    main_grid.addWidget(&file_table, 1, 1, 1, 4);
    build_list_buttons();
    build_status_row();
    name_controls();
    set_up_keys(content_area);
}

void Pellanor_View::set_up_grid()
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
void Pellanor_View::build_type_row()
{
    const Basic_Text *text = Basic_Text::instance();
    type_label.setText(text->txt_choose_type);
    main_grid.addWidget(&type_label, 0, 1, 1, 1, Qt::AlignLeft);
    main_grid.addWidget(&type_combo, 0, 2, 1, 1, Qt::AlignLeft);
    // In Type_Index order.
    type_combo.addItem(text->txt_type_encryption);
    type_combo.addItem(text->txt_type_decryption);
    // Wraps rather than widen the window past its described width, but
    // takes the whole free width first: one line wherever it fits.
    hint_label.setWordWrap(true);
    hint_label.setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    main_grid.addWidget(&hint_label, 0, 3, 1, 1);
}

// Under the table: the buttons that change the list.
void Pellanor_View::build_list_buttons()
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
void Pellanor_View::build_status_row()
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
void Pellanor_View::name_controls()
{
    const QList<std::pair<QWidget *, const char *>> names = {
        {&type_combo, "type_combo"},           {&hint_label, "hint_label"},
        {&add_file_button, "add_file_button"}, {&add_dir_button, "add_dir_button"},
        {&delete_button, "delete_button"},     {&clear_button, "clear_button"},
        {&open_dir_button, "open_dir_button"}, {&file_table, "file_table"},
        {&start_button, "start_button"},       {&status_label, "status_label"},
        {&progress_bar, "progress_bar"},       {&cancel_button, "cancel_button"}};
    for (const auto &[widget, name] : names)
        widget->setObjectName(QString::fromLatin1(name));

    // What a screen reader says for controls whose text does not name them.
    QString type_name = Basic_Text::instance()->txt_choose_type;
    type_name.remove(QRegularExpression(QStringLiteral("[:\\x{FF1A}]\\s*$")));
    type_combo.setAccessibleName(type_name);
    type_label.setBuddy(&type_combo);
    file_table.setAccessibleName(QCoreApplication::translate("Pellanor_View", "Files and folders"));
    progress_bar.setAccessibleName(QCoreApplication::translate("Pellanor_View", "Progress"));
}

void Pellanor_View::set_up_keys(QWidget *content_area)
{
    // Tab moves between controls, not between the table's cells.
    file_table.setTabKeyNavigation(false);
    // An empty table draws no current cell: its frame shows where the focus is.
    file_table.setStyleSheet(QStringLiteral("QTableWidget:focus { border: 2px solid palette(highlight); }"));
    // Reading order: the type, the list, its buttons, then the bottom row.
    const QList<QWidget *> order = {&type_combo,    &file_table,   &add_file_button,
                                    &add_dir_button, &delete_button, &clear_button,
                                    &open_dir_button, &cancel_button, &start_button};
    for (qsizetype i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(order[i - 1], order[i]);
    for (QPushButton *button : {&add_file_button, &add_dir_button, &delete_button, &clear_button,
                                &open_dir_button, &cancel_button, &start_button})
        button->installEventFilter(&return_clicks);

    // Through the buttons, so a run's locked buttons lock their keys too.
    auto *remove = new QShortcut(QKeySequence::Delete, &file_table);
    remove->setContext(Qt::WidgetShortcut);
    QObject::connect(remove, &QShortcut::activated, &delete_button, &QPushButton::click);
    auto *open = new QShortcut(QKeySequence::Open, content_area);
    QObject::connect(open, &QShortcut::activated, &add_file_button, &QPushButton::click);
    // Esc cancels a run wherever the focus is.
    auto *escape = new QShortcut(QKeySequence(Qt::Key_Escape), content_area);
    escape->setContext(Qt::ApplicationShortcut);
    QObject::connect(escape, &QShortcut::activated, &cancel_button, &QPushButton::click);
}

void Pellanor_View::set_up_table()
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

void Pellanor_View::show_rows(const Path_Set &folders, const Path_Set &files)
{
    const Basic_Text *text = Basic_Text::instance();
    set_up_table();
    int row = file_table.rowCount();
    file_table.setRowCount(row + int(folders.size() + files.size()));
    const auto add_row = [&](const QString &path, bool is_dir) {
        // Shown escaped: a name's control characters would break the row.
        auto *name_cell = new QTableWidgetItem(display_path(QFile::encodeName(path)));
        name_cell->setData(IsDirRole, is_dir);
        name_cell->setData(PathRole, path);
        file_table.setItem(row, 0, name_cell);
        file_table.setItem(row, 1, new QTableWidgetItem(is_dir ? text->txt_is_dir : text->txt_is_file));
        ++row;
    };
    for (const QString &folder : folders)
        add_row(folder, true);
    for (const QString &file : files)
        add_row(file, false);
}

QList<Pellanor_View::Row> Pellanor_View::selected_rows() const
{
    QList<Row> rows;
    for (const QTableWidgetItem *cell : file_table.selectedItems()) {
        // Only the name cell carries an entry.
        const QString path = cell->data(PathRole).toString();
        if (!path.isEmpty())
            rows.append({path, cell->data(IsDirRole).toBool()});
    }
    return rows;
}

void Pellanor_View::show_mode(bool is_encryption)
{
    const Basic_Text *text = Basic_Text::instance();
    // Folders are packed, never unpacked.
    add_dir_button.setEnabled(is_encryption);
    start_button.setText(is_encryption ? text->txt_button_encryption : text->txt_button_decryption);
    hint_label.setText(is_encryption ? text->txt_hint_encryption : text->txt_hint_decryption);
}

void Pellanor_View::show_busy(bool on, bool is_encryption)
{
    // What could change the lists or start a second run.
    for (QWidget *control : std::initializer_list<QWidget *>{&type_combo, &add_file_button, &add_dir_button,
                                                             &delete_button, &clear_button, &start_button})
        control->setEnabled(!on);
    if (!on)
        add_dir_button.setEnabled(is_encryption);
    progress_bar.setVisible(on);
    cancel_button.setVisible(on);
    cancel_button.setEnabled(on);
    // Return or Space acts on the run: Cancel during it, start after it.
    (on ? cancel_button : start_button).setFocus();
    if (!on) {
        status_label.clear();
        return;
    }
    const Basic_Text *text = Basic_Text::instance();
    status_label.setText((is_encryption ? text->txt_encryption : text->txt_decryption) + text->txt_in_progress);
    progress_bar.setValue(0);
    progress_bar.setFormat(QStringLiteral("%p%"));
}

void Pellanor_View::show_progress_of_run(qint64 done, qint64 total, qint64 elapsed_ms)
{
    progress_bar.setValue(total > 0 ? int(qMin(done, total) * 1000 / total) : 0);
    progress_bar.setFormat(progress_format(done, total, elapsed_ms));
}

// A cancel is no failure: the status row says what was kept.
void Pellanor_View::show_cancelled(bool is_encryption)
{
    const Basic_Text *text = Basic_Text::instance();
    status_label.setText(is_encryption ? text->txt_encryption + text->txt_cancelled
                                       : text->txt_decryption + text->txt_cancelled_kept);
}

void Pellanor_View::show_notice(const QString &standing, bool password_set)
{
    const QString password = password_set ? Password_Dialog::password_set_notice() : QString();
    status_label.setText(standing.isEmpty() || password.isEmpty() ? standing + password : standing + ' ' + password);
}
