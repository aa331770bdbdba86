// SPDX-License-Identifier: GPL-3.0-or-later
#include "password_dialog.h"

#include <QFormLayout>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

Password_Dialog::Password_Dialog(Purpose purpose, QWidget *parent)
    : QDialog(parent)
    , purpose(purpose)
    , buttons(QDialogButtonBox::Ok | QDialogButtonBox::Cancel)
{
    const bool to_set = purpose == Purpose::Set;
    setWindowTitle(to_set ? tr("Password for the next container") : tr("Password needed"));
    setObjectName(QStringLiteral("password_dialog"));
    message.setObjectName(QStringLiteral("password_message"));
    message.setWordWrap(true);
    if (to_set)
        message.setText(tr("The next container is protected with this password; without it nothing in the "
                           "container can be read. A forgotten password cannot be recovered. Leave both "
                           "fields empty for no password."));
    for (QLineEdit *field : {&first, &repeat}) {
        field->setEchoMode(QLineEdit::Password);
        // Nothing of a password goes to the clipboard or a drag.
        field->setContextMenuPolicy(Qt::NoContextMenu);
        field->setDragEnabled(false);
    }
    first.setObjectName(QStringLiteral("password_field"));
    repeat.setObjectName(QStringLiteral("repeat_field"));
    first.setAccessibleName(tr("Password"));
    repeat.setAccessibleName(tr("Repeat the password"));
    show_box.setText(tr("&Show password"));
    show_box.setObjectName(QStringLiteral("show_password"));
    mismatch.setText(tr("The two entries differ."));
    mismatch.setObjectName(QStringLiteral("mismatch"));
    mismatch.hide();

    auto *form = new QFormLayout;
    auto *first_label = new QLabel(tr("&Password:"));
    first_label->setBuddy(&first);
    form->addRow(first_label, &first);
    repeat_label.setText(tr("&Repeat:"));
    repeat_label.setBuddy(&repeat);
    form->addRow(&repeat_label, &repeat);
    form->addRow(QString(), &show_box);
    repeat_label.setVisible(to_set);
    repeat.setVisible(to_set);

    auto *column = new QVBoxLayout(this);
    column->addWidget(&message);
    column->addLayout(form);
    column->addWidget(&mismatch);
    column->addWidget(&buttons);

    connect(&show_box, &QCheckBox::toggled, this, [this](bool shown) {
        for (QLineEdit *field : {&first, &repeat})
            field->setEchoMode(shown ? QLineEdit::Normal : QLineEdit::Password);
    });
    connect(&first, &QLineEdit::textChanged, this, &Password_Dialog::update_ok);
    connect(&repeat, &QLineEdit::textChanged, this, &Password_Dialog::update_ok);
    connect(&buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(&buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    first.setFocus();
    update_ok();
}

Password_Dialog::~Password_Dialog()
{
    wipe_fields();
}

void Password_Dialog::set_container(const QString &name, int attempt)
{
    QString text = tr("%1 is protected by a password.").arg(name);
    if (attempt > 1)
        text += QLatin1Char(' ')
            + tr("Wrong password or damaged container: try %1 of %2.").arg(attempt).arg(password_attempts);
    message.setText(text);
}

void Password_Dialog::update_ok()
{
    // Comparing and sizing read the fields' own buffers: no copy is made.
    const bool differ = purpose == Purpose::Set && first.text() != repeat.text();
    mismatch.setVisible(differ && !repeat.text().isEmpty());
    const bool empty = first.text().isEmpty();
    buttons.button(QDialogButtonBox::Ok)->setEnabled(!differ && (purpose == Purpose::Set || !empty));
}

Password Password_Dialog::take_password()
{
    const Password password = taken;
    taken = Password();
    return password;
}

void Password_Dialog::wipe_fields()
{
    for (QLineEdit *field : {&first, &repeat}) {
        // text() shares the field's own buffer: overwrite it in place, then
        // drop it (clearing also drops the field's undo history).
        const QString shared = field->text();
        if (!shared.isEmpty() && !shared.isDetached())
            std::fill_n(const_cast<QChar *>(shared.constData()), shared.size(), QChar(u'\0'));
        field->clear();
    }
}

void Password_Dialog::done(int result)
{
    // Taken into locked memory as the dialog closes: the fields keep nothing.
    if (result == QDialog::Accepted) {
        QString text = first.text();
        QByteArray bytes = text.toUtf8();
        taken = Password(bytes);
        wipe(bytes);
        wipe(text);
    }
    wipe_fields();
    QDialog::done(result);
}

bool Password_Dialog::ask_to_set(QWidget *parent, Password *out)
{
    QPointer<Password_Dialog> dialog = new Password_Dialog(Purpose::Set, parent);
    const bool accepted = dialog->exec() == QDialog::Accepted && dialog;
    if (accepted)
        *out = dialog->take_password();
    delete dialog;
    return accepted;
}

bool Password_Dialog::ask_to_open(QWidget *parent, const QString &container, int attempt, Password *out)
{
    QPointer<Password_Dialog> dialog = new Password_Dialog(Purpose::Open, parent);
    dialog->set_container(container, attempt);
    // The parent may go while the dialog waits (the window closed): then no password.
    const bool accepted = dialog->exec() == QDialog::Accepted && dialog;
    if (accepted)
        *out = dialog->take_password();
    delete dialog;
    return accepted && !out->is_empty();
}

QString Password_Dialog::password_set_notice()
{
    return tr("A password is set for the next container (Ctrl+P to change it).");
}

void Password_Dialog::withdraw_all(QWidget *parent)
{
    for (Password_Dialog *open : parent->findChildren<Password_Dialog *>())
        open->reject();
}
