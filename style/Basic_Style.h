// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QFont>
#include <QPalette>

class QWidget;

// Selects the language of the text set: 1 is Chinese, anything else English.
// Read only when the text set is first built.
extern int ui_language;
// Theme colours as packed 0xRRGGBB; the top byte is ignored.
extern int title_bar_color;
extern int title_line_color;

// The look shared by title texts: bold default font, white window text.
class Basic_Style
{
public:
    Basic_Style();

    // Process-wide style set, created on first use (needs a QApplication).
    static Basic_Style* instance();

    // Gives the widget the title palette and bold font; false for null.
    bool apply_to(QWidget* widget) const;

    QFont bold_font;
    QPalette title_palette;
};

// Gives the widget a fresh application palette with one role coloured:
// kind 0 = Window (background), 1 = Base, 2 = Dark, other = no colour.
// Background filling is switched on in every case. False for a null widget.
bool set_widget_color(QWidget* widget, int red, int green, int blue, int kind);
// Same with a packed 0xRRGGBB colour; the top byte is dropped.
bool set_widget_color_rgb(QWidget* widget, int rgb, int kind);
