// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QMap>
#include <QWidget>

// Root of the toolkit's widgets: every instance gets a process-unique id and
// is listed in a registry while it lives. GUI thread only.
class KT_Widget : public QWidget
{
public:
    explicit KT_Widget(QWidget* parent = nullptr);
    ~KT_Widget() override;

    void set_kind(int kind);

    int widget_id;
    int widget_kind;

    // Ids handed out so far; ids are never reused.
    static int widget_count;
    // Every living KT_Widget by id.
    static QMap<int, KT_Widget*> widget_map;
};
