// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// The progress bar's format: "%p%" (the bar fills in the percentage), and once
// a few seconds have given a steady rate, the rate and the time left.
QString progress_format(qint64 done, qint64 total, qint64 elapsed_ms);
