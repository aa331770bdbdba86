// SPDX-License-Identifier: GPL-3.0-or-later
// Encryption and decryption runs end to end: results, names, failures,
// clashes, progress and cancelling.

#include "engine_test_support.h"

#include <QLocale>
#include <QtEndian>

#include <atomic>
#include <thread>

using namespace test_support;

namespace {

// A clock for runs that must wait for the next second: it moves on at once.
// A second passes between any two looks at it, so progress is never held
// back for time: every step of it is reported, however fast the run.
class Quick_Clock : public Run_Clock
{
public:
    explicit Quick_Clock(const QDateTime &start = QDateTime::currentDateTime()) : start(start) {}
    QDateTime now() override { return start.addSecs(seconds); }
    void wait_for_next_second() override { ++seconds; }
    qint64 monotonic_ms() override { return ms += 1000; }

private:
    QDateTime start;
    int seconds = 0;
    qint64 ms = 0;
};

// The byte ranges of an archive's headers: each local header and central
// entry with its name and extra field, and the end record.
QList<std::pair<qsizetype, qsizetype>> header_ranges(const QByteArray &zip)
{
    const auto u16 = [&](qsizetype i) { return qsizetype(qFromLittleEndian<quint16>(zip.constData() + i)); };
    const auto u32 = [&](qsizetype i) { return qsizetype(qFromLittleEndian<quint32>(zip.constData() + i)); };
    QList<std::pair<qsizetype, qsizetype>> ranges;
    const qsizetype end = zip.lastIndexOf("PK\x05\x06");
    for (qsizetype at = u32(end + 16); at < end;) {
        const qsizetype length = 46 + u16(at + 28) + u16(at + 30) + u16(at + 32);
        const qsizetype local = u32(at + 42);
        ranges.append({at, at + length});
        ranges.append({local, local + 30 + u16(local + 26) + u16(local + 28)});
        at += length;
    }
    ranges.append({end, zip.size()});
    return ranges;
}

QString container_name(const QDateTime &t)
{
    return t.toString("yyyyMMdd__hhmmss_") + QLocale::system().dayName(t.date().dayOfWeek(), QLocale::ShortFormat)
           + ".kvxdata";
}

} // namespace

class Test_Pipeline : public QObject, Scratch
{
    Q_OBJECT

    QString bulk_container;
    Memory_Scratch memory;

private slots:
    // A folder of a few MB, partly compressible, so runs last long enough to
    // cancel, and its container.
    void initTestCase()
    {
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
        const QString reason = r.errors.join('\n');
        QVERIFY2(reason.contains(culprit), qPrintable(reason));
        QVERIFY(entries(base + "/AddData").isEmpty() && leftovers(base).isEmpty());
        QCOMPARE(read_all(path("blocker/AddData")), QByteArray("a file where the working folder should be"));
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

    // Encryptions started at the same second each get a container of their
    // own, whole; users' files under this second's and the next second's
    // names stay as they are.
    void simultaneous_encryptions()
    {
        const QString root = path("sim-enc");
        for (int i = 0; i < 10; ++i)
            make_file(QStringLiteral("%1/shared/f%2.txt").arg(root).arg(i), random_bytes(20000, quint32(i)));
        const QDateTime start = QDateTime::currentDateTime();
        for (const QDateTime &t : {start, start.addSecs(1)})
            make_file(root + "/AddData/" + container_name(t), "user's");
        std::vector<Package_Result> results(8);
        {
            std::vector<std::jthread> runs;
            for (size_t i = 0; i < results.size(); ++i) {
                make_file(QStringLiteral("%1/own%2.txt").arg(root).arg(i), QByteArray::number(qulonglong(i)));
                runs.emplace_back([&, i] {
                    Quick_Clock clock(start);
                    Job_Control control;
                    control.set_clock(&clock);
                    results[i] = run_encryption({QStringLiteral("%1/own%2.txt").arg(root).arg(i)}, {root + "/shared"},
                                                root, &control);
                });
            }
        }
        QSet<QString> containers;
        for (size_t i = 0; i < results.size(); ++i) {
            QVERIFY2(results[i].is_ok, qPrintable(results[i].errors.join('\n')));
            containers.insert(results[i].container_path);
            const Package_Result back = run_decryption({results[i].container_path});
            QVERIFY2(back.is_ok, qPrintable(back.errors.join('\n')));
            QCOMPARE(read_all(back.output_folders.value(0) + QStringLiteral("/own%1.txt").arg(i)), QByteArray::number(qulonglong(i)));
            QCOMPARE(tree(back.output_folders.value(0) + "/shared"), tree(root + "/shared"));
        }
        QCOMPARE(containers.size(), int(results.size()));
        for (const QDateTime &t : {start, start.addSecs(1)})
            QCOMPARE(read_all(root + "/AddData/" + container_name(t)), QByteArray("user's"));
    }

    void progress_and_cancel_data()
    {
        QTest::addColumn<bool>("encrypt");
        QTest::addColumn<int>("cancel_at"); // the report that cancels; -1: before the start, -2: never
        QTest::newRow("encryption, to the end") << true << -2;
        QTest::newRow("decryption, to the end") << false << -2;
        QTest::newRow("encryption, cancelled before the start") << true << -1;
        QTest::newRow("encryption, cancelled at the second report") << true << 1;
    }

    // Progress climbs, never back, to the total, in a bounded number of
    // reports; a cancelled encryption leaves nothing at all (with named
    // temporaries too: test_cli's killed_run_leaves_nothing_behind).
    void progress_and_cancel()
    {
        QFETCH(bool, encrypt);
        QFETCH(int, cancel_at);
        Job_Control control;
        Quick_Clock clock;
        control.set_clock(&clock);
        qint64 last_done = -1, last_total = -1, calls = 0;
        bool monotonic = true;
        control.set_progress_handler([&](qint64 d, qint64 t) {
            monotonic = monotonic && d >= last_done;
            last_done = d;
            last_total = t;
            if (calls++ == cancel_at)
                control.cancel();
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
        QVERIFY(!QFileInfo::exists(base + "/AddData") && leftovers(path("made")).isEmpty());
    }

    // A decryption cancelled as its first file is complete keeps whole files
    // only; started again, and again, it completes the tree exactly, with no
    // numbered copies, and says what was already there. A file the user
    // changed is never overwritten: the container's comes beside it, numbered.
    void cancelled_decryption_resumes()
    {
        const QString folder = QFileInfo(bulk_container).path();
        Job_Control control;
        control.set_point_handler([&](Run_Point point) {
            if (point == Run_Point::File_Unpacked)
                control.cancel();
        });
        const Package_Result cancelled = run_decryption({bulk_container}, &control);
        QVERIFY(!cancelled.is_ok && cancelled.is_cancelled);
        const QString out = folder + "/" + QFileInfo(bulk_container).completeBaseName().section('.', 0, 0);
        const QMap<QString, QByteArray> source = tree(path("bulk")), kept = tree(out + "/bulk");
        QVERIFY(!kept.isEmpty() && kept.size() < source.size());
        for (auto it = kept.cbegin(); it != kept.cend(); ++it)
            QCOMPARE(it.value(), source.value(it.key()));
        QCOMPARE(leftovers(folder), QStringList());

        const Package_Result resumed = run_decryption({bulk_container});
        QVERIFY2(resumed.is_ok, qPrintable(resumed.errors.join('\n')));
        QCOMPARE(tree(out + "/bulk"), source);
        QCOMPARE(resumed.files_already_there + resumed.files_written, qint64(source.size()));
        QCOMPARE(resumed.files_already_there, qint64(kept.size()));
        QCOMPARE(mode_and_time(out + "/bulk"), mode_and_time(path("bulk")));

        const Package_Result again = run_decryption({bulk_container});
        QVERIFY(again.is_ok && again.files_written == 0 && again.kept_beside.isEmpty());
        QCOMPARE(again.files_already_there, qint64(source.size()));
        QCOMPARE(tree(out + "/bulk"), source);

        QVERIFY(write_file(out + "/bulk/f1.dat", "changed by the user"));
        const Package_Result changed = run_decryption({bulk_container});
        QVERIFY2(changed.is_ok && changed.files_written == 1, qPrintable(changed.errors.join('\n')));
        QCOMPARE(read_all(out + "/bulk/f1.dat"), QByteArray("changed by the user"));
        QCOMPARE(read_all(out + "/bulk/f1 (2).dat"), source.value("f1.dat"));
        QCOMPARE(changed.kept_beside, QStringList(out + "/bulk/f1 (2).dat"));
        QVERIFY(QDir(out).removeRecursively());
    }

    // A bit flipped anywhere in the headers never unpacks as a success with
    // another tree (names, content, link targets, times): either the same
    // tree comes out or the damage is reported. Every header byte is flipped
    // once, each at another bit.
    void header_damage_never_passes_as_sound()
    {
        const QString src = path("flip/src");
        make_file("flip/src/a.txt", "some text, some text, some text");
        make_file("flip/src/sub/b.txt", "b");
        QVERIFY(write_raw(QFile::encodeName(src) + "/caf\xe9.txt", "latin"));
        QVERIFY(QFile::link("sub", src + "/to-sub"));
        for (const QString rel : {"/a.txt", "/sub/b.txt", "/sub", ""})
            set_mode_and_time(src + rel, 0755, 1500000001);
        const Package_Result made = run_encryption({}, {src}, path("flip/made"));
        QVERIFY(made.is_ok);
        const QByteArray zip = transformed(read_all(made.container_path), Cipher_Direction::Decrypt);
        const QString box = memory.path("flip");
        const auto unpack = [&](const QByteArray &archive, QMap<QByteArray, QByteArray> *out) {
            QDir(box + "/c").removeRecursively();
            write_file(box + "/c.kvxdata", transformed(archive, Cipher_Direction::Encrypt));
            const bool ok = run_decryption({box + "/c.kvxdata"}).is_ok;
            *out = raw_tree(QFile::encodeName(box + "/c"));
            for (auto it = out->begin(); it != out->end(); ++it)
                it.value() += " @" + QByteArray::number(qint64(QFileInfo(QFile::decodeName(QFile::encodeName(box + "/c/") + it.key())).lastModified().toSecsSinceEpoch()));
            return ok;
        };
        QMap<QByteArray, QByteArray> sound, flipped;
        QVERIFY(unpack(zip, &sound));
        int flips = 0;
        for (const auto &[start, end] : header_ranges(zip)) {
            for (qsizetype at = start; at < end; ++at, ++flips) {
                QByteArray damaged = zip;
                damaged[at] = char(damaged[at] ^ (1 << (at % 8)));
                if (unpack(damaged, &flipped))
                    QVERIFY2(flipped == sound, qPrintable(QStringLiteral("byte %1 flipped").arg(at)));
            }
        }
        QVERIFY(flips > 500);
    }
};

QTEST_GUILESS_MAIN(Test_Pipeline)
#include "test_pipeline.moc"
