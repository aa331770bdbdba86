// corvanta-cli as a script sees it: output, exit status and messages.

#include "engine_test_support.h"

#include <QProcess>
#include <QTest>

using namespace test_support;

class Test_Cli : public QObject, Scratch
{
    Q_OBJECT

    struct Run
    {
        int exit_code = -1;
        QString out;
        QString err;
    };

    Run cli(const QStringList &args, const QString &working_dir = QString())
    {
        QProcess p;
        p.setWorkingDirectory(working_dir.isEmpty() ? dir.path() : working_dir);
        p.start(QStringLiteral(CORVANTA_CLI_PATH), args);
        p.waitForFinished(120000);
        return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
                QString::fromLocal8Bit(p.readAllStandardOutput()), QString::fromLocal8Bit(p.readAllStandardError())};
    }

private slots:
    void initTestCase() { make_file("junk.kvxdata", QByteArray(10000, 'j')); }

    // Usage errors exit with 2, failed items with 1 and one line each.
    void exit_status_and_messages_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("exit_code");
        QTest::addColumn<QStringList>("failed");
        for (const QStringList &args : {QStringList{}, QStringList{"frobnicate"}, QStringList{"encrypt"},
                                        QStringList{"decrypt"}, QStringList{"encrypt", "-C"},
                                        QStringList{"encrypt", "--bogus", "x"}})
            QTest::newRow(qPrintable("usage: " + args.join(' '))) << args << 2 << QStringList();
        QTest::newRow("bad containers") << QStringList{"decrypt", "junk.kvxdata", "absent.kvxdata"} << 1
                                        << QStringList{"junk.kvxdata", "absent.kvxdata"};
        QTest::newRow("missing input") << QStringList{"encrypt", "-C", "b2", "nothing-here"} << 1
                                       << QStringList{"nothing-here"};
    }

    void exit_status_and_messages()
    {
        QFETCH(QStringList, args);
        QFETCH(int, exit_code);
        QFETCH(QStringList, failed);
        const Run r = cli(args);
        QCOMPARE(r.exit_code, exit_code);
        QVERIFY(r.out.isEmpty());
        QVERIFY(!r.err.isEmpty());
        if (failed.isEmpty())
            return;
        const QStringList lines = r.err.trimmed().split('\n');
        QCOMPARE(lines.size(), failed.size());
        for (const QString &name : failed)
            QVERIFY2(lines.filter(name).size() == 1, qPrintable(r.err));
    }

    void help_and_round_trip()
    {
        const Run help = cli({"--help"});
        QCOMPARE(help.exit_code, 0);
        QVERIFY(help.out.contains("encrypt [-C DIR] PATH..."));
        QVERIFY(help.out.contains("decrypt CONTAINER..."));

        make_file("work/in/sub/a, b.txt", "data");
        make_file("work/single.txt", "single");
        const bool pipe = make_pipe(path("work/in/pipe"));
        const Run enc = cli({"encrypt", "-C", path("base"), "in", "single.txt"}, path("work"));
        QCOMPARE(enc.exit_code, 0);
        // No progress line when stderr is not a terminal; what was left out is named.
        QCOMPARE(enc.err.count('\n'), pipe ? 1 : 0);
        QVERIFY2(!pipe || enc.err.contains("in/pipe"), qPrintable(enc.err));
        const QString container = enc.out.trimmed();
        QVERIFY(container.startsWith(path("base/AddData/")));
        QVERIFY(container.endsWith(".kvxdata"));

        const Run dec = cli({"decrypt", container});
        QCOMPARE(dec.exit_code, 0);
        const QString out = dec.out.trimmed();
        QCOMPARE(read_all(out + "/in/sub/a, b.txt"), QByteArray("data"));
        QCOMPARE(read_all(out + "/single.txt"), QByteArray("single"));

        // The default base is the current directory.
        const Run here = cli({"encrypt", "single.txt"}, path("work"));
        QCOMPARE(here.exit_code, 0);
        QVERIFY(here.out.trimmed().startsWith(path("work/AddData/")));
    }
};

QTEST_GUILESS_MAIN(Test_Cli)
#include "test_cli.moc"
