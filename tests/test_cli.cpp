// SPDX-License-Identifier: GPL-3.0-or-later
// corvanta-cli as a script sees it: output, exit status and messages.

#include "engine_test_support.h"

#include <QRegularExpression>
#include <QtEndian>

using namespace test_support;

namespace {

quint32 get32(const QByteArray &zip, qsizetype at) { return qFromLittleEndian<quint32>(zip.constData() + at); }
void put32(QByteArray &zip, qsizetype at, quint32 value) { qToLittleEndian(value, zip.data() + at); }

} // namespace

class Test_Cli : public QObject, Scratch
{
    Q_OBJECT

    Cli_Run cli(const QStringList &args, const QString &working_dir = QString())
    {
        return run_cli(args, working_dir.isEmpty() ? dir.path() : working_dir);
    }

    // A name shown raw could steer the terminal: only line ends are control characters.
    static bool is_printable(const QString &text)
    {
        return std::none_of(text.cbegin(), text.cend(), [](QChar c) {
            return (c.unicode() < 0x20 && c != '\n') || (c.unicode() >= 0x7F && c.unicode() < 0xA0);
        });
    }

    // Started with the run held at a named point until it is cancelled; null
    // unless it says it is held there (each unpacking thread says so once).
    std::unique_ptr<QProcess> start_held(const QStringList &args, const QString &point, bool named_temporaries = false)
    {
        QStringList env{"CORVANTA_HOLD_AT=" + point};
        if (named_temporaries)
            env << "CORVANTA_NAMED_TEMPORARIES=1";
        std::unique_ptr<QProcess> run = start_cli(args, dir.path(), env);
        run->setReadChannel(QProcess::StandardError);
        QByteArray told;
        while (!told.contains('\n') && run->waitForReadyRead(60000))
            told += run->readAllStandardError();
        return told.startsWith("corvanta-cli: held at " + point.toUtf8() + "\n") ? std::move(run) : nullptr;
    }

    // The archive of a container this program made, or of hand-made zips, with one kind of damage.
    QByteArray damaged_archive(const QString &damage)
    {
        const QString src = path("damage-src");
        if (!QFileInfo::exists(src)) {
            make_file("damage-src/src/keep.txt", "keep");
            make_file("damage-src/src/size.txt", "ten bytes!");
            make_file("damage-src/src/sub/real.txt", "real");
            if (!QFile::link("far/away", src + "/src/lnk")) // dangling: stored as a link
                return QByteArray();
        }
        if (damage == "duplicate" || damage == "climbing name") {
            const bool dup = damage == "duplicate";
            if (!write_zip(path("hand.zip"), {{dup ? "dup.txt" : "a.txt", "first"}, {dup ? "dup.txX" : "../x.txt", "second"}}))
                return QByteArray();
            return read_all(path("hand.zip")).replace("dup.txX", "dup.txt");
        }
        const Package_Result made = run_encryption({}, {src + "/src"}, path("damage-made"));
        QByteArray zip = transformed(read_all(made.container_path), Cipher_Direction::Decrypt);
        QFile::remove(made.container_path);
        // A local header's name starts 30 bytes in, a central entry's 46; the local header comes first.
        const auto local = [&](const char *name) { return zip.indexOf(name) - 30; };
        const auto central = [&](const char *name) { return zip.lastIndexOf(name) - 46; };
        if (damage == "central name") {
            zip[central("src/keep.txt") + 46 + 4] ^= 0x01;
        } else if (damage == "overlap") {
            // Two central entries for one local header's data, as a zip bomb has them.
            const qsizetype keep = central("src/keep.txt"), size = central("src/size.txt");
            for (int field : {10, 16, 20, 24, 42})
                put32(zip, size + field, get32(zip, keep + field));
            zip.replace(size + 46, 12, zip.mid(keep + 46, 12));
        } else if (damage == "link target") {
            zip.replace("far/away", "far/awry"); // the link's data
        } else if (damage == "size") {
            put32(zip, local("src/size.txt") + 22, 11);
            put32(zip, central("src/size.txt") + 24, 11);
        } else if (damage == "crc") {
            for (const qsizetype at : {local("src/keep.txt") + 14, central("src/keep.txt") + 16})
                zip[at] ^= 0x01;
        }
        return zip;
    }

private slots:
    void initTestCase()
    {
        make_file("junk.kvxdata", QByteArray(10000, 'j'));
        make_file("in/a.txt", "a");
        QCOMPARE(cli({"encrypt", "-o", path("good"), path("in")}).exit_code, 0);
        make_file("cut.kvxdata", read_all(path("good.kvxdata")).chopped(1));
        QVERIFY(QDir().mkpath(path("folder.kvxdata")) && make_pipe(path("pipe.kvxdata")));
    }

    // Usage errors exit with 2, failed items with 1 and one line each; the
    // folder of a container unpacked is named on standard output also when
    // others failed, or when it was salvaged (what salvage gives: test_salvage).
    void exit_status_and_messages_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("exit_code");
        QTest::addColumn<QStringList>("failed"); // for a usage error: the mistake its first line names
        QTest::addColumn<QString>("out");
        for (const auto &[args, named] : {std::pair{QStringList{}, ""}, {{"frobnicate"}, "unknown command \"frobnicate\""},
                                          {{"--bogus"}, "unknown option \"--bogus\""}, {{"encrypt"}, ""}, {{"decrypt"}, ""},
                                          {{"encrypt", "-C"}, ""}, {{"encrypt", "--bogus", "x"}, "unknown option \"--bogus\""}})
            QTest::newRow(qPrintable("usage: " + args.join(' '))) << args << 2 << (*named ? QStringList{named} : QStringList()) << "";
        QTest::newRow("bad containers") << QStringList{"decrypt", "junk.kvxdata", "good.kvxdata", "absent.kvxdata"} << 1
                                        << QStringList{"junk.kvxdata", "absent.kvxdata"} << path("good");
        QTest::newRow("list foreign") << QStringList{"list", "junk.kvxdata", "absent.kvxdata"} << 1
                                      << QStringList{"junk.kvxdata", "absent.kvxdata"} << "";
        QTest::newRow("salvage") << QStringList{"decrypt", "--salvage", "cut.kvxdata"} << 1
                                 << QStringList{"salvage recovered"} << path("cut");
        QTest::newRow("test foreign") << QStringList{"test", "junk.kvxdata"} << 1 << QStringList{"junk.kvxdata"} << "";
        // A folder, a pipe or a device is refused with the same words by every command.
        const QStringList odd{"folder.kvxdata", "pipe.kvxdata", "/dev/zero"};
        const QStringList not_files{"folder.kvxdata: not a regular file", "pipe.kvxdata: not a regular file",
                                    "/dev/zero: not a regular file"};
        for (const QString command : {"list", "test", "decrypt"})
            QTest::newRow(qPrintable(command + ": not files")) << QStringList(command) + odd << 1 << not_files << "";
    }

    void exit_status_and_messages()
    {
        QFETCH(QStringList, args);
        QFETCH(int, exit_code);
        QFETCH(QStringList, failed);
        QFETCH(QString, out);
        const Cli_Run r = cli(args);
        QCOMPARE(r.exit_code, exit_code);
        QCOMPARE(r.out.trimmed(), out);
        QVERIFY(!r.err.isEmpty());
        const QStringList lines = r.err.trimmed().split('\n');
        // A usage error is one line and a pointer to the help, not the help itself.
        if (exit_code == 2) {
            QVERIFY2(lines.size() == 2 && lines[1].contains("--help"), qPrintable(r.err));
            QVERIFY2(failed.isEmpty() || lines[0] == "corvanta-cli: " + failed.value(0), qPrintable(r.err));
            return;
        }
        QVERIFY2(lines.size() == failed.size(), qPrintable(r.err));
        for (const QString &name : failed)
            QVERIFY2(lines.filter(name).size() == 1, qPrintable(r.err));
        // Nothing is made beside a container that is not a regular file.
        QVERIFY(!QFileInfo::exists(path("folder")) && !QFileInfo::exists(path("pipe")));
    }

    void help_and_round_trip()
    {
        QCOMPARE(cli({"--version"}).out.trimmed(), QStringLiteral("corvanta-cli " CORVANTA_VERSION));

        make_file("work/in/sub/a, b.txt", "data");
        make_file("work/single.txt", "single");
        QVERIFY(make_pipe(path("work/in/pipe")));
        const Cli_Run enc = cli({"encrypt", "-C", path("base"), "in", "single.txt"}, path("work"));
        QCOMPARE(enc.exit_code, 0);
        // No progress line when stderr is not a terminal; what was left out is named.
        QCOMPARE(enc.err.count('\n'), 1);
        QVERIFY2(enc.err.contains("in/pipe"), qPrintable(enc.err));
        const QString container = enc.out.trimmed();
        QVERIFY(container.startsWith(path("base/AddData/")) && container.endsWith(".kvxdata"));

        // list shows every entry (size, time, path last; folders end in "/"),
        // test says OK; neither writes anything.
        const QMap<QString, QByteArray> before = tree(path("base"));
        const QStringList listed = cli({"list", container}).out.trimmed().split('\n');
        QCOMPARE(listed.size(), 4);
        QVERIFY2(listed[0].endsWith("  in/") && listed[2].simplified().startsWith("4 20")
                     && listed[2].endsWith("  in/sub/a, b.txt"), qPrintable(listed.join('\n')));
        QCOMPARE(cli({"test", container}).out, container + ": OK\n");
        QCOMPARE(tree(path("base")), before);

        const QMap<QString, QByteArray> expected{
            {"in", "/"}, {"in/sub", "/"}, {"in/sub/a, b.txt", "data"}, {"single.txt", "single"}};
        QCOMPARE(tree(cli({"decrypt", container}).out.trimmed()), expected);

        // The default base is the current directory; --verify reads the whole container back first.
        QVERIFY(cli({"encrypt", "--verify", "single.txt"}, path("work")).out.startsWith(path("work/AddData/")));
    }

    // One judgement of a container for test, list and decrypt. Damage to its
    // structure (headers that disagree, entries that overlap or leave the
    // archive) is refused by all three before anything is written. Damage to
    // one entry is named by test and decrypt, which unpacks every sound entry;
    // list reads no data, so it names only entries refused by their names.
    // Duplicate names are no damage: the second one is numbered.
    void test_list_and_decrypt_agree_data()
    {
        QTest::addColumn<QString>("damage");
        QTest::addColumn<QList<int>>("exit_codes"); // test, list, decrypt
        QTest::addColumn<QStringList>("unpacked");  // what decrypt leaves, below its folder
        const QStringList sound{"src", "src/keep.txt", "src/lnk", "src/size.txt", "src/sub", "src/sub/real.txt"};
        QTest::newRow("sound") << "" << QList<int>{0, 0, 0} << sound;
        QTest::newRow("a name in the central directory") << "central name" << QList<int>{1, 1, 1} << QStringList();
        QTest::newRow("overlapping entries") << "overlap" << QList<int>{1, 1, 1} << QStringList();
        QTest::newRow("a link target, its CRC kept") << "link target" << QList<int>{1, 0, 1}
                                                     << QStringList(sound).filter(QRegularExpression("^(?!src/lnk)"));
        QTest::newRow("a wrong size in both headers") << "size" << QList<int>{1, 0, 1}
                                                      << QStringList(sound).filter(QRegularExpression("^(?!src/size)"));
        QTest::newRow("a CRC in both headers") << "crc" << QList<int>{1, 0, 1}
                                               << QStringList(sound).filter(QRegularExpression("^(?!src/keep)"));
        QTest::newRow("a name leading out") << "climbing name" << QList<int>{1, 1, 1} << QStringList{"a.txt"};
        QTest::newRow("duplicate names") << "duplicate" << QList<int>{0, 0, 0} << QStringList{"dup (2).txt", "dup.txt"};
    }

    void test_list_and_decrypt_agree()
    {
        QFETCH(QString, damage);
        QFETCH(QList<int>, exit_codes);
        QFETCH(QStringList, unpacked);
        const QString box = path(QStringLiteral("agree/") + QTest::currentDataTag());
        QByteArray zip = damaged_archive(damage);
        QVERIFY(!zip.isEmpty());
        QVERIFY(write_file(box + "/c.kvxdata", transformed(zip, Cipher_Direction::Encrypt)));
        const Cli_Run test = cli({"test", box + "/c.kvxdata"}), list = cli({"list", box + "/c.kvxdata"});
        const Cli_Run decrypt = cli({"decrypt", box + "/c.kvxdata"});
        QCOMPARE((QList<int>{test.exit_code, list.exit_code, decrypt.exit_code}), exit_codes);
        QCOMPARE(tree(box + "/c").keys(), unpacked);
        // Each damaged entry is named with the same reason by test and decrypt.
        for (const QString &line : test.err.trimmed().split('\n', Qt::SkipEmptyParts))
            QVERIFY2(decrypt.err.contains(line), qPrintable(line + " | " + decrypt.err));
    }

    // -h and --help are options before "--" only: after it they are paths,
    // and a script packing a file named -h gets it packed.
    void help_is_an_option_before_double_dash_only_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("exit_code");
        QTest::addColumn<QString>("packed"); // the one entry of the container made, if any
        QTest::newRow("help after a path") << QStringList{"encrypt", "x", "--help"} << 0 << "";
        QTest::newRow("-h after --") << QStringList{"encrypt", "--", "-h"} << 0 << "-h";
        QTest::newRow("-h as the folder of -C") << QStringList{"encrypt", "-C", "-h", "--", "--help"} << 1 << "";
        QTest::newRow("--help before --") << QStringList{"encrypt", "--help", "--", "-h"} << 0 << "";
        QTest::newRow("a container named -h") << QStringList{"list", "--", "-h"} << 1 << "";
    }

    void help_is_an_option_before_double_dash_only()
    {
        QFETCH(QStringList, args);
        QFETCH(int, exit_code);
        QFETCH(QString, packed);
        const QString work = path(QStringLiteral("dash/") + QTest::currentDataTag());
        make_file(work + "/-h", "not help");
        make_file(work + "/--help", "not help either");
        const Cli_Run r = cli(args, work);
        QCOMPARE(r.exit_code, exit_code);
        QCOMPARE(r.out.startsWith("Usage:"), packed.isEmpty() && exit_code == 0);
        QCOMPARE(QFileInfo::exists(work + "/AddData"), !packed.isEmpty());
        if (!packed.isEmpty())
            QVERIFY2(cli({"list", r.out.trimmed()}).out.endsWith("  " + packed + "\n"), qPrintable(r.out));
    }

    // Names that would retitle or clear the terminal, hide behind a carriage
    // return or span two lines are listed, unpacked and named in messages
    // escaped as ls -b escapes them; unpacked, they keep their real bytes.
    void names_are_shown_escaped_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QString>("shown");
        QTest::newRow("retitle") << QByteArray("\x1b]0;owned\a.txt") << "\\x1b]0;owned\\a.txt";
        QTest::newRow("newline") << QByteArray("two\nlines") << "two\\nlines";
        QTest::newRow("C1 control") << QByteArray("csi\xc2\x9b" "2J") << "csi\\xc2\\x9b2J";
        QTest::newRow("delete") << QByteArray("del\x7f") << "del\\x7f";
        QTest::newRow("tab and UTF-8") << QByteArray("t\tr\xc3\xa9") << "t\\tr\u00e9";
        QTest::newRow("refused") << QByteArray("../\x1b[2Jout") << "../\\x1b[2Jout";
    }

    void names_are_shown_escaped()
    {
        QFETCH(QByteArray, name);
        QFETCH(QString, shown);
        const QString box = path(QStringLiteral("escaped/") + QTest::currentDataTag());
        QVERIFY(QDir().mkpath(box) && write_container(box + "/c.kvxdata", {{name, "hostile"}}));
        const bool refused = name.startsWith("../");
        const Cli_Run list = cli({"list", box + "/c.kvxdata"}), decrypt = cli({"decrypt", box + "/c.kvxdata"});
        for (const Cli_Run &r : {list, decrypt})
            QVERIFY2(is_printable(r.out) && is_printable(r.err), qPrintable(r.out + r.err));
        QCOMPARE(list.exit_code, refused ? 1 : 0);
        QCOMPARE(list.out.count('\n'), 1);
        QVERIFY2(list.out.endsWith("  " + shown + "\n"), qPrintable(list.out));
        QVERIFY2(list.err.contains(shown) == refused && decrypt.err.contains(shown) == refused, qPrintable(decrypt.err));
        QMap<QByteArray, QByteArray> expected;
        if (!refused)
            expected.insert(name, "hostile");
        QCOMPARE(raw_tree(QFile::encodeName(box + "/c")), expected);
    }

    // What cannot be written to standard output fails the run, with the reason.
    void output_that_cannot_be_written_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("list") << QStringList{"list", "good.kvxdata"};
        QTest::newRow("help") << QStringList{"--help"};
    }

    void output_that_cannot_be_written()
    {
        QFETCH(QStringList, args);
        QProcess p;
        p.setWorkingDirectory(dir.path());
        p.setStandardOutputFile(QStringLiteral("/dev/full"));
        p.start(QStringLiteral(CORVANTA_CLI_PATH), args);
        const Cli_Run r = finish_cli(p);
        QCOMPARE(r.exit_code, 1);
        QCOMPARE(r.err, QStringLiteral("corvanta-cli: cannot write to standard output: ") + qt_error_string(ENOSPC) + '\n');
    }

    // A cancelled unpacking keeps what it finished, and says so.
    void interrupted_decryption_says_what_was_kept()
    {
        make_file("kept/in/a.txt", "a");
        make_file("kept/in/b.txt", "b");
        const Cli_Run enc = cli({"encrypt", "-C", path("kept"), path("kept/in")});
        QCOMPARE(enc.exit_code, 0);
        std::unique_ptr<QProcess> run = start_held({"decrypt", enc.out.trimmed()}, "file_unpacked");
        QVERIFY(run);
        ::kill(pid_t(run->processId()), SIGINT);
        const Cli_Run stopped = finish_cli(*run);
        QCOMPARE(stopped.exit_code, 1);
        QVERIFY2(stopped.err.contains("kept") && stopped.err.contains("again"), qPrintable(stopped.err));
    }

    // A run killed mid-way leaves no temporary that outlives the next run.
    // Ctrl+C, SIGTERM and SIGHUP (the terminal closed) cancel the run, which
    // removes its temporary and the folders it made itself.
    void killed_run_leaves_nothing_behind_data()
    {
        QTest::addColumn<bool>("named_temporaries");
        QTest::addColumn<int>("signal");
        for (const bool named : {false, true}) {
            const char *kind = named ? "named temporaries" : "unnamed temporaries";
            for (const int signal : {SIGKILL, SIGINT, SIGTERM, SIGHUP})
                QTest::newRow(qPrintable(QStringLiteral("%1, %2").arg(kind, QLatin1String(sigabbrev_np(signal)))))
                    << named << signal;
        }
    }

    void killed_run_leaves_nothing_behind()
    {
        QFETCH(bool, named_temporaries);
        QFETCH(int, signal);
        make_file("some/a.bin", random_bytes(256 * 1024, 1));
        const QString base = path(QStringLiteral("killed/") + QTest::currentDataTag());
        // Stopped once its private file is made in the working folder: it cannot end first.
        std::unique_ptr<QProcess> run = start_held({"encrypt", "-C", base, path("some")}, "archive_opened", named_temporaries);
        QVERIFY(run);
        ::kill(pid_t(run->processId()), signal);
        const Cli_Run stopped = finish_cli(*run);
        const bool cancelled = signal != SIGKILL;
        QCOMPARE(stopped.exit_code, cancelled ? 1 : -1);
        QCOMPARE(stopped.err, cancelled ? "corvanta-cli: " + cancelled_message() + "\n" : QString());
        if (cancelled)
            QVERIFY2(!QFileInfo::exists(base), qPrintable(entries(base).join(' ') + entries(base + "/AddData").join(' ')));
        else
            QCOMPARE(leftovers(base).isEmpty(), !named_temporaries);

        make_file("small.txt", "small");
        const Cli_Run next = run_cli({"encrypt", "-C", base, path("small.txt")}, dir.path(), {},
                                     named_temporaries ? QStringList{"CORVANTA_NAMED_TEMPORARIES=1"} : QStringList());
        QCOMPARE(next.exit_code, 0);
        QCOMPARE(entries(base + "/AddData"), QStringList({QFileInfo(next.out.trimmed()).fileName()}));
    }
};

QTEST_GUILESS_MAIN(Test_Cli)
#include "test_cli.moc"
