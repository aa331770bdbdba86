// SPDX-License-Identifier: GPL-3.0-or-later
#include "row_menu.h"

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
