// corvanta-cli as a script sees it: output, exit status and messages.

#include "engine_test_support.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace test_support;

class Test_Cli : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;

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
    void help_and_usage_errors()
    {
        const Run help = cli({"--help"});
        QCOMPARE(help.exit_code, 0);
        QVERIFY(help.out.contains("encrypt [-C DIR] PATH..."));
        QVERIFY(help.out.contains("decrypt CONTAINER..."));
        for (const QStringList &args : {QStringList{}, QStringList{"frobnicate"}, QStringList{"encrypt"},
                                        QStringList{"decrypt"}, QStringList{"encrypt", "-C"},
                                        QStringList{"encrypt", "--bogus", "x"}}) {
            const Run r = cli(args);
            QCOMPARE(r.exit_code, 2);
            QVERIFY(r.out.isEmpty());
            QVERIFY(!r.err.isEmpty());
        }
    }

    void encrypt_then_decrypt()
    {
        QDir().mkpath(dir.filePath("work/in/sub"));
        QVERIFY(write_all(dir.filePath("work/in/sub/a, b.txt"), "data"));
        QVERIFY(write_all(dir.filePath("work/single.txt"), "single"));
        const Run enc = cli({"encrypt", "-C", dir.filePath("base"), "in", "single.txt"}, dir.filePath("work"));
        QCOMPARE(enc.exit_code, 0);
        QVERIFY(enc.err.isEmpty()); // no progress line when stderr is not a terminal
        const QString container = enc.out.trimmed();
        QVERIFY(container.startsWith(dir.filePath("base/AddData/")));
        QVERIFY(container.endsWith(".kvxdata"));
        QVERIFY(QFileInfo::exists(container));

        const Run dec = cli({"decrypt", container});
        QCOMPARE(dec.exit_code, 0);
        const QString out = dec.out.trimmed();
        QCOMPARE(read_all(out + "/in/sub/a, b.txt"), QByteArray("data"));
        QCOMPARE(read_all(out + "/single.txt"), QByteArray("single"));

        // The default base is the current directory.
        const Run here = cli({"encrypt", "single.txt"}, dir.filePath("work"));
        QCOMPARE(here.exit_code, 0);
        QVERIFY(here.out.trimmed().startsWith(dir.filePath("work/AddData/")));
    }

    void failures_exit_with_one_and_a_line_each()
    {
        QVERIFY(write_all(dir.filePath("junk.kvxdata"), QByteArray(10000, 'j')));
        const Run r = cli({"decrypt", dir.filePath("junk.kvxdata"), dir.filePath("absent.kvxdata")});
        QCOMPARE(r.exit_code, 1);
        const QStringList lines = r.err.trimmed().split('\n');
        QCOMPARE(lines.size(), 2);
        QVERIFY(lines[0].contains("absent.kvxdata") || lines[1].contains("absent.kvxdata"));
        QVERIFY(lines[0].contains("junk.kvxdata") || lines[1].contains("junk.kvxdata"));

        const Run enc = cli({"encrypt", "-C", dir.filePath("b2"), dir.filePath("nothing-here")});
        QCOMPARE(enc.exit_code, 1);
        QVERIFY(enc.out.isEmpty());
        QVERIFY(enc.err.contains("nothing-here"));
    }
};

QTEST_GUILESS_MAIN(Test_Cli)
#include "test_cli.moc"
