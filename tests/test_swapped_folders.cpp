// SPDX-License-Identifier: GPL-3.0-or-later
// Unpacking run by root in a folder an ordinary user can write to, while that
// user swaps the run's folders for links to a folder only root may enter:
// nothing is written, and no mode or time changed, outside the destination.
// The swap is done at a point the run reports, not raced; it needs root and
// setpriv, and skips elsewhere, saying why.

#include "engine_test_support.h"

#include <QStandardPaths>

#include <mutex>

#include <pwd.h>
#include <unistd.h>

using namespace test_support;

namespace {

// Runs a shell command as the user nobody; true when it exits 0.
bool as_nobody(const QString &command, const QStringList &args = {})
{
    QProcess p;
    p.start("setpriv", QStringList{"--reuid=nobody", "--regid=nogroup", "--clear-groups", "sh", "-c", command, "sh"} + args);
    return p.waitForFinished(30000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

// Content, mode and time of everything under root and of root itself.
QMap<QString, QString> snapshot(const QString &root)
{
    QMap<QString, QString> out{{"", mode_and_time(root)}};
    const QMap<QString, QByteArray> contents = tree(root);
    for (auto it = contents.cbegin(); it != contents.cend(); ++it)
        out.insert(it.key(), QString::fromLatin1(it.value().toHex()) + ' ' + mode_and_time(root + '/' + it.key()));
    return out;
}

} // namespace

class Test_Swapped_Folders : public QObject, Scratch
{
    Q_OBJECT

    QString container;
    QMap<QString, QByteArray> unpacked; // what the container holds

private slots:
    // A folder recorded as mode 777 with 150 files, then 150 files at the
    // top: the folder is made before any file is complete.
    void initTestCase()
    {
        if (::geteuid() != 0)
            QSKIP("the attack needs a root-run unpack and another user");
        if (QStandardPaths::findExecutable("setpriv").isEmpty())
            QSKIP("setpriv is not installed (Debian: util-linux)");
        QVERIFY(QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
                                                                        | QFile::ReadOther | QFile::ExeOther));
        std::vector<Raw_Entry> entries{{"d/", {}, true, 040777}};
        unpacked.insert("d", "/");
        for (const QString name : {"d/f%1.txt", "t%1.txt"})
            for (int i = 0; i < 150; ++i) {
                const QString rel = QString(name).arg(i);
                entries.push_back({rel.toUtf8(), rel.toUtf8(), false, 0100644});
                unpacked.insert(rel, rel.toUtf8());
            }
        container = path("c.kvxdata");
        QVERIFY(write_container(container, entries));
    }

    void swapped_folders_lead_nowhere_data()
    {
        QTest::addColumn<bool>("sticky");             // else the folder belongs to the attacker
        QTest::addColumn<bool>("made_in_advance");    // the attacker made the destination "c" first
        QTest::addColumn<QString>("swapped");         // what the attacker replaces by a link, and where it points
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("lands_in");        // where the run's files are found
        QTest::addColumn<bool>("ok");
        QTest::newRow("attacker's folder, destination swapped") << false << false << "c" << "secret" << "c.moved" << false;
        QTest::newRow("attacker's folder, the destination made first") << false << true << "c" << "secret" << "c (2)" << true;
        QTest::newRow("sticky folder, destination swapped") << true << true << "c" << "secret" << "c (2)" << true;
        QTest::newRow("sticky folder, one level down") << true << true << "c/d" << "secret/d" << "c (2)" << true;
    }

    void swapped_folders_lead_nowhere()
    {
        QFETCH(bool, sticky);
        QFETCH(bool, made_in_advance);
        QFETCH(QString, swapped);
        QFETCH(QString, target);
        QFETCH(QString, lands_in);
        QFETCH(bool, ok);
        const QString box = path(QStringLiteral("box-%1").arg(QTest::currentDataTag()).replace(' ', '-'));
        const QString work = box + "/work";
        const passwd *nobody = ::getpwnam("nobody");
        make_file(box + "/secret/keep.txt", "root's");
        make_file(box + "/secret/d/inner.txt", "root's too");
        for (const QString rel : {"/secret/d/inner.txt", "/secret/d", "/secret/keep.txt", "/secret"})
            set_mode_and_time(box + rel, 0700, 1400000000);
        QVERIFY(QFile::setPermissions(box, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadOther
                                               | QFile::ExeOther));
        QVERIFY(QDir().mkpath(work));
        if (sticky)
            QVERIFY(::chmod(QFile::encodeName(work).constData(), 01777) == 0);
        else
            QVERIFY(nobody && ::chown(QFile::encodeName(work).constData(), nobody->pw_uid, nobody->pw_gid) == 0);
        QVERIFY(QFile::copy(container, work + "/c.kvxdata"));
        if (made_in_advance)
            QVERIFY(as_nobody("mkdir -m 777 \"$1/c\" \"$1/c/d\"", {work}));
        const QMap<QString, QString> before = snapshot(box + "/secret");

        // Once the first file is complete, the other user moves the folder
        // aside and puts a link to root's folder in its place; the other
        // unpacking thread waits at its next file meanwhile.
        Job_Control control;
        std::mutex swap_lock;
        bool swapped_once = false;
        control.set_point_handler([&](Run_Point point) {
            const std::lock_guard<std::mutex> lock(swap_lock);
            if (point == Run_Point::File_Unpacked && !swapped_once)
                swapped_once = as_nobody("mv -- \"$1/$2\" \"$1/$2.moved\" && ln -s -- \"$3\" \"$1/$2\"",
                                         {work, swapped, box + '/' + target});
        });
        const Package_Result r = run_decryption({work + "/c.kvxdata"}, &control);
        QVERIFY(swapped_once);
        QCOMPARE(snapshot(box + "/secret"), before);
        QCOMPARE(r.is_ok, ok);
        QVERIFY2(ok || r.errors.join('\n').contains("moved or replaced"), qPrintable(r.errors.join('\n')));
        QCOMPARE(tree(work + '/' + lands_in), unpacked);
    }
};

QTEST_GUILESS_MAIN(Test_Swapped_Folders)
#include "test_swapped_folders.moc"
