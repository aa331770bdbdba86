// Encryption and decryption runs end to end: results, names, failures,
// clashes, progress and cancelling.

#include "engine_test_support.h"
#include "job_control.h"
#include "package_pipeline.h"

#include <QTest>
#include <QThread>

using namespace test_support;

class Test_Pipeline : public QObject, Scratch
{
    Q_OBJECT

    QString bulk_container;

private slots:
    // A folder of a few MB, partly compressible, so runs last long enough to
    // cancel, and its container.
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        for (int i = 0; i < 6; ++i) {
            QByteArray data = random_bytes(4 << 20, quint32(i));
            if (i % 2 == 0)
                for (char &c : data)
                    c = char('a' + (c & 15));
            make_file(QStringLiteral("bulk/f%1.dat").arg(i), data);
        }
        const Package_Result made = run_encryption({}, {path("bulk")}, path("made"));
        QVERIFY(made.is_ok);
        bulk_container = made.container_path;
    }

    void unusable_input_fails_and_leaves_nothing_data()
    {
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QString>("base");
        QTest::addColumn<QString>("culprit");
        QTest::newRow("missing file") << QStringList{path("ok.txt"), path("missing.txt")} << path("m") << "missing.txt";
        // The kernel's EIO while the file is read.
        QTest::newRow("read error") << QStringList{path("ok.txt"), "/proc/self/mem"} << path("m") << "/proc/self/mem";
        QTest::newRow("working folder is a file") << QStringList{path("ok.txt")} << path("blocker")
                                                   << "AddData: cannot create the working folder: Not a directory";
    }

    void unusable_input_fails_and_leaves_nothing()
    {
        QFETCH(QStringList, files);
        QFETCH(QString, base);
        QFETCH(QString, culprit);
        make_file("ok.txt", "ok");
        make_file("blocker/AddData", "a file where the working folder should be");
        if (files.contains("/proc/self/mem") && !QFileInfo::exists("/proc/self/mem"))
            QSKIP("no /proc here");
        const Package_Result r = run_encryption(files, {}, base);
        QVERIFY(!r.is_ok);
        const QString reason = r.to_variant_map().value("reason").toString();
        QVERIFY2(reason.contains(culprit), qPrintable(reason));
        QVERIFY(entries(base + "/AddData").isEmpty() && leftovers(base).isEmpty());
        QCOMPARE(read_all(path("blocker/AddData")), QByteArray("a file where the working folder should be"));
    }

    void foreign_and_damaged_containers_fail_plainly()
    {
        const QString folder = path("bad");
        make_file(folder + "/noise.kvxdata", random_bytes(50000, 2));
        QVERIFY(write_zip(folder + "/foreign.kvxdata", {{"a.txt", QByteArray(9000, 'a')}})); // a plain zip
        QVERIFY(write_container(folder + "/whole.kvxdata", {{"a.txt", QByteArray(9000, 'a')}}));
        const QByteArray whole = read_all(folder + "/whole.kvxdata");
        QVERIFY(write_file(folder + "/truncated.kvxdata", whole.left(whole.size() - 30)));
        QVERIFY(write_file(folder + "/empty.kvxdata", ""));

        const QMap<QString, QByteArray> before = tree(folder);
        for (const QString name : {"noise", "foreign", "truncated", "empty"}) {
            const Package_Result r = run_decryption({folder + "/" + name + ".kvxdata"});
            QVERIFY2(!r.is_ok && r.errors.join('\n').contains(name + ".kvxdata"),
                     qPrintable(name + ": " + r.errors.join('\n')));
        }
        // The containers unchanged, no stray empty folder.
        QCOMPARE(tree(folder), before);
        // One bad container does not stop the good one, but the run is not a success.
        const Package_Result mixed = run_decryption({folder + "/noise.kvxdata", folder + "/whole.kvxdata"});
        QVERIFY(!mixed.is_ok);
        QCOMPARE(read_all(folder + "/whole/a.txt"), QByteArray(9000, 'a'));
        QVERIFY(leftovers(folder).isEmpty());
    }

    // Each container unpacks beside it into the folder named by its base name;
    // containers sharing a base name share the folder, taken in ascending order.
    void destination_folders_never_overwrite()
    {
        const QString folder = path("dest");
        QDir().mkpath(folder);
        for (const char *name : {".kvxdata", "noext"})
            QVERIFY(write_container(folder + "/" + QLatin1String(name), {{"inside.txt", "inside"}}));
        QVERIFY(write_container(folder + "/a.1.kvxdata", {{"doc.txt", "first"}}));
        QVERIFY(write_container(folder + "/a.2.kvxdata", {{"doc.txt", "second"}}));
        // Names without a base never unpack onto themselves or into the folder.
        QMap<QString, QByteArray> expected = tree(folder);
        expected.insert({{"a", "/"}, {"a/doc.txt", "first"}, {"a/doc (2).txt", "second"}, {"kvxdata contents", "/"},
                         {"kvxdata contents/inside.txt", "inside"}, {"noext contents", "/"},
                         {"noext contents/inside.txt", "inside"}});
        const Package_Result r = run_decryption(
            {folder + "/a.2.kvxdata", folder + "/noext", folder + "/a.1.kvxdata", folder + "/.kvxdata"});
        QVERIFY2(r.is_ok, qPrintable(r.errors.join('\n')));
        QCOMPARE(tree(folder), expected);
    }

    void progress_and_cancel_data()
    {
        QTest::addColumn<bool>("encrypt");
        QTest::addColumn<int>("cancel_at"); // the report that cancels; -1: before the start, -2: never
        QTest::newRow("encryption, to the end") << true << -2;
        QTest::newRow("decryption, to the end") << false << -2;
        QTest::newRow("encryption, cancelled before the start") << true << -1;
        QTest::newRow("encryption, cancelled at the second report") << true << 1;
        QTest::newRow("encryption, cancelled at the fourth report") << true << 3;
        QTest::newRow("decryption, cancelled at the second report") << false << 1;
    }

    // Progress climbs, never back, to the total, in a bounded number of
    // reports; a cancel at any point leaves nothing half written.
    void progress_and_cancel()
    {
        QFETCH(bool, encrypt);
        QFETCH(int, cancel_at);
        Job_Control control;
        qint64 last_done = -1, last_total = -1, calls = 0;
        bool monotonic = true;
        control.set_progress_handler([&](qint64 d, qint64 t) {
            monotonic = monotonic && d >= last_done;
            last_done = d;
            last_total = t;
            if (calls++ == cancel_at)
                control.cancel();
            else if (cancel_at >= 0)
                QThread::msleep(20); // holds the run up, so a fast machine still reaches the report
        });
        if (cancel_at == -1)
            control.cancel();
        const QString base = path(QStringLiteral("runs/") + QTest::currentDataTag());
        const Package_Result r = encrypt ? run_encryption({}, {path("bulk")}, base, &control)
                                         : run_decryption({bulk_container}, &control);
        if (cancel_at == -2) {
            QVERIFY2(r.is_ok, qPrintable(r.errors.join('\n')));
            QVERIFY(calls > 2 && calls < 2000 && monotonic && last_total > 0);
            QCOMPARE(last_done, last_total);
            for (const QString &folder : r.output_folders)
                QVERIFY(QDir(folder).removeRecursively());
            return;
        }
        QVERIFY(!r.is_ok && r.is_cancelled);
        QVERIFY(entries(base + "/AddData").isEmpty());
        QCOMPARE(leftovers(base) + leftovers(path("made")), QStringList());
        // Beside the container, not even an empty folder stays.
        QCOMPARE(tree(QFileInfo(bulk_container).path()).keys(), QStringList(QFileInfo(bulk_container).fileName()));
    }
};

QTEST_GUILESS_MAIN(Test_Pipeline)
#include "test_pipeline.moc"
