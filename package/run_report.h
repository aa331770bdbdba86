// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "package_pipeline.h"

#include <QList>
#include <QString>
#include <QStringList>

// What the end-of-run box says: the main text ("EncryptionSuccessful" and the
// like), a summary readable without a click, the full lists behind "Show
// Details", and the folder its button opens.
struct Run_Report
{
    struct Line
    {
        QString text;
        bool is_path = false;  // shown whole, never broken across lines
        bool operator==(const Line &other) const = default;
    };

    // How the user closed the box.
    enum class Answer { Dismissed, Open_Folder, Recover };

    bool is_ok = false;
    QString text;
    QList<Line> summary;
    QString details;
    QString folder;  // where the result went; empty when nothing was made
    // Containers refused as damaged: the box offers to recover what is intact.
    QStringList recoverable;
};

// `blocked_working_folder`: the working folder a failed encryption could not
// write, or empty; the summary then says what to do about it.
Run_Report make_run_report(const Package_Result &result, const QString &blocked_working_folder = QString());

// The working folder under `base_dir` when a failed encryption could not
// make it, for make_run_report(); empty otherwise.
QString blocked_working_folder(const Package_Result &result, const QString &base_dir);

class QFontMetrics;

// `path` in at most `width` pixels: whole when it fits, else shortened in the
// middle of its folder with the file name kept.
QString shortened_path(const QString &path, const QFontMetrics &metrics, int width);

// The summary as the box's rich text; with `metrics`, paths are shortened to `path_width`.
QString summary_html(const QList<Run_Report::Line> &summary, const QFontMetrics *metrics = nullptr,
                     int path_width = 0);

// The button that offers a salvage run for the containers refused as damaged.
QString recover_button_text();

// Shows the report in a modal box with no parent.
Run_Report::Answer show_run_report_box(const QString &title, const Run_Report &report);
