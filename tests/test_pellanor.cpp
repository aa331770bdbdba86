// SPDX-License-Identifier: GPL-3.0-or-later
#include "Basic_Style.h"
#include "Basic_Text.h"
#include "close_on_signals.h"
#include "window_test_support.h"

#include <QAccessible>
#include <QMimeData>
#include <QRegularExpression>

#include <system_error>

using namespace test_support;
using Lines = QList<Run_Report::Line>;

namespace {

// Also notes, with each report, whether a live Cancel showed beside the box.
class Test_Window : public Unattended_Window
{
public:
    QList<bool> cancel_seen;
    bool fail_thread_start = false;
    int threads_started = 0;

    using Pellanor::dragEnterEvent, Pellanor::dropEvent;
    // Each run waits at the point until it is cancelled.
    void hold_runs_at(Run_Point point) { job.hold_at(point); }
    // As a person picks an entry: also when it is the current one.
    void choose(const QString &type)
    {
        auto *combo = find<QComboBox>("type_combo");
        combo->setCurrentIndex(combo->findText(type));
        emit combo->activated(combo->currentIndex());
    }

protected:
    Run_Report::Answer show_report(const QString &title, const Run_Report &shown) override
    {
        QWidget *cancel = find("cancel_button");
        cancel_seen.append(cancel->isVisibleTo(this) && cancel->isEnabled());
        return Unattended_Window::show_report(title, shown);
    }
    std::thread start_thread(std::function<void()> body) override
    {
        if (fail_thread_start)
            throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
        ++threads_started;
        return Pellanor::start_thread(std::move(body));
    }
};

} // namespace

class Window_Test : public QObject, Window_Case<Test_Window>
{
    Q_OBJECT

    const Basic_Text *text = nullptr;
    const QStringList all_controls = {"add_dir_button", "add_file_button", "clear_button", "delete_button",
                                      "file_table", "open_dir_button", "start_button", "type_combo"};

    QTableWidget *table() { return window->find<QTableWidget>("file_table"); }
    // "path|type" per row, the working folder written "~".
    QStringList rows()
    {
        QStringList out;
        for (int row = 0; row < table()->rowCount(); ++row)
            out << QString(table()->item(row, 0)->text() + '|' + table()->item(row, 1)->text()).replace(work->path(), "~");
        return out;
    }
    // The controls a person can use right now.
    QStringList usable()
    {
        QStringList out;
        for (QWidget *w : window->findChildren<QWidget *>())
            if ((qobject_cast<QPushButton *>(w) || qobject_cast<QComboBox *>(w) || w == table())
                && w->isEnabled() && !w->isHidden())
                out << w->objectName();
        out.sort();
        return out;
    }
    void wait_for_reports(int count)
    {
        QTRY_VERIFY_WITH_TIMEOUT(window->reports.size() >= count && !window->is_busy(), 120000);
    }
    void run(const QString &mode, const QStringList &files, const QString &folder = QString())
    {
        window->choose(mode);
        window->file_answers = {files};
        window->folder_answers = {folder}; // an empty answer adds nothing
        window->click("add_file_button");
        window->click("add_dir_button");
        window->click("start_button");
    }
    // A run started on one file, held once its container is begun.
    void start_held_run()
    {
        window->hold_runs_at(Run_Point::Archive_Opened);
        QVERIFY(write_file(work_path("f"), "f"));
        window->add_files({work_path("f")});
        window->click("start_button");
        QVERIFY(window->is_busy());
    }

private slots:
    void initTestCase()
    {
        ui_language = 0;
        text = Basic_Text::instance();
        QApplication::setQuitOnLastWindowClosed(false);
    }
    // Every case runs in its own empty working folder with a fresh window.
    void init() { open_case(); }
    void cleanup() { close_case(); }

    // What the table shows is what runs: a switch drops the other mode's
    // entries; plain files must never be fed to decryption.
    void type_switch_and_list()
    {
        QCOMPARE(usable(), all_controls);
        window->file_answers = {{QStringLiteral("/data/a.txt"), QStringLiteral("/data/a.txt")}};
        window->folder_answers = {QStringLiteral("/data/dir")};
        window->click("add_file_button");
        window->click("add_dir_button");
        window->click("add_dir_button"); // a cancelled dialog adds nothing
        // Re-choosing the current mode keeps the list; folders come first.
        window->choose(text->txt_type_encryption);
        QCOMPARE(rows(), QStringList({"/data/dir|IsDir", "/data/a.txt|IsFile"}));

        // What happens to the list without the user's asking is said.
        window->choose(text->txt_type_decryption);
        QCOMPARE(window->status(), QStringLiteral("The list was emptied: its 2 entries belong to the other type"));
        QVERIFY(rows().isEmpty() && window->files().isEmpty() && window->folders().isEmpty());
        QVERIFY(!window->find("add_dir_button")->isEnabled());
        window->file_answers = {{QStringLiteral("/data/x.kvxdata")}};
        window->click("add_file_button");
        QCOMPARE(window->file_dialogs, QStringList({work->path() + "|", work->path() + "|KVX file(*.kvxdata)"}));
        QCOMPARE(rows(), QStringList({"/data/x.kvxdata|IsFile"}));
        window->choose(text->txt_type_encryption);
        QVERIFY(window->files().isEmpty() && window->find("add_dir_button")->isEnabled());

        // The working folder is made when first shown.
        window->click("open_dir_button");
        QVERIFY(QFileInfo(work_path("AddData")).isDir());
        QCOMPARE(window->opened, QList<QUrl>({QUrl::fromLocalFile(work_path("AddData"))}));

        // The same path as file and as folder is two entries; deleting one keeps the other.
        window->file_answers = {{QStringLiteral("/p/same"), QStringLiteral("/p/other")}};
        window->folder_answers = {QStringLiteral("/p/same")};
        window->click("add_file_button");
        window->click("add_dir_button");
        table()->selectRow(0); // the folder row
        window->click("delete_button");
        QVERIFY(window->folders().isEmpty());
        QCOMPARE(window->files().paths(), QStringList({"/p/other", "/p/same"}));

        window->click("clear_button");
        QVERIFY(window->files().isEmpty());
        // With nothing listed a start does nothing.
        window->click("start_button");
        QCoreApplication::processEvents();
        QVERIFY(window->threads_started == 0 && window->reports.isEmpty() && window->status().isEmpty());
    }

    void encryption_and_decryption_end_to_end()
    {
        // Names and sizes that test the engine are its own suites' work.
        QVERIFY(write_file(work_path("in/docs/sub/readme.txt"), "read me\n") && write_file(work_path("in/single.txt"), "x"));
        const QMap<QString, QByteArray> original = tree(work_path("in"));

        // A success that left something out says so in the detail only.
        QVERIFY(make_pipe(work_path("in/docs/pipe")));
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        run(text->txt_type_encryption, {work_path("in/single.txt")}, work_path("in/docs"));

        // Busy until the queued end arrives: the list is locked, the view is not.
        QVERIFY(window->is_busy());
        QCOMPARE(usable(), QStringList({"cancel_button", "file_table", "open_dir_button"}));
        window->add_files({QStringLiteral("/late")});
        window->click("start_button");
        QVERIFY(window->threads_started == 1 && window->files().size() == 1);

        wait_for_reports(1);
        QVERIFY(window->status().isEmpty() && window->files().isEmpty() && window->folders().isEmpty()
                && !window->find<QProgressBar>("progress_bar")->isVisibleTo(window.get()));
        QCOMPARE(usable(), all_controls);
        const Run_Report &packed = window->reports[0];
        QCOMPARE(packed.text, QStringLiteral("EncryptionSuccessful"));
        QVERIFY(!window->cancel_seen[0]);
        const QStringList made = entries(work_path("AddData"));
        QVERIFY2(made.size() == 1 && QRegularExpression(R"(^\d{8}__\d{6}_[^./]+\.?\.kvxdata$)").match(made[0]).hasMatch(),
                 qPrintable(made.join(' ')));
        const QString container = work_path("AddData/" + made[0]);
        // Where it went is readable at once; what was left out is in the details.
        QCOMPARE(packed.summary, Lines({{"Saved to:"}, {container, true}, {"Left out: 1, see the details"},
                                        {"The cipher has no key: anyone with Corvanta can open this container."}}));
        QCOMPARE(packed.folder, work_path("AddData"));

        // The report's button opens the folder the result went to.
        window->answers = {Run_Report::Answer::Open_Folder};
        run(text->txt_type_decryption, {container});
        wait_for_reports(2);
        const Run_Report &unpacked = window->reports[1];
        QCOMPARE(unpacked.text, QStringLiteral("DecryptionSuccessful"));
        // Where unpacking puts what (test_pipeline) is where the window's button leads.
        const QString base = made[0].section(QLatin1Char('.'), 0, 0);
        QVERIFY(!window->cancel_seen[1] && window->files().isEmpty() && window->status().isEmpty());
        QCOMPARE(usable(), all_controls.mid(1)); // no folders to add in decryption mode
        QCOMPARE(window->opened, QList<QUrl>({QUrl::fromLocalFile(work_path("AddData/" + base))}));
        QCOMPARE(tree(work_path("AddData/" + base)), original);
    }

    // A thread that cannot start is a failure told like any other, and keeps
    // the list. (A failure's reason in the box: test_window_units.)
    void failed_start_keeps_the_list()
    {
        window->fail_thread_start = true;
        run(text->txt_type_encryption, {QStringLiteral("/x/a")});
        QVERIFY(!window->is_busy() && window->files().size() == 1);
        QCOMPARE(usable(), all_controls);
        QCOMPARE(window->reports.size(), 1);
        QVERIFY(window->reports[0].text == "EncryptionFailure" && !window->reports[0].summary.isEmpty());
    }

    // A container refused as damaged is offered to salvage; taking the offer
    // unpacks into where it would have gone, and is still no success. The
    // salvage's own report offers nothing more.
    void damaged_container_offers_recovery()
    {
        QVERIFY(write_file(work_path("src/in/1.bin"), random_bytes(30000, 1)) && write_file(work_path("src/in/2.txt"), "two")
                && write_file(work_path("src/in/3.bin"), random_bytes(30000, 3)));
        const Package_Result made = run_encryption({}, {work_path("src/in")}, work_path("made"));
        QFile container(made.container_path);
        QVERIFY(made.is_ok && container.resize(container.size() - 40));
        QVERIFY(QDir().mkpath(work_path("box")) && container.rename(work_path("box/cut.kvxdata")));
        window->answers = {Run_Report::Answer::Recover};
        run(text->txt_type_decryption, {work_path("box/cut.kvxdata")});
        wait_for_reports(2);
        QCOMPARE(window->reports[0].recoverable, QStringList{work_path("box/cut.kvxdata")});
        const Run_Report &salvaged = window->reports[1];
        QCOMPARE(salvaged.text, QStringLiteral("DecryptionFailure"));
        QVERIFY(salvaged.recoverable.isEmpty());
        QVERIFY2(salvaged.details.contains("salvage recovered"), qPrintable(salvaged.details));
        const Lines top = salvaged.summary.mid(0, 3);
        QVERIFY(std::any_of(top.cbegin(), top.cend(), [](const Run_Report::Line &l) {
            return l.text.startsWith("Entries recovered from damaged containers: ");
        }));
        // Where it would have gone; which entries and their bytes: test_salvage.
        QCOMPARE(read_all(work_path("box/cut/in/2.txt")), QByteArray("two"));
        QCOMPARE(window->reports.size(), 2);
    }

    // Closing asks first, then cancels and waits; destroying joins the worker,
    // which must never touch the window afterwards (run under the sanitizers).
    // Cancel (which has the focus while the run works) and Esc stop the run,
    // keep the list for another try and give the focus back to the start button.
    void ending_the_window_mid_run_leaves_nothing_data()
    {
        QTest::addColumn<QString>("how");
        for (const char *how : {"close", "destroy", "cancel button", "escape", "SIGTERM", "SIGHUP"})
            QTest::newRow(how) << QString::fromLatin1(how);
    }
    void ending_the_window_mid_run_leaves_nothing()
    {
        QFETCH(QString, how);
        const bool destroy = how == "destroy";
        const QByteArray big = random_bytes(1024 * 1024, 42);
        for (int i = 0; i < 4; ++i)
            QVERIFY(write_file(work_path(QStringLiteral("in/big%1.bin").arg(i)), big));
        show_active();
        // Its container begun, the run waits to be ended: it cannot end first.
        window->hold_runs_at(Run_Point::Archive_Opened);
        if (how.startsWith("SIG"))
            close_on_signals(window.get());
        run(text->txt_type_encryption, {}, work_path("in"));
        QVERIFY(window->is_busy());
        if (destroy) {
            window.reset();
        } else {
            if (how == "close") {
                // Declined, the run goes on.
                window->close_answer = false;
                QVERIFY(!window->close() && window->is_busy() && window->isVisible());
                window->close_answer = true;
                QVERIFY(window->close());
            } else if (how.startsWith("SIG")) {
                QVERIFY(::raise(how == "SIGTERM" ? SIGTERM : SIGHUP) == 0);
            } else if (how == "cancel button") {
                QTRY_COMPARE(QApplication::focusWidget(), window->find("cancel_button"));
                QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
            } else {
                QTest::keyClick(window.get(), Qt::Key_Escape);
            }
            QTRY_VERIFY_WITH_TIMEOUT(!window->is_busy(), 60000);
            QVERIFY(window->reports.isEmpty()); // no box: the user asked for it
            // A signal ends the program with nobody to ask.
            QCOMPARE(window->close_questions, how == "close" ? QList<bool>({true, true}) : QList<bool>());
            QCOMPARE(window->isVisible(), how == "cancel button" || how == "escape");
            QVERIFY(how == "close" || how.startsWith("SIG")
                    || (window->status() == "EncryptionCancelled" && usable() == all_controls
                        && window->folders().paths() == QStringList({work_path("in")})
                        && QApplication::focusWidget() == window->find("start_button")));
        }
        QCOMPARE(entries(work_path("AddData")), QStringList());
        for (int i = 0; i < 4; ++i)
            QCOMPARE(read_all(work_path(QStringLiteral("in/big%1.bin").arg(i))), big);
    }

    // Paths given at start-up are listed as if chosen, in the mode they or
    // the option ask for; what is left out is named.
    void start_up_paths_data()
    {
        using Mode = Pellanor::Open_Mode;
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<Mode>("mode");
        QTest::addColumn<QStringList>("shown"); // the mode, then the rows
        QTest::addColumn<QString>("left_out");
        const QString a = "~/box/a.kvxdata|IsFile";
        QTest::newRow("mixed") << QStringList{"box/a.kvxdata", "box"} << Mode::By_Kind
                               << QStringList{"Encryption", "~/box|IsDir", a} << "";
        QTest::newRow("pack containers") << QStringList{"box/a.kvxdata"} << Mode::Pack << QStringList{"Encryption", a} << "";
        QTest::newRow("unpack") << QStringList{"box/a.kvxdata", "box"} << Mode::Unpack << QStringList{"Decryption", a}
                                << "~/box: is not a container (*.kvxdata)";
        // Only containers: unpacked. Control characters shown escaped, in the list and in the box.
        QTest::newRow("control characters") << QStringList{"box/\x1b[2J\r.kvxdata", "gone\n.kvxdata"} << Mode::By_Kind
                                            << QStringList{"Decryption", "~/box/\\x1b[2J\\r.kvxdata|IsFile"}
                                            << "gone\\n.kvxdata: does not exist";
    }
    void start_up_paths()
    {
        QFETCH(QStringList, args);
        QFETCH(Pellanor::Open_Mode, mode);
        QFETCH(QStringList, shown);
        QFETCH(QString, left_out);
        QVERIFY(write_file(work_path("box/a.kvxdata"), "a") && write_file(work_path("box/\x1b[2J\r.kvxdata"), "e"));
        window->open_paths(args, mode);
        QCOMPARE(window->find<QComboBox>("type_combo")->currentText(), shown.first());
        QCOMPARE(window->is_encryption_mode(), shown.first() == "Encryption");
        QCOMPARE(rows(), shown.mid(1));
        QCoreApplication::processEvents();
        QStringList told;
        for (const Run_Report &report : std::as_const(window->reports))
            told << QString(report.text).replace(work->path(), "~");
        QCOMPARE(told, left_out.isEmpty() ? QStringList() : QStringList{"These paths were not listed:\n" + left_out});
    }

    // Drops are added as if chosen; in decryption mode only containers.
    void dropped_paths_are_added_as_if_chosen()
    {
        QVERIFY(write_file(work_path("drop/a.txt"), "a") && write_file(work_path("drop/c.KVXDATA"), "c")
                && QDir().mkpath(work_path("drop/folder")));
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(work_path("drop/a.txt")), QUrl::fromLocalFile(work_path("drop/folder/")),
                      QUrl::fromLocalFile(work_path("drop/c.KVXDATA")), QUrl::fromLocalFile(work_path("drop/gone")),
                      QUrl(QStringLiteral("https://example.org/x.kvxdata"))});
        const auto drop = [&] {
            QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
            window->dragEnterEvent(&enter);
            QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
            if (enter.isAccepted())
                window->dropEvent(&drop);
            return enter.isAccepted();
        };
        QVERIFY(drop());
        QCOMPARE(rows(), QStringList({"~/drop/folder|IsDir", "~/drop/a.txt|IsFile", "~/drop/c.KVXDATA|IsFile"}));
        window->choose(text->txt_type_decryption);
        QVERIFY(drop());
        QCOMPARE(rows(), QStringList({"~/drop/c.KVXDATA|IsFile"}));
    }

    // Keys: Tab visits every control in reading order and leaves the table;
    // Delete removes the selected row, Ctrl+O adds files, Enter presses the
    // focused button (Return on Cancel and Esc: ending_the_window_mid_run).
    void keyboard_only()
    {
        show_active();
        window->add_files({QStringLiteral("/k/a"), QStringLiteral("/k/b")});
        window->find<QComboBox>("type_combo")->setFocus();
        QStringList visited;
        for (int i = 0; i < 8; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            visited << QApplication::focusWidget()->objectName();
        }
        QCOMPARE(visited, QStringList({"file_table", "add_file_button", "add_dir_button", "delete_button",
                                       "clear_button", "open_dir_button", "start_button", "type_combo"}));

        table()->setFocus();
        table()->selectRow(0);
        QTest::keyClick(table(), Qt::Key_Delete);
        QCOMPARE(window->files().paths(), QStringList({"/k/b"}));
        window->file_answers = {{QStringLiteral("/k/c")}};
        QTest::keyClick(table(), Qt::Key_O, Qt::ControlModifier);
        QCOMPARE(window->files().paths(), QStringList({"/k/b", "/k/c"}));

        // Keys of locked buttons are locked with them.
        QTest::keyClick(window->find("start_button"), Qt::Key_Enter, Qt::KeypadModifier);
        QVERIFY(window->is_busy());
        table()->selectRow(0);
        QTest::keyClick(table(), Qt::Key_Delete);
        QCOMPARE(window->files().size(), 2);
        wait_for_reports(1);
    }

    // Every control has the name and role a screen reader needs.
    void controls_are_named_for_screen_readers_data()
    {
        QTest::addColumn<QString>("control");
        QTest::addColumn<int>("role");
        QTest::addColumn<QString>("name");
        // Qt on Linux names a combo box by its text; its label comes as a relation.
        QTest::newRow("type") << "type_combo" << int(QAccessible::ComboBox) << "Encryption";
        QTest::newRow("table") << "file_table" << int(QAccessible::Table) << "Files and folders";
        QTest::newRow("progress") << "progress_bar" << int(QAccessible::ProgressBar) << "Progress";
        QTest::newRow("cancel") << "cancel_button" << int(QAccessible::Button) << "Cancel";
        QTest::newRow("start") << "start_button" << int(QAccessible::Button) << "Encryption";
        QTest::newRow("status") << "status_label" << int(QAccessible::StaticText) << "EncryptionIng\u2026\u2026";
    }

    void controls_are_named_for_screen_readers()
    {
        QFETCH(QString, control);
        QFETCH(int, role);
        QFETCH(QString, name);
        show_active();
        start_held_run();
        QAccessibleInterface *face = QAccessible::queryAccessibleInterface(window->find<QWidget>(qPrintable(control)));
        QVERIFY(face);
        QCOMPARE(int(face->role()), role);
        QCOMPARE(face->text(QAccessible::Name), name);
        QVERIFY(!face->state().invisible);
        // The start button is locked during the run; Cancel can be pressed.
        if (role == QAccessible::Button) {
            QCOMPARE(bool(face->state().disabled), control == "start_button");
            QCOMPARE(face->actionInterface()->actionNames().contains(QAccessibleActionInterface::pressAction()),
                     control != "start_button");
        }
        if (role == QAccessible::ComboBox) {
            const auto labels = face->relations(QAccessible::Label);
            QVERIFY(!labels.isEmpty());
            QCOMPARE(labels.first().first->text(QAccessible::Name), text->txt_choose_type);
        }
        if (role == QAccessible::Table)
            QVERIFY(face->tableInterface()->cellAt(0, 0));
        window->find("cancel_button")->click();
        QTRY_VERIFY_WITH_TIMEOUT(!window->is_busy(), 60000);
    }

    // Started by a launcher from where no working folder can be made ("/"),
    // as "Pack into a container" with a path that has gone: the home
    // folder's is used, and the status row says so for every run. The run
    // begins once the notice of what was left out is closed: one box at a time.
    void unwritable_start_folder_uses_home()
    {
        const QByteArray home = qgetenv("HOME");
        QVERIFY(QDir().mkpath(work_path("home")));
        qputenv("HOME", work_path("home").toLocal8Bit());
        QVERIFY(QDir::setCurrent(QStringLiteral("/proc")));
        Test_Window started;
        started.init_window();
        qputenv("HOME", home);
        const QString notice = "The start folder cannot be written: containers go to " + work_path("home/AddData");
        QCOMPARE(started.status(), notice);
        started.open_paths({work_path("home"), work_path("absent")}, Pellanor::Open_Mode::Pack, true);
        QTRY_VERIFY_WITH_TIMEOUT(started.reports.size() == 2 && !started.is_busy(), 60000);
        QVERIFY(started.reports[0].text.contains(work_path("absent")) && !started.cancel_seen[0]);
        QCOMPARE(started.reports[1].text, QStringLiteral("EncryptionSuccessful"));
        QCOMPARE(started.reports[1].folder, work_path("home/AddData"));
        QCOMPARE(started.status(), notice);
        // Files are chosen from there too, not from the start folder.
        started.click("add_file_button");
        QCOMPARE(started.file_dialogs.value(0).section('|', 0, 0), work_path("home"));
    }
};

QTEST_MAIN(Window_Test)

#include "test_pellanor.moc"
