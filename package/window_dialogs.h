// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "run_report.h"

#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <thread>

class Password;
class QWidget;

// Everything the main window asks of the user or the desktop, each
// replaceable so that tests and benchmarks can run the window unattended.
class Window_Dialogs
{
public:
    explicit Window_Dialogs(QWidget *parent) : parent(parent) {}
    virtual ~Window_Dialogs() = default;

    virtual QStringList choose_files(const QString &caption, const QString &dir, const QString &filter);
    virtual QString choose_folder(const QString &caption);
    virtual QString choose_save_file(const QString &caption, const QString &dir, const QString &filter);
    // Shows the end-of-run box and returns how the user closed it.
    virtual Run_Report::Answer show_report(const QString &title, const Run_Report &report);
    virtual void open_url(const QUrl &url);
    // Asked before closing over a run; true to stop the run and close.
    virtual bool confirm_close(bool is_encryption);
    // Asked on the window's thread while the run's worker waits: false when none is given.
    virtual bool ask_password(const QString &container, int attempt, Password *out);
    // Makes the job's worker thread; throws std::system_error when none can be made.
    virtual std::thread start_thread(std::function<void()> body) { return std::thread(std::move(body)); }

private:
    QWidget *parent;
};
