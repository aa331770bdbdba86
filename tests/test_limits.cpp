// SPDX-License-Identifier: GPL-3.0-or-later
// corvanta-cli at the system's limits: a limit makes a run slower or makes
// it fail with its reason, never ends it by a signal or leaves debris.

#include "engine_test_support.h"

using namespace test_support;

namespace {

// corvanta-cli with its address space limited to megabytes (0: no limit).
Cli_Run cli_within(qint64 megabytes, const QStringList &args, const QString &working_dir)
{
    return run_cli(args, working_dir, {}, {}, [megabytes] {
        const rlimit limit{rlim_t(megabytes) << 20, rlim_t(megabytes) << 20};
        if (megabytes > 0)
            ::setrlimit(RLIMIT_AS, &limit);
    });
}

// corvanta-cli under `ulimit -n open_files`: the hard and soft limit on open files.
Cli_Run cli_with_open_files(int open_files, const QStringList &args, const QString &working_dir, const QStringList &env = {})
{
    return run_cli(args, working_dir, {}, env, [open_files] {
        const rlimit limit{rlim_t(open_files), rlim_t(open_files)};
        ::setrlimit(RLIMIT_NOFILE, &limit);
    });
}

} // namespace

class Test_Limits : public QObject, Scratch
{
    Q_OBJECT

    Memory_Scratch memory; // thousands of files

private slots:
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
        while (cli_within(least, {"--version"}, path(".")).exit_code != 0)
            QVERIFY2(++least < 400, "corvanta-cli does not start within 400 MB");
        int completed = 0;
        for (qint64 limit = least; limit <= least + 40 || limit <= 120; limit += 8) {
            const QString tag = QStringLiteral("at%1").arg(limit);
            const QString work = path(tag);
            QVERIFY(QDir().mkpath(work));
            const Cli_Run packed = cli_within(limit, {"encrypt", "-C", work, path("tree")}, work);
            QVERIFY2(packed.exit_code >= 0, qPrintable(tag + ": encrypt ended by a signal\n" + packed.err));
            if (packed.exit_code != 0) {
                QVERIFY2(limit < 120, qPrintable(tag + ": " + packed.err));
                QVERIFY2(packed.exit_code == 1 && packed.err.contains("out of memory"), qPrintable(tag + ": " + packed.err));
                QCOMPARE(entries(work), QStringList());
                continue;
            }
            const QString container = entries(work + "/AddData").value(0);
            const Cli_Run unpacked = cli_within(limit, {"decrypt", work + "/AddData/" + container}, work);
            QVERIFY2(unpacked.exit_code >= 0, qPrintable(tag + ": decrypt ended by a signal\n" + unpacked.err));
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
        const QString source = memory.path(QString::number(files));
        const QString container = source + ".kvxdata";
        if (!QFileInfo::exists(container)) {
            for (int i = 0; i < files; ++i)
                QVERIFY(write_file(QStringLiteral("%1/d%2/f%3.txt").arg(source).arg(i % 40).arg(i),
                                   "line " + QByteArray::number(i) + "\n"));
            const Cli_Run made = cli_with_open_files(1024, {"encrypt", "-C", source + "-made", source}, source);
            QVERIFY2(made.exit_code == 0, qPrintable(made.err));
            QVERIFY(QFile::rename(source + "-made/AddData/" + entries(source + "-made/AddData").value(0), container));
        }
        const QString box = memory.path(QTest::currentDataTag());
        QVERIFY(QDir().mkpath(box) && QFile::copy(container, box + "/c.kvxdata"));
        const Cli_Run run = cli_with_open_files(open_files, {"decrypt", box + "/c.kvxdata"}, box,
                                                named_temporaries ? QStringList{"CORVANTA_NAMED_TEMPORARIES=1"} : QStringList());
        QVERIFY2(run.exit_code == 0, qPrintable(run.err));
        QCOMPARE(tree(box + "/c/" + QString::number(files)), tree(source));
        QCOMPARE(leftovers(box), QStringList());
    }
};

QTEST_GUILESS_MAIN(Test_Limits)
#include "test_limits.moc"
