// SPDX-License-Identifier: GPL-3.0-or-later
// Unpacking where only root can set the scene, so elsewhere the cases skip,
// saying why: onto file systems that are not the usual Linux disk (a USB
// stick's exFAT through FUSE, a disk too small or filling up), each mounted
// for the test; and run by root in a folder an ordinary user can write to,
// while that user swaps the run's folders for links to a folder only root may
// enter: nothing is written, and no mode or time changed, outside the
// destination. The swap is done at a point the run reports, not raced.

#include "engine_test_support.h"

#include <QRegularExpression>
#include <QStandardPaths>

#include <mutex>

#include <pwd.h>
#include <unistd.h>

using namespace test_support;

namespace {

bool run_quietly(const QString &program, const QStringList &args, QString *out = nullptr)
{
    QProcess p;
    p.start(program, args);
    const bool ok = p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    if (out)
        *out = QString::fromLocal8Bit(p.readAllStandardOutput()).trimmed();
    return ok;
}

// Runs a shell command as the user nobody; true when it exits 0.
bool as_nobody(const QString &command, const QStringList &args = {})
{
    return run_quietly("setpriv", QStringList{"--reuid=nobody", "--regid=nogroup", "--clear-groups", "sh", "-c",
                                              command, "sh"} + args);
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

// A file system mounted at a folder for as long as the object lives: an
// exFAT image through a loop device and FUSE, or a small tmpfs.
class Mount
{
public:
    // Empty when it is mounted, else why not; image is an empty file of some megabytes.
    QString exfat(const QString &image, const QString &at)
    {
        for (const char *tool : {"mkfs.exfat", "losetup", "mount.exfat-fuse"})
            if (QStandardPaths::findExecutable(tool, {"/usr/sbin", "/sbin", "/usr/bin"}).isEmpty())
                return QStringLiteral("%1 is not installed (Debian: exfatprogs, exfat-fuse)").arg(tool);
        if (!QFileInfo::exists("/dev/fuse"))
            return QStringLiteral("no /dev/fuse");
        if (!run_quietly("mkfs.exfat", {image}) || !run_quietly("losetup", {"-f", "--show", image}, &device))
            return QStringLiteral("cannot make a loop device for the image");
        return mount("mount.exfat-fuse", {device, at});
    }

    QString tmpfs(const QString &size, const QString &at)
    {
        return mount("mount", {"-t", "tmpfs", "-o", "size=" + size, "tmpfs", at});
    }

    ~Mount()
    {
        if (!mounted.isEmpty())
            run_quietly("umount", {mounted});
        if (!device.isEmpty())
            run_quietly("losetup", {"-d", device});
    }

private:
    QString mounted;
    QString device;

    // The mount point comes last in args.
    QString mount(const QString &program, const QStringList &args)
    {
        QDir().mkpath(args.last());
        if (!run_quietly(program, args))
            return program + QStringLiteral(" failed");
        mounted = args.last();
        return QString();
    }
};

} // namespace

class Test_File_Systems : public QObject, Scratch
{
    Q_OBJECT

    QString container_of(const QString &folder)
    {
        const Package_Result made = run_encryption({}, {path(folder)}, path("made"));
        return made.is_ok ? made.container_path : QString();
    }

private slots:
    void init()
    {
        if (::geteuid() != 0)
            QSKIP("mounting a file system, or an attack on a root-run unpack, needs root");
    }

    // Names exFAT cannot hold land under a portable spelling, each named in a
    // warning with both spellings; times of files and folders are kept.
    void unpacks_onto_an_exfat_stick()
    {
        make_file("stick/what?.txt", "question");
        make_file("stick/10:30 notes.txt", "notes");
        make_file("stick/sub/plain.txt", "plain");
        for (const QString rel : {"/what?.txt", "/10:30 notes.txt", "/sub/plain.txt", "/sub"})
            set_mode_and_time(path("stick") + rel, 0644, 1300000001);
        const QString container = container_of("stick");
        QVERIFY(!container.isEmpty());
        make_sparse("exfat.img", 32 << 20);
        Mount mount;
        if (const QString why = mount.exfat(path("exfat.img"), path("mnt")); !why.isEmpty())
            QSKIP(qPrintable(why));
        QVERIFY(QFile::copy(container, path("mnt/stick.kvxdata")));
        const Package_Result r = run_decryption({path("mnt/stick.kvxdata")});
        QVERIFY2(r.is_ok, qPrintable(r.errors.join('\n')));
        const QString out = path("mnt/stick/stick");
        QCOMPARE(tree(out), (QMap<QString, QByteArray>{{"what_.txt", "question"}, {"10_30 notes.txt", "notes"},
                                                        {"sub", "/"}, {"sub/plain.txt", "plain"}}));
        QCOMPARE(r.warnings.size(), 2);
        QVERIFY2(r.warnings.filter("stick/what?.txt: ").filter("\"what_.txt\"").size() == 1, qPrintable(r.warnings.join('\n')));
        for (const QString rel : {"/what_.txt", "/10_30 notes.txt", "/sub/plain.txt", "/sub"})
            QCOMPARE(QFileInfo(out + rel).lastModified().toSecsSinceEpoch(), 1300000001);
        // Again: all of it already there.
        const Package_Result again = run_decryption({path("mnt/stick.kvxdata")});
        QVERIFY(again.is_ok && again.files_written == 0 && again.files_already_there == 3);
    }

    // A container whose files do not fit is refused before anything is
    // written, naming what it needs and what is free. A disk that is full
    // when files are written fails them with the system's reason and leaves
    // no part of them: here the files of a run started again are there with
    // the right sizes (so the run expects to need no room) but other
    // contents, so copies must be written.
    void a_small_or_full_disk_gives_the_reason()
    {
        make_file("big/zeros.bin", QByteArray(12 << 20, '\0'));
        for (int i = 0; i < 4; ++i)
            make_file(QStringLiteral("many/%1.bin").arg(i), random_bytes(100 << 10, quint32(i)));
        const QString big = container_of("big"), many = container_of("many");
        QVERIFY(!big.isEmpty() && !many.isEmpty());
        Mount mount;
        if (const QString why = mount.tmpfs("8m", path("full")); !why.isEmpty())
            QSKIP(qPrintable(why));
        QVERIFY(QFile::copy(big, path("full/big.kvxdata")) && QFile::copy(many, path("full/many.kvxdata")));
        const Package_Result refused = run_decryption({path("full/big.kvxdata")});
        QVERIFY(!refused.is_ok);
        QVERIFY2(refused.errors.join('\n').contains(QRegularExpression("not enough room: unpacking needs 12\\.\\d MiB, .* has \\d\\.\\d MiB free")),
                 qPrintable(refused.errors.join('\n')));
        QCOMPARE(entries(path("full")), QStringList({"big.kvxdata", "many.kvxdata"}));

        QVERIFY(run_decryption({path("full/many.kvxdata")}).is_ok);
        for (int i = 0; i < 4; ++i) {
            QFile changed(path(QStringLiteral("full/many/many/%1.bin").arg(i)));
            QVERIFY(changed.open(QIODevice::ReadWrite) && changed.write("changed") == 7);
        }
        const QMap<QString, QByteArray> before = tree(path("full/many"));
        QVERIFY(!write_file(path("full/filler"), QByteArray(8 << 20, 'f'))); // the disk is full now
        const Package_Result r = run_decryption({path("full/many.kvxdata")});
        QVERIFY2(r.errors.size() == 4, qPrintable(r.errors.join('\n')));
        for (const QString &e : r.errors)
            QVERIFY2(e.endsWith(": write failed: " + os::reason(ENOSPC)), qPrintable(e));
        QCOMPARE(tree(path("full/many")), before);
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
        if (QStandardPaths::findExecutable("setpriv").isEmpty())
            QSKIP("setpriv is not installed (Debian: util-linux)");
        // A folder recorded as mode 777 with 150 files, then 150 files at the
        // top: the folder is made before any file is complete.
        std::vector<Raw_Entry> archive{{"d/", {}, true, 040777}};
        QMap<QString, QByteArray> unpacked{{"d", "/"}};
        for (const QString name : {"d/f%1.txt", "t%1.txt"})
            for (int i = 0; i < 150; ++i) {
                const QString rel = QString(name).arg(i);
                archive.push_back({rel.toUtf8(), rel.toUtf8(), false, 0100644});
                unpacked.insert(rel, rel.toUtf8());
            }
        const QString box = path(QStringLiteral("box-%1").arg(QTest::currentDataTag()).replace(' ', '-'));
        const QString work = box + "/work";
        const passwd *nobody = ::getpwnam("nobody");
        make_file(box + "/secret/keep.txt", "root's");
        make_file(box + "/secret/d/inner.txt", "root's too");
        for (const QString rel : {"/secret/d/inner.txt", "/secret/d", "/secret/keep.txt", "/secret"})
            set_mode_and_time(box + rel, 0700, 1400000000);
        for (const QString &passage : {dir.path(), box})
            QVERIFY(QFile::setPermissions(passage, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
                                                       | QFile::ReadOther | QFile::ExeOther));
        QVERIFY(QDir().mkpath(work));
        if (sticky)
            QVERIFY(::chmod(QFile::encodeName(work).constData(), 01777) == 0);
        else
            QVERIFY(nobody && ::chown(QFile::encodeName(work).constData(), nobody->pw_uid, nobody->pw_gid) == 0);
        QVERIFY(write_container(work + "/c.kvxdata", archive));
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

QTEST_GUILESS_MAIN(Test_File_Systems)
#include "test_file_systems.moc"
