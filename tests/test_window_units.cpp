// SPDX-License-Identifier: GPL-3.0-or-later
// The window's small units on their own: progress text, sorting of opened
// paths, the selection lists, the end-of-run report and where the window and
// the work go.
#include "Basic_Style.h"
#include "Basic_Text.h"
#include "chosen_paths.h"
#include "progress_text.h"
#include "run_report.h"
#include "start_place.h"

#include <QAccessible>
#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using Lines = QList<Run_Report::Line>;

class Window_Units_Test : public QObject
{
    Q_OBJECT

    QTemporaryDir work;
    QString at(const QString &name) const { return work.filePath(name); }

private slots:
    void initTestCase()
    {
        ui_language = 0;
        QLocale::setDefault(QLocale::c());
        QVERIFY(QDir(work.path()).mkpath("box/sub"));
        for (const char *name : {"box/a.txt", "box/d.kvxdata"}) {
            QFile file(at(name));
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        QCOMPARE(::mkfifo(qPrintable(at("box/pipe")), 0600), 0);
    }

    void progress_text()
    {
        const qint64 mib = 1024 * 1024;
        const QString plain = QStringLiteral("%p%");
        const QString rate = QStringLiteral("%p%  \u00B7  %1 kB/s  \u00B7  %2 left");
        QCOMPARE(progress_format(mib, 10 * mib, 1999), plain); // too early for a rate
        QCOMPARE(progress_format(0, mib, 5000), plain);
        QCOMPARE(progress_format(mib, mib, 5000), plain);
        QCOMPARE(progress_format(mib, 3 * mib, 2000), rate.arg("512.0", "0:04"));
        QCOMPARE(progress_format(mib, 746 * mib, 5000), rate.arg("204.8", "1:02:05"));
    }

    // Paths given at start-up, in the form the dialogs give; unusable ones named.
    // (A plain relative file and a missing one: the window's start-up test.)
    void opened_paths()
    {
        const auto sorted = [this](const QString &given) {
            const Chosen_Paths chosen = sort_opened({given}, QDir(work.path()));
            return QList<QStringList>{chosen.files, chosen.folders, chosen.problems};
        };
        QCOMPARE(sorted("box/sub/"), QList<QStringList>({{}, {at("box/sub")}, {}}));
        QCOMPARE(sorted("box/sub/../a.txt"), QList<QStringList>({{at("box/a.txt")}, {}, {}}));
        QCOMPARE(sorted(at("box/d.kvxdata")), QList<QStringList>({{at("box/d.kvxdata")}, {}, {}}));
        QCOMPARE(sorted(""), QList<QStringList>({{}, {}, {": does not exist"}}));
        QCOMPARE(sorted("box/pipe"), QList<QStringList>({{}, {}, {"box/pipe: is neither a file nor a folder"}}));
    }

    // The selection lists: each path once, in code-unit order whatever the
    // order of adding; letter case makes two entries.
    void path_set()
    {
        Path_Set set;
        set.insert(QStringList{"C:/b", "C:/a", "C:/A", "C:/a"});
        set.insert("/z");
        QCOMPARE(set.paths(), QStringList({"/z", "C:/A", "C:/a", "C:/b"}));
    }

    // What the box says under its main text, and which folder its button opens;
    // the details hold what the summary leaves out. (A packing that left
    // something out: the window's end-to-end run.)
    void report()
    {
        Package_Result blocked;
        blocked.is_encryption = true;
        blocked.errors = {"/AddData: cannot create the working folder: Permission denied"};
        Run_Report made = make_run_report(blocked, "/AddData");
        QCOMPARE(made.text, QStringLiteral("EncryptionFailure"));
        QCOMPARE(made.summary, Lines({{"What failed:"}, {blocked.errors[0], true},
                                      {"Corvanta cannot write its working folder /AddData. Start it from a folder "
                                       "you can write to, or make that folder writable."}}));
        QVERIFY(made.folder.isEmpty() && made.details.isEmpty());

        // Each folder once, at most three of a list, the rest in the details.
        Package_Result mixed;
        mixed.containers_total = 6;
        mixed.containers_unpacked = 2;
        mixed.files_written = 7;
        mixed.files_already_there = 3;
        mixed.output_folders = {"/b/a", "/b/a", "/b/c"};
        mixed.kept_beside = {"/b/a/x (2).txt"};
        mixed.errors = {"/b/1: e", "/b/2: e", "/b/3: e", "/b/4: e"};
        made = make_run_report(mixed);
        QCOMPARE(made.text, QStringLiteral("DecryptionFailure"));
        QCOMPARE(made.summary, Lines({{"Containers unpacked: 2 of 6"}, {"Files written: 7"},
                                      {"Files already there, left as they were: 3"}, {"Saved to:"}, {"/b/a", true},
                                      {"/b/c", true}, {"Kept under a new name beside a different file:"},
                                      {"/b/a/x (2).txt", true}, {"What failed:"}, {"/b/1: e", true}, {"/b/2: e", true},
                                      {"/b/3: e", true}, {QStringLiteral("\u2026 and 1 more, see the details")}}));
        QCOMPARE(made.folder, QStringLiteral("/b/a"));
        QVERIFY2(made.details.contains("/b/4: e"), qPrintable(made.details));

        // Paths are shown whole and as they are, never as markup; a count
        // stays on its label's line.
        QCOMPARE(summary_html({{"Saved to:"}, {"/a/<b>&c", true}, {"Files written: 7"}}),
                 QStringLiteral("<div>Saved to:</div>"
                                "<div style=\"white-space:pre; margin-left:12px\">/a/&lt;b&gt;&amp;c</div>"
                                "<div>Files written:&nbsp;7</div>"));
    }

    // A failure is said in plain words first; the zip terms follow, and the
    // details keep the line as the engine gave it.
    void failure_in_plain_words_data()
    {
        QTest::addColumn<QString>("error");
        QTest::addColumn<QString>("shown");
        QTest::newRow("no end record") << "/c/x.kvxdata: no end of central directory"
                                       << "/c/x.kvxdata: not a container, or damaged (no end of central directory)";
        QTest::newRow("header mismatch")
            << "/c/a: b.kvxdata: src/keep.txt: the local header does not match the central directory (name)"
            << "/c/a: b.kvxdata: src/keep.txt: not a container, or damaged "
               "(the local header does not match the central directory (name))";
        QTest::newRow("said by the engine")
            << "/c/x.kvxdata: not a container, or damaged (the central directory is out of place)"
            << "/c/x.kvxdata: not a container, or damaged (the central directory is out of place)";
        QTest::newRow("plain already") << "/c/x: Permission denied" << "/c/x: Permission denied";
    }

    void failure_in_plain_words()
    {
        QFETCH(QString, error);
        QFETCH(QString, shown);
        Package_Result failed;
        failed.errors = {error};
        const Run_Report made = make_run_report(failed);
        QCOMPARE(made.summary.value(1).text, shown);
        QVERIFY(error == shown || made.details.contains(error));
    }

    // A long path keeps its file name and fits (a short one stays whole:
    // report_box).
    void long_paths_are_shortened_in_the_middle()
    {
        const QFontMetrics metrics(QApplication::font());
        const QString deep = "/home/user/" + QString("very long folder name/").repeated(7) + "AddData/20261207-160301.kvxdata";
        const int width = metrics.horizontalAdvance(QString(60, 'x'));
        const QString shown = shortened_path(deep, metrics, width);
        QVERIFY2(metrics.horizontalAdvance(shown) <= width, qPrintable(shown));
        QVERIFY2(shown.startsWith("/home/") && shown.endsWith("/20261207-160301.kvxdata"), qPrintable(shown));
    }

    // The real box: modal, no parent, wide enough for a whole path, the full
    // list behind its details, buttons to the result's folder and to the
    // offer to recover. Esc closes it beside them, a screen reader finds its
    // text, and the offer answers as such when taken.
    void report_box()
    {
        const QString folder = "/srv/" + QString(60, 'f') + "/holiday_20240102__043759_Mon";
        Package_Result result;
        result.errors = {QStringLiteral("/x/e.kvxdata: the container is empty")};
        result.output_folders = {folder};
        result.containers_total = 2;
        result.containers_unpacked = 1;
        result.warnings = {QStringLiteral("/x/pipe: left out")};
        Run_Report shown = make_run_report(result);
        shown.recoverable = {"/x/cut.kvxdata"};
        QStringList seen, read;
        bool closed_by_hand = false;
        QTimer::singleShot(0, [&] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box)
                return;
            seen << box->text() << box->detailedText() << (box->parentWidget() ? "" : "no parent");
            for (QAbstractButton *button : box->buttons())
                seen << button->text();
            seen << QString::number(box->informativeText().contains(folder));
            for (const QLabel *label : box->findChildren<QLabel *>())
                if (QAccessibleInterface *face = QAccessible::queryAccessibleInterface(const_cast<QLabel *>(label)))
                    read << face->text(QAccessible::Name);
            QTest::keyClick(box, Qt::Key_Escape);
            QTimer::singleShot(0, [&] {
                if (auto *still = qobject_cast<QDialog *>(QApplication::activeModalWidget())) {
                    closed_by_hand = true;
                    still->done(0);
                }
            });
        });
        QCOMPARE(show_run_report_box("Corvanta", shown), Run_Report::Answer::Dismissed);
        QCoreApplication::processEvents(); // the check for a box left open
        QVERIFY(!closed_by_hand);
        QCOMPARE(seen, QStringList({"DecryptionFailure",
                                    "/x/e.kvxdata: the container is empty\nSaved to:\n" + folder + "\n/x/pipe: left out",
                                    "no parent", "OK", "Open Folder", recover_button_text(), "Show Details...", "1"}));
        QVERIFY2(read.contains("DecryptionFailure"), qPrintable(read.join('|')));
        QVERIFY2(read.filter("Saved to:").size() == 1 && read.filter(folder).size() == 1, qPrintable(read.join('|')));

        QTimer take;
        QObject::connect(&take, &QTimer::timeout, [&] {
            if (QWidget *box = QApplication::activeModalWidget())
                for (QPushButton *button : box->findChildren<QPushButton *>())
                    if (button->text() == recover_button_text())
                        button->click();
        });
        take.start(0);
        QCOMPARE(show_run_report_box("Corvanta", shown), Run_Report::Answer::Recover);
    }

    // The window opens at its usual size where that fits, never below the
    // minimum, title bar on screen. A launcher's start folder where nothing can
    // be made gives way to home, unless home is no better; probing leaves no folder.
    void start_place()
    {
        const auto fit = [](const QRect &available) { return fit_on_screen({600, 420}, {480, 320}, available); };
        QCOMPARE(fit({0, 0, 1024, 768}), QRect(212, 174, 600, 420));
        QCOMPARE(fit({0, 40, 1024, 728}), QRect(212, 194, 600, 420)); // a panel on top
        QCOMPARE(fit({0, 0, 640, 400}), QRect(20, 0, 600, 400));      // 1280x800 at scale 2
        QCOMPARE(fit({0, 0, 400, 300}), QRect(0, 0, 480, 320));       // smaller than the minimum

        QCOMPARE(choose_base_dir(work.path(), at("box")), work.path());
        QCOMPARE(choose_base_dir(QStringLiteral("/proc"), at("box")), at("box"));
        QCOMPARE(choose_base_dir(QStringLiteral("/proc"), QStringLiteral("/proc/self")), QStringLiteral("/proc"));
        QVERIFY(!QFileInfo::exists(at("AddData")) && !QFileInfo::exists(at("box/AddData")));
        QVERIFY(!can_make_working_folder(at("box/a.txt")));

        // The file dialog opens where containers are once there are any,
        // never in a folder that does not exist.
        QCOMPARE(file_dialog_folder(false, at("box")), at("box"));
        QVERIFY(QDir().mkpath(at("box/AddData")));
        QCOMPARE(file_dialog_folder(false, at("box")), at("box/AddData"));
        QCOMPARE(file_dialog_folder(true, at("box")), at("box"));
    }
};

QTEST_MAIN(Window_Units_Test)

#include "test_window_units.moc"
