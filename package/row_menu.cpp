// SPDX-License-Identifier: GPL-3.0-or-later
#include "row_menu.h"

#include <QShortcut>
#include <QTableWidget>

QMenu *make_row_menu(const QString &path, bool is_encryption, const Row_Menu_Handlers &handlers, QWidget *parent)
{
    if (path.isEmpty())
        return nullptr;
    auto *menu = new QMenu(parent);
    const auto add = [&](const QString &text, const std::function<void(const QString &)> &handler) {
        QObject::connect(menu->addAction(text), &QAction::triggered, menu, [handler, path] { handler(path); });
    };
    if (is_encryption) {
        add(QMenu::tr("&Pack as…"), handlers.pack_as);
    } else {
        add(QMenu::tr("&Unpack to…"), handlers.unpack_to);
        add(QMenu::tr("&Show contents…"), handlers.show_contents);
    }
    return menu;
}

void attach_row_menu(QTableWidget *table, const std::function<QMenu *(int row)> &menu_for)
{
    const auto show_at = [table, menu_for](const QPoint &at) {
        const int row = table->rowAt(at.y());
        QMenu *menu = menu_for(row >= 0 ? row : table->currentRow());
        if (!menu)
            return;
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->popup(table->viewport()->mapToGlobal(at));
    };
    table->setContextMenuPolicy(Qt::CustomContextMenu);
    QObject::connect(table, &QWidget::customContextMenuRequested, table, show_at);
    auto *menu_key = new QShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F10), table);
    menu_key->setContext(Qt::WidgetShortcut);
    QObject::connect(menu_key, &QShortcut::activated, table, [table, show_at] {
        const QModelIndex current = table->currentIndex();
        show_at(current.isValid() ? table->visualRect(current).center() : QPoint());
    });
}
