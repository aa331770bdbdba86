// SPDX-License-Identifier: GPL-3.0-or-later
// What goes in comes out exactly: names as the system's bytes, times across
// time zones and outside DOS's years, permission bits, deep trees and files
// of 4 GiB.

#include "engine_test_support.h"

#include <QTimeZone>

#include <ctime>

using namespace test_support;

namespace {

// Times are read back in another zone than they were written in.
struct Time_Zone
{
    const QByteArray saved = qgetenv("TZ");
    const bool had = qEnvironmentVariableIsSet("TZ");
    explicit Time_Zone(const char *zone) { qputenv("TZ", zone), tzset(); }
    ~Time_Zone() { had ? qputenv("TZ", saved) : qunsetenv("TZ"), tzset(); }
};

} // namespace

class Test_Round_Trip : public QObject, Scratch
{
    Q_OBJECT

    QByteArray raw(const QString &rel) const { return QFile::encodeName(path(rel)); }

    // Packs folder (in TZ=UTC) and unpacks its container (in TZ=Asia/Tokyo); the unpacked folder.
    QByteArray round_trip(const QString &folder, const QString &tag)
    {
        Package_Result r;
        {
            const Time_Zone utc("UTC");
            r = run_encryption({}, {path(folder)}, path("work/" + tag));
        }
        if (r.is_ok) {
            const Time_Zone tokyo("Asia/Tokyo");
            r = run_decryption({r.container_path});
        }
        if (!r.is_ok)
            qWarning() << r.errors;
        return r.is_ok ? QFile::encodeName(r.output_folders.value(0) + '/' + folder.section('/', -1)) : QByteArray();
    }

private slots:
    // Latin-1 names (a folder of them too), a lone 0xFF, a backslash,
    // control characters and UTF-8: every name and every byte comes back as
    // it went in, and names that are not UTF-8 are stored without the UTF-8 flag.
    void names_come_back_as_bytes()
    {
        const QList<QByteArray> names{"caf\xe9.txt", "Fotos_\xe9t\xe9/a.jpg", "Fotos_\xe9t\xe9/b.jpg",
                                      "lone\xff", "back\\slash.txt", "r\xc3\xa9union #1.txt", "readme.txt",
                                      "soh\x01", "bell\a.txt", "esc\x1b[2J.txt", "new\nline", "cr\r.txt",
                                      "del\x7f", "\x01" "caf\xc3\xa9"};
        QVERIFY(QDir().mkpath(path("names")) && ::mkdir(raw("names/") + "Fotos_\xe9t\xe9", 0755) == 0);
        for (const QByteArray &name : names)
            QVERIFY(write_raw(raw("names/") + name, "content of " + name));
        const QMap<QByteArray, QByteArray> before = raw_tree(raw("names"));

        const QByteArray out = round_trip("names", "names");
        QCOMPARE(raw_tree(out), before);

        // A path named on the command line in bytes is packed under its bytes too.
        const Package_Result bytes_named = run_encryption(QList<QByteArray>{raw("names/") + "lone\xff"}, {}, raw("work/bytes"));
        QVERIFY2(bytes_named.is_ok, qPrintable(bytes_named.errors.join('\n')));
        QVERIFY(transformed(read_all(bytes_named.container_path), Cipher_Direction::Decrypt).contains("lone\xff"));
    }

    // A file the system gives no true size (0 in /proc, a page in /sys) is
    // packed as it reads.
    void files_without_a_size_are_packed_as_read()
    {
        const QStringList files{"/proc/version", "/sys/devices/system/cpu/online"};
        const Package_Result packed = run_encryption(files, {}, path("work/pseudo"));
        QVERIFY2(packed.is_ok, qPrintable(packed.errors.join('\n')));
        const Package_Result unpacked = run_decryption({packed.container_path});
        QVERIFY2(unpacked.is_ok, qPrintable(unpacked.errors.join('\n')));
        for (const QString &file : files) {
            const QByteArray content = read_all(file);
            QVERIFY(!content.isEmpty() && QFileInfo(file).size() != content.size());
            QCOMPARE(read_all(unpacked.output_folders.value(0) + '/' + QFileInfo(file).fileName()), content);
        }
    }

    // Packed in one time zone and unpacked in another, files and folders get
    // their times to the second, odd seconds and years DOS cannot hold too;
    // the DOS field holds the nearest time it can for readers that know no other.
    void times_come_back_across_time_zones_data()
    {
        QTest::addColumn<qint64>("time");
        QTest::addColumn<QString>("dos"); // the DOS field, as local time in UTC
        QTest::newRow("an odd second") << qint64(1600000001) << "2020-09-13 12:26:40";
        QTest::newRow("1975") << qint64(157766401) << "1980-01-01 00:00:00";
        QTest::newRow("1969") << qint64(-86401) << "1980-01-01 00:00:00";
        QTest::newRow("2040") << qint64(2217600001) << "2040-04-09 16:00:00";
        QTest::newRow("2150") << qint64(5680281601) << "2107-12-31 23:59:58";
    }

    void times_come_back_across_time_zones()
    {
        QFETCH(qint64, time);
        QFETCH(QString, dos);
        const QString tag = QTest::currentDataTag();
        make_file("times/" + tag + "/folder/file.txt", "t");
        for (const QString rel : {"/folder/file.txt", "/folder", ""})
            set_mode_and_time(path("times/" + tag + rel), 0755, time_t(time));
        const QByteArray out = round_trip("times/" + tag, tag);
        for (const QByteArray rel : {"/folder/file.txt", "/folder", ""})
            QCOMPARE(mode_and_time(QFile::decodeName(out + rel)).section(' ', 1), QString::number(time));

        // Read in UTC, the DOS field shows the clamped time.
        const Time_Zone utc("UTC");
        const QDir add_data(path("work/" + tag + "/AddData"));
        const QString container = add_data.filePath(add_data.entryList(QDir::Files).value(0));
        QVERIFY(write_file(path(tag + ".zip"), transformed(read_all(container), Cipher_Direction::Decrypt)));
        int error = 0;
        zip_t *za = zip_open(raw(tag + ".zip").constData(), ZIP_RDONLY, &error);
        QVERIFY(za);
        zip_stat_t st;
        QVERIFY(zip_stat(za, qPrintable(tag + "/folder/file.txt"), 0, &st) == 0);
        QCOMPARE(QDateTime::fromSecsSinceEpoch(st.mtime, QTimeZone::utc()).toString("yyyy-MM-dd hh:mm:ss"), dos);
        zip_discard(za);
    }

    // Permission bits for group and others come back as stored; the owner can
    // always read a file and open a folder that was unpacked, and set-uid,
    // set-gid and sticky never come back.
    void modes_come_back_data()
    {
        QTest::addColumn<bool>("folder");
        QTest::addColumn<int>("stored");
        QTest::addColumn<int>("unpacked");
        QTest::newRow("file 640") << false << 0640 << 0640;
        QTest::newRow("file 4755") << false << 04755 << 0755;
        QTest::newRow("file 027") << false << 0027 << 0427;
        QTest::newRow("folder 750") << true << 0750 << 0750;
        QTest::newRow("folder 500") << true << 0500 << 0700;
    }

    void modes_come_back()
    {
        QFETCH(bool, folder);
        QFETCH(int, stored);
        QFETCH(int, unpacked);
        const QString tag = QTest::currentDataTag();
        QByteArray out;
        if (stored & 0400) {
            make_tree("modes/" + tag, {{"item", folder ? "/" : "m"}});
            QVERIFY(::chmod(raw("modes/" + tag + "/item").constData(), mode_t(stored)) == 0);
            out = round_trip("modes/" + tag, tag);
        } else {
            // Only root can pack what its owner may not read: such an item
            // comes in a container made elsewhere, its mode as stored there.
            const QString container = path("modes/" + tag + ".kvxdata");
            const quint32 mode = quint32((folder ? S_IFDIR : S_IFREG) | stored);
            QVERIFY(QDir().mkpath(path("modes")) && write_container(container, {{folder ? "item/" : "item", folder ? "" : "m", folder, mode}}));
            const Package_Result r = run_decryption({container});
            QVERIFY2(r.is_ok, qPrintable(r.errors.join('\n')));
            out = QFile::encodeName(r.output_folders.value(0));
        }
        QCOMPARE(mode_and_time(QFile::decodeName(out + "/item")).section(' ', 0, 0), QString::number(unpacked, 8));
    }

    // A container made before names, times and modes were stored as they
    // are now (names flagged UTF-8, DOS times only) unpacks as it always did;
    // its link now gets its stored time too.
    void containers_made_before_unpack_as_before()
    {
        const Time_Zone utc("UTC"); // the DOS times were written in UTC
        QVERIFY(QDir().mkpath(path("old")));
        QVERIFY(QFile::copy(QStringLiteral(CORVANTA_TEST_DATA "/made-before.kvxdata"), path("old/c.kvxdata")));
        const Package_Result r = run_decryption({path("old/c.kvxdata")});
        QVERIFY2(r.is_ok, qPrintable(r.errors.join('\n')));
        QMap<QString, QString> unpacked;
        const QMap<QByteArray, QByteArray> found = raw_tree(raw("old/c"));
        for (auto it = found.cbegin(); it != found.cend(); ++it)
            unpacked.insert(QString::fromUtf8(it.key()),
                            mode_and_time(path("old/c/") + QString::fromUtf8(it.key())) + ' ' + QString::fromUtf8(it.value()));
        const QMap<QString, QString> expected{
            {"before", "755 1500000000 /"},
            {"before/empty dir", "750 1500000000 /"},
            {"before/link", QStringLiteral("777 1600000000 -> 数据")},
            {"before/readme.txt", "640 1600000000 plain"},
            {"before/script.sh", "755 1600000000 #!/bin/sh\n"},
            {QStringLiteral("before/数据"), "755 1600000000 /"},
            {QStringLiteral("before/数据/名 字.txt"), "644 1600000000 chinese"}};
        QCOMPARE(unpacked, expected);
    }

    // Unpacking a tree deeper than the system takes paths fails with the
    // system's reason and leaves no empty folders.
    void deep_paths_fail_with_the_system_reason()
    {
        QByteArray deep;
        for (int level = 0; level < 300; ++level)
            deep += "level_" + QByteArray::number(level) + "_of_a_tree_deeper_than_any_path/";
        QVERIFY(write_zip(path("deep.zip"), {{"top.txt", "top"}, {deep + "file.txt", "deep"}}));
        QVERIFY(make_container(path("deep.zip"), path("deep/deep.kvxdata")));
        const Package_Result unpacked = run_decryption({path("deep/deep.kvxdata")});
        QVERIFY(!unpacked.is_ok);
        QVERIFY2(unpacked.errors.join('\n').contains(os::reason(ENAMETOOLONG)), qPrintable(unpacked.errors.join('\n')));
        QCOMPARE(raw_tree(raw("deep/deep")), (QMap<QByteArray, QByteArray>{{"top.txt", "top"}}));
    }

    // Files over 4 GiB need zip64 fields; their containers test sound and
    // unpack (sparse files, so the test stays quick). Sealed with a password,
    // such a file goes through the sealing as a stream. libzip writes a file
    // of exactly 4 GiB - 1 into a central entry that it cannot read again:
    // such a container never gets a name.
    void files_of_four_gibibytes_come_back_data()
    {
        QTest::addColumn<qint64>("size");
        QTest::addColumn<QByteArray>("password");
        QTest::newRow("4 GiB - 1") << (qint64(1) << 32) - 1 << QByteArray();
        QTest::newRow("4 GiB + 1, with a password") << (qint64(1) << 32) + 1 << QByteArray("pw");
    }
    void files_of_four_gibibytes_come_back()
    {
        QFETCH(qint64, size);
        QFETCH(QByteArray, password);
        if (under_sanitizer)
            QSKIP("gigabytes take too long under the sanitizers");
        make_sparse("big/s.bin", size);
        Pack_Options sealing;
        sealing.password = Password(password);
        Unpack_Options unsealing;
        unsealing.ask_password = [password](const QString &, int, Password *out) {
            *out = Password(password);
            return true;
        };
        const Package_Result packed = run_encryption({path("big/s.bin")}, {}, path("work"), nullptr, sealing);
        QVERIFY(QFile::remove(path("big/s.bin")));
        if (size == 0xFFFFFFFF) {
            QVERIFY(!packed.is_ok);
            QVERIFY2(packed.errors.join('\n').contains("does not read back"), qPrintable(packed.errors.join('\n')));
            QVERIFY(!QFileInfo::exists(path("work/AddData")));
            return;
        }
        QVERIFY2(packed.is_ok, qPrintable(packed.errors.join('\n')));
        QStringList problems;
        QString reason;
        QVERIFY2(test_container(QFile::encodeName(packed.container_path), &problems, &reason, unsealing.ask_password),
                 qPrintable(reason));
        QVERIFY2(problems.isEmpty(), qPrintable(problems.join('\n')));
        const Package_Result unpacked = run_decryption({packed.container_path}, nullptr, unsealing);
        QVERIFY2(unpacked.is_ok, qPrintable(unpacked.errors.join('\n')));
        QCOMPARE(QFileInfo(unpacked.output_folders.value(0) + "/s.bin").size(), size);
    }
};

QTEST_GUILESS_MAIN(Test_Round_Trip)
#include "test_round_trip.moc"
