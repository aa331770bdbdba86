// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "KT_Widget.h"

// Toolkit widget with a meta-object, declaring the window hook: called on a
// window after its title bar maximised or restored it.
class KT_QWidget_Obj : public KT_Widget
{
    Q_OBJECT
public:
    explicit KT_QWidget_Obj(QWidget* parent = nullptr);

    virtual void window_hook() = 0;
};
