// SPDX-License-Identifier: GPL-3.0-or-later
#include "KT_QGridLayout.h"

KT_QGridLayout::KT_QGridLayout()
{
    clear_spacing();
}

KT_QGridLayout::KT_QGridLayout(int left, int top, int right, int bottom)
{
    clear_spacing();
    setContentsMargins(left, top, right, bottom);
}

void KT_QGridLayout::clear_spacing()
{
    setVerticalSpacing(0);
    setHorizontalSpacing(0);
    setContentsMargins(0, 0, 0, 0);
    setSpacing(0);
}
