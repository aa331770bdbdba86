// SPDX-License-Identifier: GPL-3.0-or-later
#include "contents_dialog.h"

#include "container_reader.h"
#include "package_pipeline.h"

#include <QDialogButtonBox>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QHeaderView>
#include <QLocale>
#include <QVBoxLayout>

namespace {

constexpr int path_role = Qt::UserRole;

} // namespace

QByteArray literal_pattern(const QString &path)
{
    QByteArray out;
    for (const char c : QFile::encodeName(path)) {
        if (c == '*' || c == '?' || c == '[' || c == '\\')
            out += '\\';
        out += c;
    }
    return out;
}

Contents_Dialog::Contents_Dialog(const QString &container, QWidget *parent)
    : QDialog(parent), container_path(container)
{
    setWindowTitle(tr("Contents of %1").arg(QFileInfo(container).fileName()));
    entry_tree.setHeaderLabels({tr("Name"), tr("Size"), tr("Modified")});
    entry_tree.setSelectionMode(QAbstractItemView::ExtendedSelection);
    entry_tree.header()->setSectionResizeMode(0, QHeaderView::Stretch);
    entry_tree.setAccessibleName(tr("Entries"));
    unpack_selected_button.setText(tr("&Unpack selected to…"));
    unpack_selected_button.setEnabled(false);
    status_label.setText(tr("Reading the container…"));
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close);
    buttons->addButton(&unpack_selected_button, QDialogButtonBox::ActionRole);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(&entry_tree);
    layout->addWidget(&status_label);
    layout->addWidget(buttons);
    resize(640, 420);

    connect(&entry_tree, &QTreeWidget::itemSelectionChanged, this,
            [this] { unpack_selected_button.setEnabled(!entry_tree.selectedItems().isEmpty()); });
    connect(&unpack_selected_button, &QPushButton::clicked, this,
            [this] { emit unpack_requested(container_path, selected_patterns()); });

    // The dialog waits for the reader when it goes, so the reader may post to it.
    const QByteArray path = QFile::encodeName(container);
    reader = std::thread([this, path] {
        QList<Container_Entry> entries;
        QStringList refused;
        QString reason;
        const bool ok = list_container(path, [&](const Container_Entry &e) { entries.append(e); }, &refused, &reason);
        QMetaObject::invokeMethod(this, [this, entries, refused, ok, reason] { show_entries(entries, refused, ok, reason); },
                                  Qt::QueuedConnection);
    });
}

Contents_Dialog::~Contents_Dialog()
{
    if (reader.joinable())
        reader.join();
}

void Contents_Dialog::show_entries(const QList<Container_Entry> &entries, const QStringList &refused, bool ok,
                                   const QString &reason)
{
    if (!ok) {
        status_label.setText(tr("This container cannot be listed: %1").arg(reason));
        emit listed(false);
        return;
    }
    entry_tree.setUpdatesEnabled(false);
    QHash<QString, QTreeWidgetItem *> folders;
    const QLocale locale;
    // The folder item for path ("a/b"), made with its parents when the container names none.
    const std::function<QTreeWidgetItem *(const QString &)> folder_item = [&](const QString &path) -> QTreeWidgetItem * {
        if (path.isEmpty())
            return entry_tree.invisibleRootItem();
        if (QTreeWidgetItem *found = folders.value(path))
            return found;
        const qsizetype slash = path.lastIndexOf('/');
        auto *item = new QTreeWidgetItem(folder_item(slash < 0 ? QString() : path.left(slash)),
                                         {path.mid(slash + 1)});
        item->setData(0, path_role, path);
        folders.insert(path, item);
        return item;
    };
    for (const Container_Entry &e : entries) {
        QString path = e.name;
        if (path.endsWith('/'))
            path.chop(1);
        if (e.is_dir) {
            QTreeWidgetItem *item = folder_item(path);
            item->setText(2, e.modified.isValid() ? locale.toString(e.modified.toLocalTime(), QLocale::ShortFormat) : QString());
            continue;
        }
        const qsizetype slash = path.lastIndexOf('/');
        auto *item = new QTreeWidgetItem(folder_item(slash < 0 ? QString() : path.left(slash)), {path.mid(slash + 1)});
        item->setData(0, path_role, path);
        item->setText(1, locale.formattedDataSize(e.size));
        item->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
        if (e.modified.isValid())
            item->setText(2, locale.toString(e.modified.toLocalTime(), QLocale::ShortFormat));
    }
    entry_tree.expandToDepth(0);
    entry_tree.setUpdatesEnabled(true);
    QString text = tr("%n entries", nullptr, int(entries.size()));
    if (!refused.isEmpty())
        text += QLatin1Char('\n') + tr("Not unpacked, damaged: %1").arg(refused.join(QStringLiteral("; ")));
    status_label.setText(text);
    if (entry_tree.topLevelItemCount() > 0)
        entry_tree.setCurrentItem(entry_tree.topLevelItem(0), 0, QItemSelectionModel::NoUpdate);
    entry_tree.setFocus();
    emit listed(true);
}

QList<QByteArray> Contents_Dialog::selected_patterns() const
{
    QList<QByteArray> patterns;
    for (const QTreeWidgetItem *item : entry_tree.selectedItems())
        patterns.append(literal_pattern(item->data(0, path_role).toString()));
    return patterns;
}
