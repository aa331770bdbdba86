// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QGridLayout>

// Grid layout that puts its items edge to edge: no spacing, no margins.
class KT_QGridLayout : public QGridLayout
{
    Q_OBJECT
public:
    KT_QGridLayout();
    KT_QGridLayout(int left, int top, int right, int bottom);

private:
    void clear_spacing();
};
