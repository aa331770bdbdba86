// SPDX-License-Identifier: GPL-3.0-or-later
// Unpacking onto file systems that are not the usual Linux disk: a USB
// stick's exFAT through FUSE, and a disk too small or filling up. Each runs
// on a real file system mounted for the test, which needs root; elsewhere
// the cases skip, saying why.

#include "engine_test_support.h"

#include <QRegularExpression>
#include <QStandardPaths>

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

// A file system mounted at a folder for as long as the object lives: an
// exFAT image through a loop device and FUSE, or a small tmpfs.
class Mount
{
public:
    // Empty when it is mounted, else why not.
    QString exfat(const QString &image, const QString &at)
    {
        for (const char *tool : {"mkfs.exfat", "losetup", "mount.exfat-fuse"})
            if (QStandardPaths::findExecutable(tool, {"/usr/sbin", "/sbin", "/usr/bin"}).isEmpty())
                return QStringLiteral("%1 is not installed (Debian: exfatprogs, exfat-fuse)").arg(tool);
        if (!QFileInfo::exists("/dev/fuse"))
            return QStringLiteral("no /dev/fuse");
        QFile file(image);
        if (!file.open(QIODevice::WriteOnly) || !file.resize(32 << 20))
            return QStringLiteral("cannot make the image");
        file.close();
        if (!run_quietly("mkfs.exfat", {image}) || !run_quietly("losetup", {"-f", "--show", image}, &device))
            return QStringLiteral("cannot make a loop device for the image");
        QDir().mkpath(at);
        if (!run_quietly("mount.exfat-fuse", {device, at}))
            return QStringLiteral("mount.exfat-fuse failed");
        mounted = at;
        return QString();
    }

    QString tmpfs(const QString &size, const QString &at)
    {
        QDir().mkpath(at);
        if (!run_quietly("mount", {"-t", "tmpfs", "-o", "size=" + size, "tmpfs", at}))
            return QStringLiteral("mount -t tmpfs failed");
        mounted = at;
        return QString();
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
};

QString why_not_root()
{
    return ::geteuid() == 0 ? QString() : QStringLiteral("mounting a file system for the test needs root");
}

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
        if (const QString why = why_not_root(); !why.isEmpty())
            QSKIP(qPrintable(why));
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
};

QTEST_GUILESS_MAIN(Test_File_Systems)
#include "test_file_systems.moc"
