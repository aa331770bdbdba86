// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The main window as the window tests drive it: unattended, each case in a
// working folder of its own.

#include "Pellanor.h"
#include "engine_test_support.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
namespace test_support {

// The window with its dialogs and report box replaced: each dialog takes the
// next queued answer (none left: cancelled), each report is kept and gets the
// next queued answer (none left: dismissed), each question before closing
// over a run is noted and gets close_answer.
class Unattended_Window : public Pellanor
{
public:
    QList<QStringList> file_answers;
    QStringList folder_answers, save_answers;
    QStringList file_dialogs; // "folder|filter" of each
    QList<Run_Report> reports;
    QList<Run_Report::Answer> answers;
    QList<bool> close_questions; // is_encryption of each
    bool close_answer = true;    // "stop it and close"
    QList<QUrl> opened;

    template <typename T = QPushButton> T *find(const char *name) { return findChild<T *>(QString::fromLatin1(name)); }
    QString status() { return find<QLabel>("status_label")->text(); }
    void click(const char *button) { find(button)->click(); }

protected:
    QStringList choose_files(const QString &, const QString &dir, const QString &filter) override
    {
        file_dialogs << dir + '|' + filter;
        return file_answers.isEmpty() ? QStringList() : file_answers.takeFirst();
    }
    QString choose_folder(const QString &) override { return next(folder_answers); }
    QString choose_save_file(const QString &, const QString &, const QString &) override { return next(save_answers); }
    Run_Report::Answer show_report(const QString &, const Run_Report &shown) override
    {
        reports.append(shown);
        return answers.isEmpty() ? Run_Report::Answer::Dismissed : answers.takeFirst();
    }
    void open_url(const QUrl &url) override { opened.append(url); }
    bool confirm_close(bool is_encryption) override
    {
        close_questions.append(is_encryption);
        return close_answer;
    }

private:
    static QString next(QStringList &queue) { return queue.isEmpty() ? QString() : queue.takeFirst(); }
};

// Mixed into a test class: init() calls open_case(), cleanup() close_case().
template <typename Window> struct Window_Case
{
    std::unique_ptr<QTemporaryDir> work;
    std::unique_ptr<Window> window;
    const QString previous_dir = QDir::currentPath();

    QString work_path(const QString &name) const { return work->filePath(name); }
    void open_case()
    {
        work = std::make_unique<QTemporaryDir>();
        QVERIFY(work->isValid() && QDir::setCurrent(work->path()));
        window = std::make_unique<Window>();
        window->init_window();
    }
    void close_case()
    {
        window.reset();
        QDir::setCurrent(previous_dir);
        work.reset();
    }
    void show_active()
    {
        window->show();
        QApplication::setActiveWindow(window.get());
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
    }
};

} // namespace test_support
