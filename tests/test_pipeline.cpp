// Encryption and decryption runs end to end: results, names, failures,
// clashes and cancelling.

#include "engine_test_support.h"
#include "job_control.h"
#include "package_pipeline.h"

#include <QDateTime>
#include <QLocale>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <thread>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

using namespace test_support;

namespace {

QStringList containers_in(const QString &folder)
{
    return QDir(folder).entryList({"*.kvxdata"}, QDir::Files | QDir::Hidden);
}

QString stamp_at(const QDateTime &t)
{
    return t.toString("yyyyMMdd__hhmmss_") + QLocale::system().dayName(t.date().dayOfWeek(), QLocale::ShortFormat);
}

} // namespace

class Test_Pipeline : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    QString path(const QString &rel) const { return dir.filePath(rel); }

    void make_file(const QString &rel, const QByteArray &data)
    {
        QDir().mkpath(QFileInfo(path(rel)).absolutePath());
        QVERIFY(write_all(path(rel), data));
    }

    // A folder of a few MB, partly compressible, so runs last long enough to cancel.
    void make_bulk(const QString &rel)
    {
        QRandomGenerator rng(42);
        for (int i = 0; i < 6; ++i) {
            QByteArray data(4 << 20, Qt::Uninitialized);
            for (qsizetype k = 0; k < data.size(); ++k)
                data[k] = char(i % 2 ? rng.bounded(256) : 'a' + rng.bounded(4));
            make_file(QStringLiteral("%1/f%2.dat").arg(rel).arg(i), data);
        }
    }

private slots:
    void init() { QVERIFY(dir.isValid()); }

    void encryption_round_trip()
    {
        make_file("src/a.txt", "alpha");
        make_file("src/sub/b.txt", QByteArray(70000, 'b'));
        QDir().mkpath(path("src/empty"));
        make_file("loose, file.txt", "loose");
        const QString base = path("base");
        QVERIFY(!QFileInfo::exists(base + "/AddData"));

        const Package_Result enc = run_encryption({path("loose, file.txt")}, {path("src")}, base);
        QVERIFY2(enc.is_ok, qPrintable(enc.errors.join('\n')));
        const QVariantMap map = enc.to_variant_map();
        QCOMPARE(map.value("is_encryption").toBool(), true);
        QCOMPARE(map.value("is_ok").toBool(), true);
        QCOMPARE(map.value("reason").toString(), QString());

        // The working folder is made when missing; only the container is left in it.
        const QFileInfo container(enc.container_path);
        QCOMPARE(container.absolutePath(), QFileInfo(base + "/AddData").absoluteFilePath());
        QVERIFY(QRegularExpression(R"(^\d{8}__\d{6}_[^./]+\.?\.kvxdata$)").match(container.fileName()).hasMatch());
        QCOMPARE(QDir(base + "/AddData").entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                 QStringList({container.fileName()}));

        const Package_Result dec = run_decryption({enc.container_path});
        QVERIFY2(dec.is_ok, qPrintable(dec.errors.join('\n')));
        QCOMPARE(dec.to_variant_map().value("is_encryption").toBool(), false);
        const QString out = base + "/AddData/" + container.fileName().section('.', 0, 0);
        QCOMPARE(dec.output_folders, QStringList({out}));
        QCOMPARE(tree(out + "/src"), tree(path("src")));
        QCOMPARE(read_all(out + "/loose, file.txt"), QByteArray("loose"));
        QVERIFY(QFileInfo::exists(enc.container_path));
        QVERIFY(leftovers(base).isEmpty());
    }

    void missing_or_unreadable_input_fails_and_leaves_nothing()
    {
        make_file("ok.txt", "ok");
        Package_Result r = run_encryption({path("ok.txt"), path("missing.txt")}, {}, path("m"));
        QVERIFY(!r.is_ok);
        QVERIFY(r.to_variant_map().value("reason").toString().contains("missing.txt"));
        QVERIFY(containers_in(path("m/AddData")).isEmpty());
        QVERIFY(leftovers(path("m")).isEmpty());

        // A file that fails while it is read (here the kernel's EIO) fails the run.
        if (QFileInfo::exists("/proc/self/mem")) {
            r = run_encryption({path("ok.txt"), "/proc/self/mem"}, {}, path("m"));
            QVERIFY(!r.is_ok);
            QVERIFY2(r.errors.join('\n').contains("/proc/self/mem"), qPrintable(r.errors.join('\n')));
            QVERIFY(containers_in(path("m/AddData")).isEmpty());
            QVERIFY(leftovers(path("m")).isEmpty());
        }
#ifdef Q_OS_UNIX
        if (::geteuid() != 0) {
            make_file("locked.txt", "secret");
            QFile::setPermissions(path("locked.txt"), QFileDevice::Permissions());
            r = run_encryption({path("locked.txt")}, {}, path("m"));
            QVERIFY(!r.is_ok);
            QVERIFY(containers_in(path("m/AddData")).isEmpty());
        }
#endif
        r = run_encryption({}, {}, path("m"));
        QVERIFY(!r.is_ok);
        QVERIFY(!r.errors.isEmpty());
    }

    void working_folder_that_cannot_be_made_fails()
    {
        make_file("blocker/AddData", "a file where the working folder should be");
        make_file("x.txt", "x");
        const Package_Result r = run_encryption({path("x.txt")}, {}, path("blocker"));
        QVERIFY(!r.is_ok);
        QCOMPARE(read_all(path("blocker/AddData")), QByteArray("a file where the working folder should be"));
    }

    void runs_never_replace_a_container()
    {
        make_file("c.txt", "c");
        const QString work = path("clash/AddData");
        QDir().mkpath(work);
        // Users' files under this second's and the next second's names stay as they are.
        const QDateTime now = QDateTime::currentDateTime();
        const QStringList mine = {stamp_at(now) + ".kvxdata", stamp_at(now.addSecs(1)) + ".kvxdata"};
        for (const QString &m : mine)
            QVERIFY(write_all(work + "/" + m, "user's"));
        Package_Result first, second;
        std::thread t([&] { first = run_encryption({path("c.txt")}, {}, path("clash")); });
        second = run_encryption({path("c.txt")}, {}, path("clash"));
        t.join();
        QVERIFY2(first.is_ok && second.is_ok, qPrintable(first.errors.join('\n') + second.errors.join('\n')));
        QVERIFY(first.container_path != second.container_path);
        for (const QString &m : mine)
            QCOMPARE(read_all(work + "/" + m), QByteArray("user's"));
        QCOMPARE(containers_in(work).size(), 4);
        QVERIFY(leftovers(path("clash")).isEmpty());
    }

    void foreign_and_damaged_containers_fail_plainly()
    {
        const QString folder = path("bad");
        QDir().mkpath(folder);
        QByteArray noise(50000, Qt::Uninitialized);
        for (char &c : noise)
            c = char(QRandomGenerator::global()->bounded(256));
        QVERIFY(write_all(folder + "/noise.kvxdata", noise));
        QVERIFY(write_zip(folder + "/plain.zip", {{"a.txt", QByteArray(9000, 'a')}}));
        QVERIFY(write_all(folder + "/foreign.kvxdata", read_all(folder + "/plain.zip")));
        QVERIFY(make_container(folder + "/plain.zip", folder + "/whole.kvxdata"));
        QByteArray whole = read_all(folder + "/whole.kvxdata");
        QVERIFY(write_all(folder + "/truncated.kvxdata", whole.left(whole.size() - 30)));
        QVERIFY(write_all(folder + "/empty.kvxdata", ""));

        for (const QString name : {"noise", "foreign", "truncated", "empty"}) {
            const QString c = folder + "/" + name + ".kvxdata";
            const QByteArray before = read_all(c);
            const Package_Result r = run_decryption({c});
            QVERIFY2(!r.is_ok, qPrintable(name));
            QVERIFY2(r.errors.join('\n').contains(name + ".kvxdata"), qPrintable(r.errors.join('\n')));
            QCOMPARE(read_all(c), before);
            QVERIFY2(!QFileInfo::exists(folder + "/" + name), qPrintable(name)); // no stray empty folder
        }
        // One bad container does not stop the good one, but the run is not a success.
        const Package_Result mixed = run_decryption({folder + "/noise.kvxdata", folder + "/whole.kvxdata"});
        QVERIFY(!mixed.is_ok);
        QCOMPARE(read_all(folder + "/whole/a.txt"), QByteArray(9000, 'a'));
        QVERIFY(leftovers(folder).isEmpty());
    }

    void names_without_a_base_never_unpack_onto_themselves()
    {
        const QString folder = path("odd");
        QDir().mkpath(folder);
        QVERIFY(write_zip(path("one.zip"), {{"inside.txt", "inside"}}));
        QVERIFY(make_container(path("one.zip"), folder + "/.kvxdata"));
        QVERIFY(make_container(path("one.zip"), folder + "/noext"));
        const QByteArray container_bytes = read_all(folder + "/noext");

        const Package_Result r = run_decryption({folder + "/.kvxdata", folder + "/noext"});
        QVERIFY2(r.is_ok, qPrintable(r.errors.join('\n')));
        QCOMPARE(read_all(folder + "/kvxdata contents/inside.txt"), QByteArray("inside"));
        QCOMPARE(read_all(folder + "/noext contents/inside.txt"), QByteArray("inside"));
        QCOMPARE(read_all(folder + "/noext"), container_bytes);
        QVERIFY(!QFileInfo::exists(folder + "/inside.txt"));
    }

    void same_base_name_shares_a_folder_without_overwriting()
    {
        const QString folder = path("same");
        QDir().mkpath(folder);
        QVERIFY(write_zip(path("v1.zip"), {{"doc.txt", "first"}}));
        QVERIFY(write_zip(path("v2.zip"), {{"doc.txt", "second"}}));
        QVERIFY(make_container(path("v1.zip"), folder + "/a.1.kvxdata"));
        QVERIFY(make_container(path("v2.zip"), folder + "/a.2.kvxdata"));
        // Given out of order: containers are taken in ascending order.
        const Package_Result r = run_decryption({folder + "/a.2.kvxdata", folder + "/a.1.kvxdata"});
        QVERIFY2(r.is_ok, qPrintable(r.errors.join('\n')));
        QCOMPARE(read_all(folder + "/a/doc.txt"), QByteArray("first"));
        QCOMPARE(read_all(folder + "/a/doc (2).txt"), QByteArray("second"));
        // A second decryption keeps everything and adds numbered copies.
        QVERIFY(run_decryption({folder + "/a.1.kvxdata"}).is_ok);
        QCOMPARE(read_all(folder + "/a/doc.txt"), QByteArray("first"));
        QCOMPARE(read_all(folder + "/a/doc (3).txt"), QByteArray("first"));
    }

    void progress_reaches_the_total()
    {
        make_bulk("bulk");
        for (bool encrypt : {true, false}) {
            static QString container;
            Job_Control control;
            qint64 last_done = -1, last_total = -1, calls = 0;
            bool monotonic = true;
            control.set_progress_handler([&](qint64 d, qint64 t) {
                monotonic = monotonic && d >= last_done;
                last_done = d;
                last_total = t;
                ++calls;
            });
            Package_Result r = encrypt ? run_encryption({}, {path("bulk")}, path("p"), &control)
                                       : run_decryption({container}, &control);
            QVERIFY2(r.is_ok, qPrintable(r.errors.join('\n')));
            if (encrypt)
                container = r.container_path;
            QVERIFY(calls > 2);
            QVERIFY(calls < 2000);
            QVERIFY(monotonic);
            QVERIFY(last_total > 0);
            QCOMPARE(last_done, last_total);
        }
    }

    void cancel_leaves_no_container_and_no_temporary_file()
    {
        make_bulk("bulk");
        for (int at_call : {0, 1, 5}) {
            Job_Control control;
            int calls = 0;
            control.set_progress_handler([&](qint64, qint64) {
                if (calls++ == at_call)
                    control.cancel();
            });
            if (at_call == 0)
                control.cancel();
            const Package_Result r = run_encryption({}, {path("bulk")}, path("cancel"), &control);
            QVERIFY(!r.is_ok);
            QVERIFY(r.is_cancelled);
            QVERIFY(containers_in(path("cancel/AddData")).isEmpty());
            QVERIFY(leftovers(path("cancel")).isEmpty());
        }
        const Package_Result made = run_encryption({}, {path("bulk")}, path("cancel"));
        QVERIFY(made.is_ok);
        Job_Control control;
        int calls = 0;
        control.set_progress_handler([&](qint64, qint64) {
            if (++calls == 2)
                control.cancel();
        });
        const Package_Result r = run_decryption({made.container_path}, &control);
        QVERIFY(!r.is_ok);
        QVERIFY(r.is_cancelled);
        QVERIFY(leftovers(path("cancel")).isEmpty());
        QVERIFY(QFileInfo::exists(made.container_path));
    }
};

QTEST_GUILESS_MAIN(Test_Pipeline)
#include "test_pipeline.moc"
