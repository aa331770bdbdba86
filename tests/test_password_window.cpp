// SPDX-License-Identifier: GPL-3.0-or-later
#include "Basic_Style.h"
#include "password_dialog.h"
#include "window_test_support.h"

#include <QDialogButtonBox>
#include <QLineEdit>
#include <QTimer>

using namespace test_support;

namespace {

QLineEdit *field(QWidget *dialog, const char *name) { return dialog->findChild<QLineEdit *>(QString::fromLatin1(name)); }

// Each password prompt is answered by keyboard from the queue, or by
// `during` (a cancel, a close).
class Test_Window : public Unattended_Window
{
public:
    struct Answer
    {
        QString typed;
        bool accept = true;
        std::function<void()> during;
    };
    QList<Answer> typed_answers;
    QStringList prompts;  // what each prompt said

protected:
    bool ask_password(const QString &container, int attempt, Password *out) override
    {
        const Answer answer = typed_answers.isEmpty() ? Answer{{}, false, {}} : typed_answers.takeFirst();
        QTimer::singleShot(0, this, [this, answer] {
            // The modal password dialog; keys go straight to its focused widget.
            auto *dialog = qobject_cast<Password_Dialog *>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            prompts << dialog->findChild<QLabel *>(QStringLiteral("password_message"))->text();
            if (answer.during)
                return answer.during();
            QLineEdit *typed_into = field(dialog, "password_field");
            // Focus starts in the field; only the one field is shown.
            if (dialog->focusWidget() != typed_into || field(dialog, "repeat_field")->isVisible())
                return;
            QTest::keyClicks(typed_into, answer.typed);
            QTest::keyClick(typed_into, answer.accept ? Qt::Key_Return : Qt::Key_Escape);
        });
        return Pellanor::ask_password(container, attempt, out);
    }
};

} // namespace

class Password_Window_Test : public QObject, Window_Case<Test_Window>
{
    Q_OBJECT

    // Ctrl+P, the two entries typed with Tab between them, Tab and Space on
    // the show toggle, then `end` pressed. Returns what the dialog showed.
    QStringList set_password(const QString &first, const QString &repeat, Qt::Key end)
    {
        QStringList seen;
        // As a window manager does once a dialog closes: the window is active again.
        QApplication::setActiveWindow(window.get());
        if (!QTest::qWaitForWindowActive(window.get()))
            return seen;
        QTimer::singleShot(0, this, [&] {
            auto *dialog = qobject_cast<Password_Dialog *>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            QLineEdit *one = field(dialog, "password_field");
            QLineEdit *two = field(dialog, "repeat_field");
            QTest::keyClicks(one, first);
            QTest::keyClick(one, Qt::Key_Tab);
            QTest::keyClicks(dialog->focusWidget(), repeat);
            seen << QString::number(one->echoMode() == QLineEdit::Password && two->echoMode() == QLineEdit::Password);
            QTest::keyClick(dialog->focusWidget(), Qt::Key_Tab);
            QTest::keyClick(dialog->focusWidget(), Qt::Key_Space);
            seen << QString::number(one->echoMode() == QLineEdit::Normal && two->echoMode() == QLineEdit::Normal);
            const auto *box = dialog->findChild<QDialogButtonBox *>();
            seen << QString::number(box->button(QDialogButtonBox::Ok)->isEnabled())
                 << QString::number(dialog->findChild<QLabel *>(QStringLiteral("mismatch"))->isVisible());
            QTest::keyClick(dialog->focusWidget(), end);
            // Return with the entries differing leaves the dialog up.
            if (QApplication::activeModalWidget() == dialog) {
                seen << "still open";
                QTest::keyClick(dialog->focusWidget(), Qt::Key_Escape);
            }
            // Nothing typed stays in a closed dialog's fields.
            seen << QString::number(one->text().isEmpty() && two->text().isEmpty());
        });
        QTest::keyClick(window.get(), Qt::Key_P, Qt::ControlModifier);
        return seen;
    }

    void run(const QStringList &files, const QString &folder = QString())
    {
        for (const QString &file : files)
            window->add_files({file});
        window->add_folder(folder);
        window->find<QPushButton>("start_button")->click();
        QTRY_VERIFY_WITH_TIMEOUT(!window->is_busy(), 120000);
    }

    QString report_text(const Run_Report &shown)
    {
        QString out = shown.text + '\n' + shown.details;
        for (const Run_Report::Line &line : shown.summary)
            out += '\n' + line.text;
        return out;
    }

private slots:
    void initTestCase()
    {
        ui_language = 0;
        QApplication::setQuitOnLastWindowClosed(false);
    }
    void init()
    {
        open_case();
        show_active();
    }
    void cleanup() { close_case(); }

    // Entered twice as dots, shown on request; only a matching pair is taken,
    // and an empty pair takes the password away again.
    void setting_the_password_data()
    {
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("repeat");
        QTest::addColumn<QStringList>("seen");
        QTest::addColumn<bool>("is_set");
        // seen: dots, shown after the toggle, OK usable, mismatch told, [still open], fields wiped
        QTest::newRow("matching") << "pass word 1" << "pass word 1" << QStringList({"1", "1", "1", "0", "1"}) << true;
        QTest::newRow("differing") << "one" << "two" << QStringList({"1", "1", "0", "1", "still open", "1"}) << false;
    }
    void setting_the_password()
    {
        QFETCH(QString, first);
        QFETCH(QString, repeat);
        QFETCH(QStringList, seen);
        QFETCH(bool, is_set);
        QCOMPARE(set_password(first, repeat, Qt::Key_Return), seen);
        QCOMPARE(window->status(), is_set ? Password_Dialog::password_set_notice() : QString());
        // A later empty pair removes a set password.
        if (is_set) {
            QCOMPARE(set_password(QString(), QString(), Qt::Key_Return), QStringList({"1", "1", "1", "0", "1"}));
            QCOMPARE(window->status(), QString());
        }
    }

    // A container packed with a password in the window asks for it when a
    // decryption reaches it: three tries, and a wrong or missing password
    // writes nothing; a cancel or a close while asking ends the run cleanly.
    void unpacking_a_protected_container_data()
    {
        using Answer = Test_Window::Answer;
        const auto typed = [](const QString &text, bool accept = true) { return Answer{text, accept, {}}; };
        const auto doing = [](std::function<void()> act) { return Answer{{}, true, std::move(act)}; };
        QTest::addColumn<QList<Answer>>("answers");
        QTest::addColumn<int>("prompts");
        QTest::addColumn<QString>("failure");  // empty: unpacked
        QTest::addColumn<bool>("is_cancelled");
        const QString wrong = QStringLiteral("wrong password or damaged container");
        QTest::newRow("right") << QList<Answer>{typed("s3cret")} << 1 << QString() << false;
        QTest::newRow("wrong, then right") << QList<Answer>{typed("nope"), typed("s3cret")} << 2 << QString() << false;
        QTest::newRow("wrong three times") << QList<Answer>{typed("a"), typed("b"), typed("c")} << 3 << wrong << false;
        QTest::newRow("wrong, then escape") << QList<Answer>{typed("a"), typed("", false)} << 2 << wrong << false;
        QTest::newRow("escape") << QList<Answer>{typed("s3cret", false)} << 1
                                << QStringLiteral("protected by a password, and none was given") << false;
        QTest::newRow("run cancelled") << QList<Answer>{doing([this] { window->slot_cancel(); })} << 1 << QString()
                                       << true;
        QTest::newRow("window closed") << QList<Answer>{doing([this] { window->close(); })} << 1 << QString()
                                       << true;
    }
    void unpacking_a_protected_container()
    {
        QFETCH(QList<Test_Window::Answer>, answers);
        QFETCH(int, prompts);
        QFETCH(QString, failure);
        QFETCH(bool, is_cancelled);

        // The password's round trip of a whole tree: test_password.
        QVERIFY(write_file(work_path("in/folder/a.txt"), random_bytes(100000, 1)));
        QVERIFY(write_file(work_path("in/b.bin"), random_bytes(3000, 2)));
        QCOMPARE(set_password("s3cret", "s3cret", Qt::Key_Return).size(), 5);
        run({work_path("in/b.bin")}, work_path("in/folder"));
        QCOMPARE(window->reports.size(), 1);
        QVERIFY(window->reports[0].is_ok);
        QVERIFY(!report_text(window->reports[0]).contains("no key"));
        // Used for that container only.
        QCOMPARE(window->status(), QString());
        const QStringList made = entries(work_path("AddData"));
        QCOMPARE(made.size(), 1);
        const QString container = work_path("AddData/" + made[0]);

        window->reports.clear();
        window->typed_answers = answers;
        window->open_paths({container}, Pellanor::Open_Mode::Unpack);
        run({});

        QCOMPARE(window->prompts.size(), prompts);
        QVERIFY(window->prompts[0].startsWith(container + " is protected by a password."));
        if (prompts > 1)
            QVERIFY(window->prompts[1].endsWith("Wrong password or damaged container: try 2 of 3."));
        if (is_cancelled) {
            QVERIFY(window->reports.isEmpty());
            QCOMPARE(entries(work_path("AddData")), made);
            return;
        }
        QCOMPARE(window->reports.size(), 1);
        const QString told = report_text(window->reports[0]);
        QVERIFY2(!told.contains("s3cret") && !told.contains("nope"), qPrintable(told));
        if (failure.isEmpty()) {
            QVERIFY(window->reports[0].is_ok);
            QCOMPARE(read_all(work_path("AddData/" + made[0].section('.', 0, 0) + "/b.bin")), read_all(work_path("in/b.bin")));
        } else {
            QVERIFY(!window->reports[0].is_ok);
            QVERIFY2(told.contains(failure), qPrintable(told));
            QCOMPARE(entries(work_path("AddData")), made);
        }
    }
};

QTEST_MAIN(Password_Window_Test)

#include "test_password_window.moc"
