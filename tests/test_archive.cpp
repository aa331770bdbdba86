// SPDX-License-Identifier: GPL-3.0-or-later
// The archive layer: what goes into the archive and what comes out of it,
// including archives made by other tools (npm's libraries among them are
// installed into the build folder by the test command) and hostile ones;
// and the chunk transform with the output that enciphers an archive on its
// way into the container.

#include "container/archive_output.h"
#include "engine_test_support.h"
#include "pack/archive_writer.h"
#include "pack/deflate_codec.h"
#include "pack/pack_planner.h"
#include "unpack/zip_extractor.h"

#include <QDateTime>
#include <QStandardPaths>
#include <QStringEncoder>

using namespace test_support;

namespace {

bool extract_zip(const QString &zip_path, const QString &destination, QStringList *errors)
{
    QDir().mkpath(destination);
    const auto open = [zip_path](QString *) {
        return zip_source_file_create(QFile::encodeName(zip_path).constData(), 0, -1, nullptr);
    };
    Job_Control control;
    Extract_Report r;
    auto folder = std::make_shared<os::Folder>();
    if (const int error = folder->open(QFile::encodeName(destination))) {
        *errors += destination + ": " + os::reason(error);
        return false;
    }
    const bool ok = extract_archive(open, folder, QFile::encodeName(destination), control, 0, &r);
    *errors += r.errors;
    return ok;
}

Pack_Plan plan_of(const QStringList &files, const QStringList &folders, QStringList *errors)
{
    Job_Control control;
    return plan_pack(native_paths(files), native_paths(folders), errors, control);
}

bool write_zip_file(const Pack_Plan &plan, const QString &zip_path, QString *error)
{
    Job_Control control;
    return write_archive(plan, QFile::encodeName(zip_path), control, error);
}

// Text like a log: compressible, but not so repetitive that deflate's
// blocks all look alike.
QByteArray log_text(qint64 size)
{
    QByteArray log;
    for (quint32 i = 0; log.size() < size; ++i)
        log += "line " + QByteArray::number(i * 2654435761u % 100003) + " of the log, status ok\n";
    log.truncate(size);
    return log;
}

// Runs a shell command of another zip tool, with npm's zip libraries at hand,
// in another time zone than the packing's (times must not depend on it);
// true when it exits 0.
bool run_tool(const QString &command, const QString &working_dir)
{
    QProcess p;
    p.setWorkingDirectory(working_dir);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("TZ", "Asia/Tokyo");
    env.insert("LC_ALL", "C.UTF-8");
    env.insert("NODE_PATH", CORVANTA_NPM_MODULES);
    env.insert("ZIP_WITH", CORVANTA_TEST_SOURCE "/interop/zip_with.js");
    p.setProcessEnvironment(env);
    p.start("sh", {"-c", command});
    const bool ok = p.waitForFinished(300000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    if (!ok)
        qWarning("%s: %s", qPrintable(command), p.readAllStandardError().constData());
    return ok;
}

// The transform written the plain way, one byte at a time, to check the fast one.
QByteArray reference_container(QByteArray out)
{
    const auto e = [](unsigned char x) {
        const unsigned char n = static_cast<unsigned char>(~x);
        return static_cast<unsigned char>((n << 3) | (n >> 5));
    };
    for (qsizetype at = 0; at < out.size(); at += kvx_chunk_size) {
        const qsizetype n = qMin<qsizetype>(kvx_chunk_size, out.size() - at);
        unsigned char *b = reinterpret_cast<unsigned char *>(out.data() + at);
        for (qsizetype i = 0; i < n / 2; ++i) {
            const unsigned char a = b[i];
            b[i] = e(b[n - 1 - i]);
            b[n - 1 - i] = e(a);
        }
    }
    return out;
}

} // namespace

class Test_Archive : public QObject, Scratch
{
    Q_OBJECT

private slots:
    // Chosen items whose names clash get numbered ones (names, times, modes:
    // test_round_trip).
    void packing_round_trip()
    {
        make_file("in/Q1, Q2 report.txt", "commas");
        make_file("other/Q1, Q2 report.txt", "same name, other file");
        make_file("second/in/y.txt", "folder with a taken name");
        QStringList errors;
        QString error;
        const QString zip = path("out.zip");
        const Pack_Plan plan = plan_of({path("in/Q1, Q2 report.txt"), path("other/Q1, Q2 report.txt")},
                                       {path("in"), path("second/in")}, &errors);
        QVERIFY2(errors.isEmpty() && write_zip_file(plan, zip, &error), qPrintable(errors.join('\n') + error));
        const QString out = path("extracted");
        QVERIFY2(extract_zip(zip, out, &errors), qPrintable(errors.join('\n')));
        QCOMPARE(read_all(out + "/Q1, Q2 report (2).txt"), QByteArray("same name, other file"));
        QCOMPARE(read_all(out + "/in (2)/y.txt"), QByteArray("folder with a taken name"));
        QCOMPARE(tree(out + "/in"), tree(path("in")));
    }

    // A failure gives the system's reason: an unusable destination is named,
    // a file that cannot be written names its entry, and no part of it stays.
    void failures_give_the_system_reason()
    {
        QVERIFY(write_zip(path("r.zip"), {{"top.txt", "t"}, {"sub/", {}, true}, {"sub/big.bin", random_bytes(300000, 4)}}));
        make_file("plain", "a file where the destination should be");
        QStringList errors;
        QVERIFY(!extract_zip(path("r.zip"), path("plain/out"), &errors));
        QVERIFY2(errors.size() == 1 && errors[0].contains(path("plain/out")) && errors[0].endsWith("Not a directory"),
                 qPrintable(errors.join('\n')));
        errors.clear();
        {
            const File_Size_Limit full(100000);
            QVERIFY(!extract_zip(path("r.zip"), path("limited"), &errors));
        }
        QCOMPARE(errors, QStringList("sub/big.bin: write failed: " + os::reason(EFBIG)));
        QCOMPARE(tree(path("limited")), (QMap<QString, QByteArray>{{"top.txt", "t"}}));
    }

    // What each kind of link in a chosen folder becomes. Links unpacking can
    // recreate are stored as links and come back as they were; a link to a
    // file brings the file's content, with a warning when that file lies
    // outside the chosen items; a link unpacking would refuse is left out with
    // a warning, as are special files (named by the command line's test).
    // Nothing outside the chosen items is followed. (Which targets unpacking
    // refuses: hostile_archives_write_nothing_outside.)
    void links_come_back_or_are_named_data()
    {
        QTest::addColumn<QString>("target");
        QTest::addColumn<QByteArray>("unpacked"); // as tree() shows it; empty when left out
        QTest::addColumn<bool>("warned");
        QTest::newRow("to a folder inside") << "real" << QByteArray("-> chosen/real") << false;
        QTest::newRow("to a file inside") << "real/inside.txt" << QByteArray("real") << false;
        QTest::newRow("to a file outside") << "../outside/private.txt" << QByteArray("not chosen") << true;
        QTest::newRow("absolute, to a folder") << "/etc" << QByteArray() << true;
    }

    void links_come_back_or_are_named()
    {
        QFETCH(QString, target);
        QFETCH(QByteArray, unpacked);
        QFETCH(bool, warned);
        const QString root = path(QStringLiteral("links/") + QTest::currentDataTag());
        make_file(root + "/outside/private.txt", "not chosen");
        make_file(root + "/chosen/real/inside.txt", "real");
        QVERIFY(QFile::link(target, root + "/chosen/link"));
        QStringList errors;
        const Pack_Plan plan = plan_of({}, {root + "/chosen"}, &errors);
        QVERIFY2(errors.isEmpty(), qPrintable(errors.join('\n')));
        QCOMPARE(plan.warnings.size(), warned ? 1 : 0);
        QVERIFY(!warned || plan.warnings[0].startsWith(root + "/chosen/link: "));
        QString error;
        QVERIFY2(write_zip_file(plan, root + "/links.zip", &error), qPrintable(error));
        QVERIFY2(extract_zip(root + "/links.zip", root + "/out", &errors), qPrintable(errors.join('\n')));
        QCOMPARE(tree(root + "/out").value("chosen/link"), unpacked);
    }

    void files_changing_while_packed_fail_the_run_data()
    {
        QTest::addColumn<bool>("compressible");
        QTest::addColumn<QString>("change");
        for (const char *change : {"truncate", "rewrite", "grow"})
            QTest::newRow(qPrintable(QStringLiteral("deflated, %1").arg(change))) << true << QString(change);
        QTest::newRow("stored, truncate") << false << QStringLiteral("truncate");
    }

    // A file that changes after it was planned, as under a writer running
    // alongside, fails the run by name instead of being packed short, long
    // or mixed.
    void files_changing_while_packed_fail_the_run()
    {
        QFETCH(bool, compressible);
        QFETCH(QString, change);
        // A deflated one is big enough to be cut into pieces.
        const QByteArray data = compressible ? QByteArray(9 << 20, 'x') : random_bytes(300000, 3);
        const QString file = path("changing/" + change + ".dat");
        make_file(file, data);
        QFile f(file);
        QVERIFY(f.open(QIODevice::ReadWrite));
        // An old time, so that the change shows in the file's time.
        QVERIFY(f.setFileTime(QDateTime::fromSecsSinceEpoch(1000000000), QFileDevice::FileModificationTime));
        QStringList errors;
        const Pack_Plan plan = plan_of({file}, {}, &errors);
        QVERIFY(errors.isEmpty());
        QCOMPARE(plan.deflate_bytes > 0, compressible);
        if (change == "truncate")
            QVERIFY(f.resize(data.size() / 2 + 1));
        else if (change == "grow")
            QVERIFY(f.seek(data.size()) && f.write("more") == 4);
        else
            QVERIFY(f.seek(data.size() / 2) && f.write("changed") == 7);
        f.close();
        QString error;
        QVERIFY(!write_zip_file(plan, path("changing.zip"), &error));
        QVERIFY2(error.contains(file) && error.contains("changed"), qPrintable(error));
    }

    void hostile_archives_write_nothing_outside()
    {
        const QString zip = path("hostile.zip");
        QVERIFY(write_zip(zip, {{"../escaped.txt", "x"},
                                {"a/../../escaped2.txt", "x"},
                                {"/tmp/corvanta-absolute-test.txt", "x"},
                                {"C:\\corvanta-drive.txt", "x", false, 0, ZIP_OPSYS_DOS},
                                {"C:drive-relative.txt", "x", false, 0, ZIP_OPSYS_DOS},
                                {"\\Windows\\evil.txt", "x", false, 0, ZIP_OPSYS_DOS},
                                {"..\\escaped3.txt", "x", false, 0, ZIP_OPSYS_DOS},
                                {"up", "..", false, 0120777},
                                {"abs", "/etc", false, 0120777},
                                {"up/through-link.txt", "x"},
                                {"down", "sub/inner", false, 0120777},
                                {"sub/back", "../up", false, 0120777},
                                {"sub/out", "../../x", false, 0120777},
                                {"sub/via", "inner/../../up", false, 0120777},
                                {"./sub/./inner/ok.txt", "fine"},
                                {"suid", "s", false, 0104755}}));
        const QString out = path("box/dest");
        QStringList errors;
        QVERIFY(!extract_zip(zip, out, &errors));
        QVERIFY(!QFileInfo::exists("/tmp/corvanta-absolute-test.txt"));
        QCOMPARE(entries(path("box")), QStringList({"dest"}));
        // Each refused entry is named, once.
        for (const QString name : {"../escaped.txt", "a/../../escaped2.txt", "/tmp/corvanta-absolute-test.txt",
                                   "C:/corvanta-drive.txt", "C:drive-relative.txt", "/Windows/evil.txt",
                                   "../escaped3.txt", "up: link", "abs: link", "sub/out: link", "sub/via: link"})
            QVERIFY2(errors.filter(name).size() == 1, qPrintable(name + QLatin1String(" | ") + errors.join('\n')));
        // What is safe still comes out: a file under "up" lands in a real folder,
        // links whose targets stay inside are made, and no set-uid bit survives.
        const QMap<QString, QByteArray> expected{
            {"up", "/"}, {"up/through-link.txt", "x"}, {"sub", "/"}, {"sub/inner", "/"},
            {"sub/inner/ok.txt", "fine"}, {"suid", "s"}, {"down", "-> sub/inner"}, {"sub/back", "-> up"}};
        QCOMPARE(tree(out), expected);
        QCOMPARE(mode_and_time(out + "/suid").section(' ', 0, 0), QStringLiteral("755"));
    }

    // Names a Windows tool stored without the UTF-8 flag are GBK unless valid UTF-8; a GBK character
    // may end in 0x5C (乗), which is no folder separator. Nothing in the
    // destination is overwritten: a taken name gets a number.
    void names_are_decoded_and_never_overwrite()
    {
        const auto gbk = [](const QString &text) -> QByteArray { return QStringEncoder("GBK").encode(text); };
        const QString zip = path("names.zip");
        QVERIFY(write_zip(zip, {{gbk(QStringLiteral("中文目录/")), {}, true, 0, ZIP_OPSYS_DOS},
                                {gbk(QStringLiteral("中文目录\\说明.txt")), "gbk", false, 0, ZIP_OPSYS_DOS},
                                {gbk(QStringLiteral("乗\\乗.txt")), "trail 5c", false, 0, ZIP_OPSYS_DOS},
                                {QStringLiteral("utf8名.txt").toUtf8(), "utf8", false},
                                {"doc.txt", "from archive"}, {"dir/", {}, true}, {"dir/x", "inner"},
                                {"file-in-way/", {}, true}, {"file-in-way/y", "y"}}));
        const QString out = path("ow");
        make_file("ow/doc.txt", "mine");
        make_file("ow/dir/x", "mine too");
        make_file("ow/file-in-way", "a file where a folder comes");
        QStringList errors;
        QVERIFY2(extract_zip(zip, out, &errors), qPrintable(errors.join('\n')));
        const QMap<QString, QByteArray> expected{
            {QStringLiteral("中文目录"), "/"}, {QStringLiteral("中文目录/说明.txt"), "gbk"}, {QStringLiteral("乗"), "/"},
            {QStringLiteral("乗/乗.txt"), "trail 5c"}, {QStringLiteral("utf8名.txt"), "utf8"}, {"doc.txt", "mine"},
            {"doc (2).txt", "from archive"}, {"dir", "/"}, {"dir/x", "mine too"}, {"dir/x (2)", "inner"},
            {"file-in-way", "a file where a folder comes"}, {"file-in-way (2)", "/"}, {"file-in-way (2)/y", "y"}};
        QCOMPARE(tree(out), expected);
    }

    // Files are deflated in pieces side by side, joined into one stream. Our
    // container holds a zip that we, and Info-ZIP's unzip in another time
    // zone, unpack with the same names, bytes, links and times: sizes about a
    // piece's, pieces of text and of noise, names that are not UTF-8.
    void our_archives_unpack_alike_in_unzip()
    {
        for (const qint64 size : {deflate_piece_size - 1, deflate_piece_size, deflate_piece_size + 1})
            make_file(QStringLiteral("uz/%1.log").arg(size), log_text(size));
        // Five pieces; the text at the start decides that the file is deflated.
        QByteArray mixed = log_text(4 * deflate_piece_size + 12345);
        mixed.replace(1 << 20, mixed.size() - (1 << 20), random_bytes(mixed.size() - (1 << 20), 5));
        make_file("uz/text, then noise", mixed);
        make_file("uz/noise.bin", random_bytes(300000, 1));
        make_file("uz/empty", "");
        make_file(QStringLiteral("uz/数据/名 字.txt"), "name");
        make_file("uz/back\\slash.txt", "bs");
        QVERIFY(write_raw(QFile::encodeName(path("uz/caf")) + "\xe9.txt", "latin"));
        set_mode_and_time(path("uz/noise.bin"), 0644, 1600000001);
        QDir().mkpath(path("uz/empty dir"));
        QVERIFY(QFile::link(QStringLiteral("数据"), path("uz/linkdir")));
        QVERIFY(QFile::link("nowhere", path("uz/dangling")));
        const QMap<QByteArray, QByteArray> packed = raw_tree(QFile::encodeName(path("uz")));

        const Package_Result r = run_encryption({}, {path("uz")}, path("uz-base"));
        QVERIFY2(r.is_ok, qPrintable(r.errors.join('\n')));
        const Package_Result d = run_decryption({r.container_path});
        QVERIFY2(d.is_ok, qPrintable(d.errors.join('\n')));
        QCOMPARE(raw_tree(QFile::encodeName(d.output_folders.value(0) + "/uz")), packed);
        if (QStandardPaths::findExecutable("unzip").isEmpty())
            QSKIP("Info-ZIP's unzip is not installed");
        QVERIFY(write_file(path("uz.zip"), transformed(read_all(r.container_path), Cipher_Direction::Decrypt)));
        QVERIFY(run_tool("unzip -q uz.zip -d uz-out", dir.path()));
        QCOMPARE(raw_tree(QFile::encodeName(path("uz-out/uz"))), packed);
        QCOMPARE(mode_and_time(path("uz-out/uz/noise.bin")), QStringLiteral("644 1600000001"));
    }

    // Zip archives of the writers people use, each wrapped in a container:
    // test calls them sound and decrypt gives back exactly the tree they were
    // made of. Writers differ in what their two headers of an entry repeat
    // (times in one only, more times in the local one, data descriptors after
    // the data).
    void archives_of_other_writers_unpack_whole_data()
    {
        // A shell command run in the folder that holds "t"; it writes ../out.zip.
        QTest::addColumn<QString>("command");
        const QString jar = QStandardPaths::findExecutable("jar").isEmpty() ? "fastjar" : "jar";
        const QString python = "python3 -c 'import os, sys, zipfile\n"
                               "kw = dict(compression=zipfile.ZIP_%1)\n"
                               "with zipfile.ZipFile(\"../out.zip\", \"w\", **kw) as z:\n"
                               "    for top, dirs, files in os.walk(\"t\"):\n"
                               "        z.write(top)\n"
                               "        for n in files:\n"
                               "            p = os.path.join(top, n)\n"
                               "            with open(p, \"rb\") as f, z.open(p, \"w\", force_zip64=%2) as o:\n"
                               "                o.write(f.read())\n'";
        QTest::newRow("Info-ZIP") << "zip -qr ../out.zip t";
        QTest::newRow("Info-ZIP to a pipe") << "zip -qr - t | cat > ../out.zip";
        // zip64 records beside classic fields that are not full, its end records too.
        QTest::newRow("Info-ZIP -fz") << "zip -qr -fz ../out.zip t";
        QTest::newRow("7-Zip") << "7zz a -tzip ../out.zip t";
        QTest::newRow("7-Zip -mm=Copy") << "7zz a -tzip -mm=Copy ../out.zip t";
        QTest::newRow("7-Zip -mcu=on") << "7zz a -tzip -mcu=on ../out.zip t";
        QTest::newRow("jar") << jar + " cfM ../out.zip t";
        QTest::newRow("Python stored") << python.arg("STORED", "False");
        QTest::newRow("Python deflated") << python.arg("DEFLATED", "False");
        QTest::newRow("Python zip64") << python.arg("DEFLATED", "True");
        QTest::newRow("bsdtar") << "bsdtar -a -cf ../out.zip t";
        QTest::newRow("npm yazl") << "node \"$ZIP_WITH\" yazl . t ../out.zip";
        QTest::newRow("npm jszip") << "node \"$ZIP_WITH\" jszip . t ../out.zip";
    }
    void archives_of_other_writers_unpack_whole()
    {
        QFETCH(QString, command);
        if (command.startsWith("node") && !QFileInfo::exists(CORVANTA_NPM_MODULES))
            QSKIP("npm's zip libraries are not installed in the build folder (no npm, or no registry)");
        const QString box = path(QStringLiteral("writers/") + QTest::currentDataTag());
        make_tree(box + "/in/t", {{"a.txt", "text\n"}, {"sub/empty", ""}, {"sub/deeper/r.bin", random_bytes(70000, 3)},
                                 {"é.txt", "utf-8"}, {"数据/名 字.txt", "chinese"}, {"empty folder", "/"}});
        QVERIFY(run_tool(command, box + "/in"));
        QVERIFY(make_container(box + "/out.zip", box + "/c.kvxdata"));
        QStringList damaged;
        QString reason;
        QVERIFY2(test_container(QFile::encodeName(box + "/c.kvxdata"), &damaged, &reason), qPrintable(reason));
        QVERIFY2(damaged.isEmpty(), qPrintable(damaged.join('\n')));
        const Package_Result r = run_decryption({box + "/c.kvxdata"});
        QVERIFY2(r.is_ok, qPrintable(r.errors.join('\n')));
        QCOMPARE(tree(box + "/c/t"), tree(box + "/in/t"));
    }

    // The word-at-a-time path must agree with the byte rule at every length,
    // including the lengths where the middle falls inside a word; lengths of
    // one or less, negative ones too, change nothing.
    void fast_path_matches_reference()
    {
        // Known pairs (one byte stays, an odd middle is untouched, the zip
        // signature, extremes) tie the reference to the format.
        for (const auto &[plain, cipher] : {std::pair{"41", "41"}, {"000000", "FF00FF"}, {"504B0304", "DFE7A57D"},
                                            {"1020304050", "7DFD30FE7F"}, {"0080FF01", "F700FBFF"}})
            QCOMPARE(reference_container(QByteArray::fromHex(plain)), QByteArray::fromHex(cipher));
        const QByteArray data = random_bytes(kvx_chunk_size, 7);
        for (qint32 n = -5; n <= kvx_chunk_size; n = n == 80 ? kvx_chunk_size : n + 1) {
            const QByteArray part = data.left(qMax(n, 0));
            QByteArray e = data;
            encrypt_chunk(e.data(), n);
            QCOMPARE(e, reference_container(part) + data.mid(part.size()));
            decrypt_chunk(e.data(), n);
            QCOMPARE(e, data);
        }
    }

    // Written in small pieces with headers finished afterwards, as libzip
    // writes, the file holds the archive, or the archive's chunks
    // transformed from the file's start: whatever the size, wherever a
    // finished header lands (in the memory tail, in chunks already written,
    // across a chunk boundary or the tail's start), and what is read back
    // is the plain archive.
    void output_matches_the_transform_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("piece");
        QTest::addColumn<QList<int>>("patches");
        const int tail = int(Archive_Output::capacity);
        for (int size : {0, 1, 5119, 5120, 5121, tail, tail + 3})
            QTest::addRow("%d", size) << size << 8192 << QList<int>();
        QTest::newRow("many pieces") << 5120 * 600 + 4097 << 777 << QList<int>();
        QTest::newRow("headers finished") << 2 * tail + 100 << 8192 << QList<int>{0, 5100, tail - 20, 2 * tail - 20, 2 * tail + 30};
    }

    void output_matches_the_transform()
    {
        QFETCH(int, size);
        QFETCH(int, piece);
        QFETCH(QList<int>, patches);
        const QByteArray header = random_bytes(46, 9);
        for (const bool encipher : {false, true}) {
            QByteArray plain = random_bytes(size, quint32(size) + 1);
            const QString name = path(QLatin1String(encipher ? "container " : "archive ") + QTest::currentDataTag());
            os::File file;
            QCOMPARE(file.create_new(QFile::encodeName(name)), 0);
            Archive_Output out(file, encipher);
            for (qsizetype at = 0; at < plain.size(); at += piece)
                QVERIFY(out.write(at, plain.constData() + at, qMin<qsizetype>(piece, plain.size() - at)));
            for (const int at : patches) {
                QVERIFY(out.write(at, header.constData(), header.size()));
                plain.replace(at, header.size(), header);
            }
            QByteArray back(size, Qt::Uninitialized);
            QCOMPARE(out.read(0, back.data(), size + 10), qint64(size));
            QCOMPARE(back, plain);
            QVERIFY(out.finish());
            QVERIFY(!out.write(0, "x", 1)); // nothing after the end
            QCOMPARE(read_all(name), encipher ? reference_container(plain) : plain);
        }
    }

    // A write that runs out of room (here a file size limit, which cuts a
    // write short and then refuses the rest) fails the write that reaches
    // it, or the last one, with the system's reason.
    void output_fails_with_reason()
    {
        for (const qint64 limit : {qint64(10000), Archive_Output::capacity + 100}) {
            os::File file;
            QCOMPARE(file.create_new(QFile::encodeName(path(QStringLiteral("output to %1").arg(limit)))), 0);
            Archive_Output out(file, true);
            const QByteArray data = random_bytes(Archive_Output::capacity + 200, 3);
            const File_Size_Limit full(limit);
            const bool written = out.write(0, data.constData(), data.size());
            QCOMPARE(written, limit > Archive_Output::capacity);
            QVERIFY(!written || !out.finish());
            QVERIFY2(out.reason() == os::reason(EFBIG), qPrintable(out.reason()));
        }
    }
};

QTEST_GUILESS_MAIN(Test_Archive)
#include "test_archive.moc"
