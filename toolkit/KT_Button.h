// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QLabel>
#include <QPixmap>
#include <QString>

// A button drawn from a strip: `state_count` equal-width images side by side,
// 1 normal, 2 hover, 3 pressed. Optionally drives a linked text label.
class KT_Button : public QLabel
{
    Q_OBJECT
public:
    explicit KT_Button(int state_count, QWidget* parent = nullptr);

    // Loads the strip from a file or resource; a file that does not load
    // leaves an empty strip and a 0 x 0 button that still emits.
    void set_image(const QString& path);
    void set_strip(const QPixmap& pixmap);
    // Shows state image n (1-based); out of range shows image 1.
    void show_state(int n);
    void reset_state();

    void set_text_label(QLabel* label, const QString& label_text);
    void set_colors(int normal, int release);
    void set_id(int new_id);
    void set_active(bool active);

    int release_color = 0xFFFFFF;
    int normal_color = 0xFFFFFF;
    QLabel* text_label = nullptr;
    QString text;
    int id = 0;
    int state_count;
    QPixmap strip;
    bool is_pressed = false;
    bool is_active = true;

signals:
    void clicked();
    void Dclicked(int id);
    void mouseIn();
    void mouseOut();
    void dowm_clicked();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    void color_text_label(int rgb);
};
