// SPDX-License-Identifier: GPL-3.0-or-later
#include "Basic_Style.h"

#include <QApplication>
#include <QColor>
#include <QWidget>

int ui_language = 1;
int title_bar_color = 0xF75455;
int title_line_color = 0xFFFFFF;

Basic_Style::Basic_Style()
    : bold_font(QApplication::font())
    , title_palette(QApplication::palette())
{
    bold_font.setBold(true);
    title_palette.setColor(QPalette::All, QPalette::WindowText, QColor(Qt::white));
}

Basic_Style* Basic_Style::instance()
{
    // Lives for the whole process, like the windows that use it.
    static Basic_Style* style = new Basic_Style;
    return style;
}

bool Basic_Style::apply_to(QWidget* widget) const
{
    if (!widget)
        return false;
    widget->setPalette(title_palette);
    widget->setFont(bold_font);
    return true;
}

bool set_widget_color(QWidget* widget, int red, int green, int blue, int kind)
{
    if (!widget)
        return false;
    // Start from the application's palette so earlier colouring never lingers.
    QPalette palette = QApplication::palette();
    const QColor color(red & 0xFF, green & 0xFF, blue & 0xFF);
    switch (kind) {
    case 0: palette.setColor(QPalette::All, QPalette::Window, color); break;
    case 1: palette.setColor(QPalette::All, QPalette::Base, color); break;
    case 2: palette.setColor(QPalette::All, QPalette::Dark, color); break;
    default: break;
    }
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
    return true;
}

bool set_widget_color_rgb(QWidget* widget, int rgb, int kind)
{
    return set_widget_color(widget, (rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF, kind);
}
