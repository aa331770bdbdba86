// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "password.h"

#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QString>

// Asks for a password, shown as dots unless "Show password" is ticked. To set
// one it is entered twice; to open a container once, with the try counted.
// The fields are wiped as soon as the password is taken or the dialog closes.
class Password_Dialog : public QDialog
{
    Q_OBJECT

public:
    enum class Purpose { Set, Open };

    explicit Password_Dialog(Purpose purpose, QWidget *parent = nullptr);
    ~Password_Dialog() override;

    // Open: which container and which try (from 1) the password is for.
    void set_container(const QString &name, int attempt);
    // The password of an accepted dialog (empty: none); it keeps no copy.
    Password take_password();

    // Modal on `parent`. Set: false when the user cancelled; an accepted
    // empty entry means no password. Open: false when none was given.
    static bool ask_to_set(QWidget *parent, Password *out);
    static bool ask_to_open(QWidget *parent, const QString &container, int attempt, Password *out);

    // The status row's note while a password waits for the next container.
    static QString password_set_notice();
    // Closes every question for a password open under parent, unanswered.
    static void withdraw_all(QWidget *parent);

    void done(int result) override;

private:
    void update_ok();
    void wipe_fields();

    const Purpose purpose;
    Password taken;
    QLabel message;
    QLineEdit first;
    QLabel repeat_label;
    QLineEdit repeat;
    QCheckBox show_box;
    QLabel mismatch;
    QDialogButtonBox buttons;
};
