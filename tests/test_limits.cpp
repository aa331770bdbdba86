// corvanta-cli at the system's limits: a limit makes a run slower or makes
// it fail with its reason, never ends it by a signal or leaves debris.

#include "engine_test_support.h"

#include <QProcess>
#include <QTest>

#include <sys/resource.h>

using namespace test_support;

namespace {

struct Run
{
    bool exited = false; // normally, not by a signal
    int exit_code = -1;
    QString err;
};

// corvanta-cli with its address space limited to megabytes (0: no limit).
Run cli_within(qint64 megabytes, const QStringList &args, const QString &working_dir)
{
    QProcess p;
    p.setWorkingDirectory(working_dir);
    p.setChildProcessModifier([megabytes] {
        if (megabytes > 0) {
            const rlimit limit{rlim_t(megabytes) << 20, rlim_t(megabytes) << 20};
            ::setrlimit(RLIMIT_AS, &limit);
        }
    });
    p.start(QStringLiteral(CORVANTA_CLI_PATH), args);
    p.waitForFinished(300000);
    return {p.exitStatus() == QProcess::NormalExit, p.exitCode(), QString::fromLocal8Bit(p.readAllStandardError())};
}

} // namespace

class Test_Limits : public QObject, Scratch
{
    Q_OBJECT

private slots:
    void init() { QVERIFY(dir.isValid()); }

    // From the least address space the program starts in, up in steps: each
    // run packs and unpacks the tree, or fails saying it ran out of memory,
    // and then leaves no working folder or temporary (a failed unpacking keeps
    // the files it finished, as a cancelled one does). From 120 MB on both complete. (The sanitizers reserve more address space
    // than any limit allows, so their builds leave this out.)
    void memory_limits_slow_down_or_fail_cleanly()
    {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
        QSKIP("the sanitizers need far more address space than the limits tried");
#else
        for (int i = 0; i < 300; ++i)
            QVERIFY(write_file(path("tree/d%1/f%2.txt").arg(i % 7).arg(i), QByteArray::number(i).repeated(i + 1)));
        QVERIFY(write_file(path("tree/big.bin"), random_bytes(24 << 20, 5)));
        const QMap<QString, QByteArray> expected = tree(path("tree"));
        qint64 least = 16;
        while (!cli_within(least, {"--version"}, path(".")).exited || cli_within(least, {"--version"}, path(".")).exit_code != 0)
            QVERIFY2(++least < 400, "corvanta-cli does not start within 400 MB");
        int completed = 0;
        for (qint64 limit = least; limit <= least + 40 || limit <= 120; limit += 8) {
            const QString tag = QStringLiteral("at%1").arg(limit);
            const QString work = path(tag);
            QVERIFY(QDir().mkpath(work));
            const Run packed = cli_within(limit, {"encrypt", "-C", work, path("tree")}, work);
            QVERIFY2(packed.exited, qPrintable(tag + ": encrypt ended by a signal\n" + packed.err));
            if (packed.exit_code != 0) {
                QVERIFY2(limit < 120, qPrintable(tag + ": " + packed.err));
                QVERIFY2(packed.exit_code == 1 && packed.err.contains("out of memory"), qPrintable(tag + ": " + packed.err));
                QCOMPARE(entries(work), QStringList());
                continue;
            }
            const QString container = entries(work + "/AddData").value(0);
            const Run unpacked = cli_within(limit, {"decrypt", work + "/AddData/" + container}, work);
            QVERIFY2(unpacked.exited, qPrintable(tag + ": decrypt ended by a signal\n" + unpacked.err));
            const QString out = work + "/AddData/" + container.section('.', 0, 0);
            if (unpacked.exit_code != 0) {
                QVERIFY2(limit < 120, qPrintable(tag + ": " + unpacked.err));
                QVERIFY2(unpacked.exit_code == 1 && unpacked.err.contains("out of memory"),
                         qPrintable(tag + ": " + unpacked.err));
                QCOMPARE(leftovers(work), QStringList());
                continue;
            }
            QCOMPARE(tree(out + "/tree"), expected);
            ++completed;
        }
        QVERIFY(completed > 0);
#endif
    }
};

QTEST_GUILESS_MAIN(Test_Limits)
#include "test_limits.moc"
