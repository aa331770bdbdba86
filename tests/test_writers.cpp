// SPDX-License-Identifier: GPL-3.0-or-later
// Zip archives of the writers people use, each wrapped in a container: test
// calls them sound and decrypt gives back exactly the tree they were made of.
// Writers differ in what their two headers of an entry repeat (times in one
// only, more times in the local one, data descriptors after the data).

#include "engine_test_support.h"

#include <QStandardPaths>

using namespace test_support;

class Test_Writers : public QObject, Scratch
{
    Q_OBJECT

private slots:
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
        QTest::newRow("7-Zip -mx=9") << "7zz a -tzip -mx=9 ../out.zip t";
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
        if (command.startsWith("node")) {
            if (QStringLiteral(CORVANTA_NPM_MODULES).isEmpty() || !QFileInfo::exists(CORVANTA_NPM_MODULES))
                QSKIP("npm's zip libraries are not installed in the build folder (no npm, or no registry)");
        }
        QVERIFY(write_file(path("in/t/a.txt"), "text\n") && write_file(path("in/t/sub/empty"), "")
                && write_file(path("in/t/sub/deeper/r.bin"), random_bytes(70000, 3))
                && write_file(path("in/t/é.txt"), "utf-8") && write_file(path("in/t/数据/名 字.txt"), "chinese")
                && QDir().mkpath(path("in/t/empty folder")));
        QProcess tool;
        tool.setWorkingDirectory(path("in"));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("NODE_PATH", CORVANTA_NPM_MODULES);
        env.insert("ZIP_WITH", CORVANTA_TEST_SOURCE "/interop/zip_with.js");
        env.insert("LC_ALL", "C.UTF-8");
        tool.setProcessEnvironment(env);
        tool.start("sh", {"-c", command});
        QVERIFY2(tool.waitForFinished(120000) && tool.exitStatus() == QProcess::NormalExit && tool.exitCode() == 0,
                 qPrintable(tool.readAllStandardError()));
        QVERIFY(make_container(path("out.zip"), path("c/c.kvxdata")));

        QStringList damaged;
        QString reason;
        QVERIFY2(test_container(QFile::encodeName(path("c/c.kvxdata")), &damaged, &reason), qPrintable(reason));
        QVERIFY2(damaged.isEmpty(), qPrintable(damaged.join('\n')));
        const Package_Result r = run_decryption({path("c/c.kvxdata")});
        QVERIFY2(r.is_ok, qPrintable(r.errors.join('\n')));
        QCOMPARE(tree(path("c/c/t")), tree(path("in/t")));
    }
};

QTEST_GUILESS_MAIN(Test_Writers)
#include "test_writers.moc"
