// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "KT_QWidget_Obj.h"

#include <QPoint>
#include <QRect>

class KT_Button;
class KT_QGridLayout;
class QLabel;

// Title bar of a frameless window: title at the left, minimise, maximise/
// restore and close at the right, a 2-pixel line along the bottom. Dragging it
// moves the owner window; a double click maximises or restores it.
class Basic_From_Top : public KT_QWidget_Obj
{
    Q_OBJECT
public:
    explicit Basic_From_Top(KT_QWidget_Obj* owner);

    // Builds the layout, buttons, line and label; called once by the window.
    void init_title();

    // Forwards to the owner window.
    void window_hook() override;

    KT_QWidget_Obj* owner;
    QPoint press_window_pos;
    QPoint press_global_pos;
    QPoint drag_offset;
    bool is_pressed = false;
    bool is_max = false;
    QRect normal_geometry;
    KT_QGridLayout* title_grid = nullptr;
    KT_QGridLayout* title_button_grid = nullptr;
    KT_Button* min_button = nullptr;
    KT_Button* max_button = nullptr;
    KT_Button* close_button = nullptr;
    QWidget* title_line = nullptr;
    QLabel* title_label = nullptr;

public slots:
    void slot_Close();
    void slot_Small();
    void slot_MaxorRestore();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
};
