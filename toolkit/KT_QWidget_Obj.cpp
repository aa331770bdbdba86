// SPDX-License-Identifier: GPL-3.0-or-later
#include "KT_QWidget_Obj.h"

KT_QWidget_Obj::KT_QWidget_Obj(QWidget* parent)
    : KT_Widget(parent)
{
}
