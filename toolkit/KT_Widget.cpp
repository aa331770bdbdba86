// SPDX-License-Identifier: GPL-3.0-or-later
#include "KT_Widget.h"

int KT_Widget::widget_count = 0;
QMap<int, KT_Widget*> KT_Widget::widget_map;

KT_Widget::KT_Widget(QWidget* parent)
    : QWidget(parent)
    , widget_id(++widget_count)
    , widget_kind(0)
{
    widget_map.insert(widget_id, this);
}

KT_Widget::~KT_Widget()
{
    widget_map.remove(widget_id);
}

void KT_Widget::set_kind(int kind)
{
    widget_kind = kind;
}
