// SPDX-License-Identifier: GPL-3.0-or-later
#include "window_dialogs.h"

#include "Basic_Text.h"
#include "password_dialog.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QMessageBox>

QStringList Window_Dialogs::choose_files(const QString &caption, const QString &dir, const QString &filter)
{
    return QFileDialog::getOpenFileNames(nullptr, caption, dir, filter);
}

QString Window_Dialogs::choose_folder(const QString &caption)
{
    return QFileDialog::getExistingDirectory(nullptr, caption, QString(), QFileDialog::ShowDirsOnly);
}

QString Window_Dialogs::choose_save_file(const QString &caption, const QString &dir, const QString &filter)
{
    return QFileDialog::getSaveFileName(parent, caption, dir, filter, nullptr, QFileDialog::DontConfirmOverwrite);
}

Run_Report::Answer Window_Dialogs::show_report(const QString &title, const Run_Report &report)
{
    return show_run_report_box(title, report);
}

void Window_Dialogs::open_url(const QUrl &url)
{
    // A desktop without a file manager has nothing to show; nothing to report.
    QDesktopServices::openUrl(url);
}

bool Window_Dialogs::confirm_close(bool encryption)
{
    const QString question = encryption
        ? QCoreApplication::translate("Pellanor", "Packing is still running. Stop it and close? Nothing of it is kept.")
        : QCoreApplication::translate("Pellanor", "Unpacking is still running. Stop it and close? The files unpacked "
                                                  "so far are kept; a new run completes the rest.");
    return QMessageBox::question(parent, Basic_Text::instance()->txt_title, question) == QMessageBox::Yes;
}

bool Window_Dialogs::ask_password(const QString &container, int attempt, Password *out)
{
    return Password_Dialog::ask_to_open(parent, container, attempt, out);
}
