// The window's small units on their own: progress text, sorting of opened
// paths, the end-of-run report and where the window and the work go.
#include "Basic_Style.h"
#include "Basic_Text.h"
#include "chosen_paths.h"
#include "progress_text.h"
#include "run_report.h"
#include "start_place.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using Lines = QList<Run_Report::Line>;
Q_DECLARE_METATYPE(Package_Result)

class Window_Units_Test : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir work;
    QString at(const QString &name) const { return work.filePath(name); }

private slots:
    void initTestCase()
    {
        ui_language = 0;
        QLocale::setDefault(QLocale::c());
        QVERIFY(QDir(work.path()).mkpath("box/sub"));
        for (const char *name : {"box/a.txt", "box/c.KVXDATA", "box/d.kvxdata"}) {
            QFile file(at(name));
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        QCOMPARE(::mkfifo(qPrintable(at("box/pipe")), 0600), 0);
    }

    void progress_text_data()
    {
        QTest::addColumn<qint64>("done");
        QTest::addColumn<qint64>("total");
        QTest::addColumn<qint64>("elapsed_ms");
        QTest::addColumn<QString>("expected");
        const qint64 mib = 1024 * 1024;
        QTest::newRow("too early for a rate") << mib << 10 * mib << qint64(1999) << "%p%";
        QTest::newRow("nothing done") << qint64(0) << mib << qint64(5000) << "%p%";
        QTest::newRow("all done") << mib << mib << qint64(5000) << "%p%";
        QTest::newRow("seconds") << mib << 3 * mib << qint64(2000)
                                 << QStringLiteral("%p%  \u00B7  512.0 kB/s  \u00B7  0:04 left");
        QTest::newRow("minutes") << mib << 31 * mib << qint64(10000)
                                 << QStringLiteral("%p%  \u00B7  102.4 kB/s  \u00B7  5:00 left");
        QTest::newRow("hours") << mib << 746 * mib << qint64(5000)
                               << QStringLiteral("%p%  \u00B7  204.8 kB/s  \u00B7  1:02:05 left");
    }
    void progress_text()
    {
        QFETCH(qint64, done);
        QFETCH(qint64, total);
        QFETCH(qint64, elapsed_ms);
        QFETCH(QString, expected);
        QCOMPARE(progress_format(done, total, elapsed_ms), expected);
    }

    // Paths given at start-up, in the form the dialogs give; unusable ones named.
    void opened_paths_data()
    {
        QTest::addColumn<QString>("given");
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("problem");
        QTest::newRow("relative file") << "box/a.txt" << "box/a.txt" << "" << "";
        QTest::newRow("folder, trailing slash") << "box/sub/" << "" << "box/sub" << "";
        QTest::newRow("dots") << "box/sub/../a.txt" << "box/a.txt" << "" << "";
        QTest::newRow("absolute") << "@box/d.kvxdata" << "box/d.kvxdata" << "" << "";
        QTest::newRow("missing") << "box/gone" << "" << "" << "box/gone: does not exist";
        QTest::newRow("empty") << "" << "" << "" << ": does not exist";
        QTest::newRow("pipe") << "box/pipe" << "" << "" << "box/pipe: is neither a file nor a folder";
    }
    void opened_paths()
    {
        QFETCH(QString, given);
        QFETCH(QString, file);
        QFETCH(QString, folder);
        QFETCH(QString, problem);
        if (given.startsWith('@'))
            given = at(given.mid(1));
        const Chosen_Paths chosen = sort_opened({given}, QDir(work.path()));
        QCOMPARE(chosen.files, file.isEmpty() ? QStringList() : QStringList{at(file)});
        QCOMPARE(chosen.folders, folder.isEmpty() ? QStringList() : QStringList{at(folder)});
        QCOMPARE(chosen.problems, problem.isEmpty() ? QStringList() : QStringList{problem});
    }

    // What the box says under its main text, and which folder its button opens.
    void report_data()
    {
        QTest::addColumn<Package_Result>("result");
        QTest::addColumn<QString>("blocked");
        QTest::addColumn<QString>("text");
        QTest::addColumn<Lines>("summary");
        QTest::addColumn<QString>("folder");

        Package_Result packed;
        packed.is_encryption = packed.is_ok = true;
        packed.container_path = "/w/AddData/c.kvxdata";
        packed.warnings = {"/in/pipe: left out", "/in/socket: left out"};
        QTest::newRow("packed") << packed << "" << "EncryptionSuccessful"
                                << Lines{{"Saved to:"}, {"/w/AddData/c.kvxdata", true}, {"Left out: 2, see the details"}}
                                << "/w/AddData";

        Package_Result blocked;
        blocked.is_encryption = true;
        blocked.errors = {"/AddData: cannot create the working folder: Permission denied"};
        QTest::newRow("working folder blocked")
            << blocked << "/AddData" << "EncryptionFailure"
            << Lines{{"What failed:"}, {blocked.errors[0], true},
                     {"Corvanta cannot write its working folder /AddData. Start it from a folder you can write to, "
                      "or make that folder writable."}}
            << "";

        // Each folder once, at most three of a list, the rest in the details.
        Package_Result mixed;
        mixed.containers_total = 6;
        mixed.containers_unpacked = 2;
        mixed.files_written = 7;
        mixed.files_already_there = 3;
        mixed.output_folders = {"/b/a", "/b/a", "/b/c"};
        mixed.kept_beside = {"/b/a/x (2).txt"};
        mixed.errors = {"/b/1: e", "/b/2: e", "/b/3: e", "/b/4: e"};
        QTest::newRow("mixed unpacking")
            << mixed << "" << "DecryptionFailure"
            << Lines{{"Containers unpacked: 2 of 6"}, {"Files written: 7"},
                     {"Files already there, left as they were: 3"}, {"Saved to:"}, {"/b/a", true}, {"/b/c", true},
                     {"Kept under a new name beside a different file:"}, {"/b/a/x (2).txt", true},
                     {"What failed:"}, {"/b/1: e", true}, {"/b/2: e", true}, {"/b/3: e", true},
                     {QStringLiteral("\u2026 and 1 more, see the details")}}
            << "/b/a";
    }
    void report()
    {
        QFETCH(Package_Result, result);
        QFETCH(QString, blocked);
        QFETCH(QString, text);
        QFETCH(Lines, summary);
        QFETCH(QString, folder);
        const Run_Report made = make_run_report(result, blocked);
        QCOMPARE(made.text, text);
        QCOMPARE(made.summary, summary);
        QCOMPARE(made.folder, folder);
        // Every line is shown somewhere: the details hold what the summary leaves out.
        for (const QString &line : result.errors + result.warnings + result.kept_beside)
            QVERIFY2(made.details.contains(line) || made.summary.contains(Run_Report::Line{line, true}),
                     qPrintable(line));
    }

    void summary_keeps_paths_whole()
    {
        const QString html = summary_html({{"Saved to:"}, {"/a/<b>&c", true}});
        QCOMPARE(html, QStringLiteral("<div>Saved to:</div>"
                                      "<div style=\"white-space:pre; margin-left:12px\">/a/&lt;b&gt;&amp;c</div>"));
    }

    // The described size where it fits, never below the minimum, title bar on screen.
    void window_place_data()
    {
        QTest::addColumn<QRect>("available");
        QTest::addColumn<QRect>("expected");
        QTest::newRow("room to spare") << QRect(0, 0, 1024, 768) << QRect(212, 174, 600, 420);
        QTest::newRow("panel on top") << QRect(0, 40, 1024, 728) << QRect(212, 194, 600, 420);
        QTest::newRow("1280x800 at scale 2") << QRect(0, 0, 640, 400) << QRect(20, 0, 600, 400);
        QTest::newRow("smaller than the minimum") << QRect(0, 0, 400, 300) << QRect(0, 0, 480, 320);
    }
    void window_place()
    {
        QFETCH(QRect, available);
        QFETCH(QRect, expected);
        QCOMPARE(fit_on_screen(QSize(600, 420), QSize(480, 320), available), expected);
    }

    // A launcher's start folder where nothing can be made gives way to home.
    void base_folder()
    {
        QCOMPARE(choose_base_dir(work.path(), at("box")), work.path());
        QCOMPARE(choose_base_dir(QStringLiteral("/proc"), at("box")), at("box"));
        QCOMPARE(choose_base_dir(QStringLiteral("/proc"), QStringLiteral("/proc/self")), QStringLiteral("/proc"));
        QVERIFY(!QFileInfo::exists(at("AddData")) && !QFileInfo::exists(at("box/AddData")));
        QVERIFY(!can_make_working_folder(at("box/a.txt")));
    }
};

QTEST_MAIN(Window_Units_Test)

#include "test_window_units.moc"
