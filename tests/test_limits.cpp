// SPDX-License-Identifier: GPL-3.0-or-later
// corvanta-cli at the system's limits: a limit makes a run slower or makes
// it fail with its reason, never ends it by a signal or leaves debris.

#include "engine_test_support.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

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

// corvanta-cli under `ulimit -n open_files`: the hard and soft limit on
// open files. Killed when it hangs.
Run cli_with_open_files(int open_files, const QStringList &args, const QString &working_dir, QProcessEnvironment env)
{
    QProcess p;
    p.setWorkingDirectory(working_dir);
    p.setProcessEnvironment(env);
    p.setChildProcessModifier([open_files] {
        const rlimit limit{rlim_t(open_files), rlim_t(open_files)};
        ::setrlimit(RLIMIT_NOFILE, &limit);
    });
    p.start(QStringLiteral(CORVANTA_CLI_PATH), args);
    if (!p.waitForFinished(120000)) {
        p.kill();
        p.waitForFinished();
        return {false, -1, QStringLiteral("hangs")};
    }
    return {p.exitStatus() == QProcess::NormalExit, p.exitCode(), QString::fromLocal8Bit(p.readAllStandardError())};
}

} // namespace

class Test_Limits : public QObject, Scratch
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> memory_scratch;

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

    void open_file_limits_slow_down_never_stop_data()
    {
        QTest::addColumn<int>("open_files");
        QTest::addColumn<int>("files");
        QTest::addColumn<bool>("named_temporaries");
        for (const int open_files : {32, 64, 128, 200})
            for (const int files : {70, 5000})
                QTest::addRow("ulimit -n %d, %d files", open_files, files) << open_files << files << false;
        QTest::newRow("ulimit -n 32, 5000 files, named temporaries") << 32 << 5000 << true;
    }

    // Under a low open-file limit decrypt completes, every file byte for
    // byte, with both kinds of temporaries.
    void open_file_limits_slow_down_never_stop()
    {
        QFETCH(int, open_files);
        QFETCH(int, files);
        QFETCH(bool, named_temporaries);
        // Thousands of files go where the disk does not slow them down.
        if (!memory_scratch)
            memory_scratch = std::make_unique<QTemporaryDir>(QDir("/dev/shm").exists() ? "/dev/shm/corvanta-test-XXXXXX"
                                                                                      : path("memory-XXXXXX"));
        const QString source = memory_scratch->path() + QStringLiteral("/%1").arg(files);
        const QString container = source + ".kvxdata";
        if (!QFileInfo::exists(container)) {
            for (int i = 0; i < files; ++i)
                QVERIFY(write_file(QStringLiteral("%1/d%2/f%3.txt").arg(source).arg(i % 40).arg(i),
                                   "line " + QByteArray::number(i) + "\n"));
            const Run made = cli_with_open_files(1024, {"encrypt", "-C", source + "-made", source}, source,
                                                 QProcessEnvironment::systemEnvironment());
            QVERIFY2(made.exit_code == 0, qPrintable(made.err));
            QVERIFY(QFile::rename(source + "-made/AddData/" + entries(source + "-made/AddData").value(0), container));
        }
        const QString box = memory_scratch->path() + '/' + QTest::currentDataTag();
        QVERIFY(QDir().mkpath(box) && QFile::copy(container, box + "/c.kvxdata"));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        if (named_temporaries)
            env.insert("CORVANTA_NAMED_TEMPORARIES", "1");
        const Run run = cli_with_open_files(open_files, {"decrypt", box + "/c.kvxdata"}, box, env);
        QVERIFY2(run.exited && run.exit_code == 0, qPrintable(run.err));
        QCOMPARE(tree(box + "/c/" + QString::number(files)), tree(source));
        QCOMPARE(leftovers(box), QStringList());
    }
};

QTEST_GUILESS_MAIN(Test_Limits)
#include "test_limits.moc"
