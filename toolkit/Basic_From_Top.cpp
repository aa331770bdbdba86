// SPDX-License-Identifier: GPL-3.0-or-later
#include "Basic_From_Top.h"

#include "Basic_Style.h"
#include "Basic_Text.h"
#include "KT_Button.h"
#include "KT_QGridLayout.h"

#include <QGuiApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QScreen>
#include <QWindow>

namespace {

// Wayland does not let a window place itself: the compositor has to move it.
bool compositor_moves_windows()
{
    return QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

} // namespace

Basic_From_Top::Basic_From_Top(KT_QWidget_Obj* owner)
    : KT_QWidget_Obj(nullptr)
    , owner(owner)
{
    set_widget_color_rgb(this, title_bar_color, 0);
    set_kind(2);
}

void Basic_From_Top::init_title()
{
    title_grid = new KT_QGridLayout;
    setLayout(title_grid);
    setFixedHeight(53);

    title_grid->setRowStretch(0, 0);
    title_grid->setRowMinimumHeight(0, 26);
    title_grid->setRowStretch(1, 1);
    title_grid->setRowStretch(2, 0);
    title_grid->setRowMinimumHeight(2, 2);
    title_grid->setColumnStretch(0, 0);
    title_grid->setColumnMinimumWidth(0, 200);
    title_grid->setColumnStretch(1, 1);
    title_grid->setColumnStretch(2, 0);
    title_grid->setColumnMinimumWidth(2, 200);

    title_button_grid = new KT_QGridLayout;
    title_button_grid->setColumnStretch(0, 1);
    for (int column = 1; column <= 3; ++column) {
        title_button_grid->setColumnStretch(column, 0);
        title_button_grid->setColumnMinimumWidth(column, 30);
    }
    title_button_grid->setColumnStretch(4, 0);
    title_button_grid->setColumnMinimumWidth(4, 5);

    min_button = new KT_Button(3);
    min_button->set_image(QStringLiteral(":/Pellanor/Resources/min.png"));
    max_button = new KT_Button(3);
    max_button->set_image(QStringLiteral(":/Pellanor/Resources/max.png"));
    close_button = new KT_Button(3);
    close_button->set_image(QStringLiteral(":/Pellanor/Resources/close.png"));

    // Pictures only: a screen reader needs their names.
    min_button->setAccessibleName(tr("Minimise"));
    max_button->setAccessibleName(tr("Maximise"));
    close_button->setAccessibleName(tr("Close"));

    title_button_grid->addWidget(min_button, 0, 1, Qt::AlignCenter);
    title_button_grid->addWidget(max_button, 0, 2, Qt::AlignCenter);
    title_button_grid->addWidget(close_button, 0, 3, Qt::AlignCenter);
    title_grid->addLayout(title_button_grid, 0, 2);

    title_line = new QWidget;
    set_widget_color_rgb(title_line, title_line_color, 0);
    title_grid->addWidget(title_line, 2, 0, 1, 3);

    title_label = new QLabel;
    Basic_Style::instance()->apply_to(title_label);
    // Placeholder until the window sets its title.
    title_label->setText(gbk_text("  \xD5\xE2\xCA\xC7\xCA\xB2\xC3\xB4"));
    title_grid->addWidget(title_label, 0, 0, Qt::AlignLeft);
}

void Basic_From_Top::window_hook()
{
    if (owner)
        owner->window_hook();
}

void Basic_From_Top::slot_Close()
{
    if (owner)
        owner->close();
}

void Basic_From_Top::slot_Small()
{
    if (owner)
        owner->showMinimized();
}

void Basic_From_Top::slot_MaxorRestore()
{
    if (!owner)
        return;
    // The flag flips before the geometry changes, so the window already
    // knows its new state when the resize reaches it.
    QString image;
    if (is_max) {
        is_max = false;
        owner->setGeometry(normal_geometry);
        image = QStringLiteral(":/Pellanor/Resources/max.png");
    } else {
        // The screen the window is on now, asked afresh each time: screens
        // and panels come and go while the program runs.
        QScreen* screen = owner->screen();
        if (!screen)
            screen = QGuiApplication::primaryScreen();
        if (!screen)
            return;
        normal_geometry = owner->geometry();
        is_max = true;
        owner->setGeometry(screen->availableGeometry());
        image = QStringLiteral(":/Pellanor/Resources/restore.png");
    }
    if (max_button) {
        max_button->setAccessibleName(is_max ? tr("Restore") : tr("Maximise"));
        max_button->set_image(image);
        max_button->show_state(1);
    }
    window_hook();
}

void Basic_From_Top::mousePressEvent(QMouseEvent* event)
{
    event->accept();
    if (!owner)
        return;
    press_window_pos = owner->pos();
    press_global_pos = event->globalPosition().toPoint();
    drag_offset = press_global_pos - press_window_pos;
    is_pressed = true;
    if (!is_max && event->button() == Qt::LeftButton && compositor_moves_windows()) {
        QWindow* window = owner->windowHandle();
        if (window && window->startSystemMove())
            is_pressed = false;
    }
}

void Basic_From_Top::mouseMoveEvent(QMouseEvent* event)
{
    event->accept();
    if (!owner || is_max || !is_pressed)
        return;
    owner->move(event->globalPosition().toPoint() - drag_offset);
}

void Basic_From_Top::mouseReleaseEvent(QMouseEvent* event)
{
    event->accept();
    if (!owner)
        return;
    press_window_pos = owner->pos();
    // Never leave the title bar above the top of the screen, out of reach.
    if (press_window_pos.y() < 0)
        owner->move(press_window_pos.x(), 0);
    is_pressed = false;
}

void Basic_From_Top::mouseDoubleClickEvent(QMouseEvent* event)
{
    event->accept();
    slot_MaxorRestore();
}
