// SPDX-License-Identifier: GPL-3.0-or-later
#include "KT_Button.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QColor>
#include <QEnterEvent>
#include <QMouseEvent>
#include <QPalette>

#include <cstdio>
#include <exception>

namespace {

// A screen reader would see a label's picture: it is a button, pressed as one.
class KT_Button_Accessible : public QAccessibleWidget
{
public:
    explicit KT_Button_Accessible(KT_Button* button)
        : QAccessibleWidget(button, QAccessible::Button)
    {
        addControllingSignal(QStringLiteral("clicked()"));
    }

    QStringList actionNames() const override { return {pressAction()}; }
    void doAction(const QString& action) override
    {
        auto* button = static_cast<KT_Button*>(widget());
        if (action == pressAction() && button->isEnabled())
            emit button->clicked();
    }
};

QAccessibleInterface* accessible_kt_button(const QString& class_name, QObject* object)
{
    if (class_name == QLatin1String("KT_Button") && object && object->isWidgetType())
        return new KT_Button_Accessible(static_cast<KT_Button*>(object));
    return nullptr;
}

} // namespace

KT_Button::KT_Button(int state_count, QWidget* parent)
    : QLabel(parent)
    // A strip always holds at least one image; zero would divide by zero.
    , state_count(state_count < 1 ? 1 : state_count)
{
    static const bool factory_installed = [] {
        QAccessible::installFactory(accessible_kt_button);
        return true;
    }();
    Q_UNUSED(factory_installed);
    setMouseTracking(true);
}

void KT_Button::set_image(const QString& path)
{
    QPixmap pixmap;
    pixmap.load(path);
    set_strip(pixmap);
}

void KT_Button::set_strip(const QPixmap& pixmap)
{
    strip = pixmap;
    const int w = strip.width() / state_count;
    const int h = strip.height();
    setPixmap(strip.copy(0, 0, w, h));
    setFixedSize(w, h);
}

void KT_Button::show_state(int n)
{
    if (n <= 0 || n > state_count)
        n = 1;
    setPixmap(strip.copy((n - 1) * width(), 0, width(), height()));
}

void KT_Button::reset_state()
{
    if (state_count > 1)
        show_state(1);
    if (text_label) {
        color_text_label(normal_color);
        text_label->setText(text);
    }
    is_pressed = false;
}

void KT_Button::set_text_label(QLabel* label, const QString& label_text)
{
    text_label = label;
    text = label_text;
    if (text_label)
        text_label->setText(text);
}

void KT_Button::set_colors(int normal, int release)
{
    normal_color = normal;
    release_color = release;
}

void KT_Button::set_id(int new_id)
{
    id = new_id;
}

void KT_Button::set_active(bool active)
{
    is_active = active;
}

void KT_Button::color_text_label(int rgb)
{
    QPalette palette;
    palette.setColor(QPalette::WindowText, QColor::fromRgb(QRgb(0xFF000000u | (unsigned(rgb) & 0xFFFFFFu))));
    text_label->setPalette(palette);
}

void KT_Button::mousePressEvent(QMouseEvent* event)
{
    if (!is_active) {
        QWidget::mousePressEvent(event);
        return;
    }
    if (state_count >= 3)
        show_state(3);
    is_pressed = true;
    emit dowm_clicked();
    // Accepted: a press on the button never starts a drag of the title bar.
    event->accept();
}

void KT_Button::mouseReleaseEvent(QMouseEvent* event)
{
    if (!is_active) {
        QWidget::mouseReleaseEvent(event);
        return;
    }
    event->accept();
    if (state_count >= 2)
        show_state(2);
    if (text_label)
        color_text_label(release_color);
    if (!is_pressed)
        return;
    const int click_id = id;
    is_pressed = false;
    // A slot that throws must not take the whole program down with it; the
    // line on standard output is the toolkit's own, the reason goes beside it.
    const auto report = [](const char* reason) {
        std::fputs("catch_error\n", stdout);
        std::fflush(stdout);
        qWarning("KT_Button: a click handler failed: %s", reason);
    };
    try {
        emit Dclicked(click_id);
        emit clicked();
    } catch (const std::exception& error) {
        report(error.what());
    } catch (...) {
        report("an exception of unknown type");
    }
}

void KT_Button::enterEvent(QEnterEvent* event)
{
    if (!is_active) {
        QWidget::enterEvent(event);
        return;
    }
    if (state_count >= 3)
        show_state(2);
    if (text_label)
        text_label->setText(QStringLiteral("<u>") + text + QStringLiteral("</u>"));
    emit mouseIn();
}

void KT_Button::leaveEvent(QEvent* event)
{
    if (!is_active) {
        QWidget::leaveEvent(event);
        return;
    }
    reset_state();
    if (text_label)
        text_label->setText(text);
    emit mouseOut();
}
