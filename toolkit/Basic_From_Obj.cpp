// SPDX-License-Identifier: GPL-3.0-or-later
#include "Basic_From_Obj.h"

#include "Basic_From_Top.h"
#include "Basic_Style.h"
#include "KT_Button.h"
#include "KT_QGridLayout.h"

#include <QLabel>
#include <QSizeGrip>

Basic_From_Obj::Basic_From_Obj(QWidget* parent)
    : KT_QWidget_Obj(nullptr)
{
    Q_UNUSED(parent);
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint | Qt::WindowSystemMenuHint
                   | Qt::WindowMinimizeButtonHint);
}

void Basic_From_Obj::init_frame()
{
    frame_grid = new KT_QGridLayout(0, 0, 0, 0);
    set_widget_color_rgb(this, 0xFFFFFF, 0);
    setLayout(frame_grid);
    frame_grid->setColumnStretch(0, 0);
    frame_grid->setColumnMinimumWidth(0, 0);
    frame_grid->setColumnStretch(1, 1);
    frame_grid->setRowStretch(0, 0);
    frame_grid->setRowMinimumHeight(0, 0);
    frame_grid->setRowStretch(1, 1);

    title_bar = new Basic_From_Top(this);
    frame_grid->addWidget(title_bar, 0, 1);
    title_bar->init_title();

    content_area = new QWidget;
    frame_grid->addWidget(content_area, 1, 1);

    // Outside the layout, so the frame stays as laid out; kept in the corner
    // by resizeEvent.
    size_grip = new QSizeGrip(this);
    place_size_grip();

    if (title_bar) {
        connect(title_bar->min_button, SIGNAL(clicked()), title_bar, SLOT(slot_Small()));
        connect(title_bar->max_button, SIGNAL(clicked()), title_bar, SLOT(slot_MaxorRestore()));
        connect(title_bar->close_button, SIGNAL(clicked()), title_bar, SLOT(slot_Close()));
    }
}

void Basic_From_Obj::set_title(const QString& text)
{
    setWindowTitle(text);
    if (title_bar && title_bar->title_label)
        title_bar->title_label->setText(text);
}

void Basic_From_Obj::resizeEvent(QResizeEvent* event)
{
    KT_QWidget_Obj::resizeEvent(event);
    place_size_grip();
}

void Basic_From_Obj::place_size_grip()
{
    if (!size_grip)
        return;
    const QSize grip = size_grip->sizeHint();
    size_grip->setGeometry(width() - grip.width(), height() - grip.height(), grip.width(),
                           grip.height());
    size_grip->raise();
    // A window filling the screen is not resized by hand.
    size_grip->setVisible(!(title_bar && title_bar->is_max));
}
