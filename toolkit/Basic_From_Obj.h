// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "KT_QWidget_Obj.h"

class Basic_From_Top;
class KT_QGridLayout;
class QSizeGrip;

// Base of the program's top-level windows: frameless, with the toolkit's title
// bar across the top and an empty content area below it for the subclass.
// Abstract: subclasses supply the window hook.
class Basic_From_Obj : public KT_QWidget_Obj
{
    Q_OBJECT
public:
    // The parent is ignored: these windows are always top-level.
    explicit Basic_From_Obj(QWidget* parent = nullptr);

    // Builds the title bar over the content area; call once, before set_title.
    void init_frame();
    // Sets the window title and, once the frame exists, the title bar's text.
    void set_title(const QString& text);

    KT_QGridLayout* frame_grid = nullptr;
    Basic_From_Top* title_bar = nullptr;
    QWidget* content_area = nullptr;
    // A frameless window has no border to drag: this corner grip resizes it.
    QSizeGrip* size_grip = nullptr;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void place_size_grip();
};
