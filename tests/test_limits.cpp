// SPDX-License-Identifier: GPL-3.0-or-later
// corvanta-cli at the system's limits: a limit makes a run slower or makes
// it fail with its reason, never ends it by a signal or leaves debris.

#include "engine_test_support.h"

using namespace test_support;

namespace {

// corvanta-cli with resource limited to value, soft and hard limit alike.
Cli_Run cli_limited(decltype(RLIMIT_AS) resource, rlim_t value, const QStringList &args, const QString &working_dir,
                    const QStringList &env = {})
{
    return run_cli(args, working_dir, {}, env, [resource, value] {
        const rlimit limit{value, value};
        ::setrlimit(resource, &limit);
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
        if (under_sanitizer)
            QSKIP("the sanitizers need far more address space than the limits tried");
        for (int i = 0; i < 300; ++i)
            QVERIFY(write_file(path("tree/d%1/f%2.txt").arg(i % 7).arg(i), QByteArray::number(i).repeated(i + 1)));
        QVERIFY(write_file(path("tree/big.bin"), random_bytes(24 << 20, 5)));
        const QMap<QString, QByteArray> expected = tree(path("tree"));
        qint64 least = 16;
        while (cli_limited(RLIMIT_AS, rlim_t(least) << 20, {"--version"}, path(".")).exit_code != 0)
            QVERIFY2(++least < 400, "corvanta-cli does not start within 400 MB");
        int completed = 0;
        for (qint64 limit = least; limit <= least + 40 || limit <= 120; limit += 8) {
            const QString work = path(QStringLiteral("at%1").arg(limit));
            QVERIFY(QDir().mkpath(work));
            Cli_Run run = cli_limited(RLIMIT_AS, rlim_t(limit) << 20, {"encrypt", "-C", work, path("tree")}, work);
            const bool packed = run.exit_code == 0;
            const QString container = entries(work + "/AddData").value(0);
            if (packed)
                run = cli_limited(RLIMIT_AS, rlim_t(limit) << 20, {"decrypt", work + "/AddData/" + container}, work);
            QVERIFY2(run.exit_code == 0 || (limit < 120 && run.exit_code == 1 && run.err.contains("out of memory")),
                     qPrintable(QString::number(limit) + (packed ? " MB, decrypt: " : " MB, encrypt: ") + run.err));
            QCOMPARE(packed ? leftovers(work) : entries(work), QStringList());
            if (run.exit_code == 0) {
                QCOMPARE(tree(work + "/AddData/" + container.section('.', 0, 0) + "/tree"), expected);
                ++completed;
            }
        }
        QVERIFY(completed > 0);
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
            const Package_Result made = run_encryption({}, {source}, source + "-made");
            QVERIFY2(made.is_ok, qPrintable(made.errors.join('\n')));
            QVERIFY(QFile::rename(made.container_path, container));
        }
        const QString box = memory.path(QTest::currentDataTag());
        QVERIFY(QDir().mkpath(box) && QFile::copy(container, box + "/c.kvxdata"));
        const QStringList env = named_temporaries ? QStringList{"CORVANTA_NAMED_TEMPORARIES=1"} : QStringList();
        const Cli_Run run = cli_limited(RLIMIT_NOFILE, rlim_t(open_files), {"decrypt", box + "/c.kvxdata"}, box, env);
        QVERIFY2(run.exit_code == 0, qPrintable(run.err));
        QCOMPARE(tree(box + "/c/" + QString::number(files)), tree(source));
        QCOMPARE(leftovers(box), QStringList());
    }
};

QTEST_GUILESS_MAIN(Test_Limits)
#include "test_limits.moc"
