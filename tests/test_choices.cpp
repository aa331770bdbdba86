// SPDX-License-Identifier: GPL-3.0-or-later
// What people choose for a run: where the result goes, what the container is
// called, which entries are taken or left out, and how hard it is deflated.

#include "engine_test_support.h"

#include "core/path_patterns.h"

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

using namespace test_support;

class Test_Choices : public QObject, Scratch
{
    Q_OBJECT

    // as_user: as the user nobody when the tests run as root (CI), so that
    // permissions are what an ordinary user meets.
    Cli_Run cli(const QStringList &args, bool as_user = false)
    {
        const passwd *nobody = as_user && ::geteuid() == 0 ? ::getpwnam("nobody") : nullptr;
        const uid_t uid = nobody ? nobody->pw_uid : 0;
        const gid_t gid = nobody ? nobody->pw_gid : 0;
        return run_cli(args, dir.path(), {}, {}, [uid, gid] {
            if (uid && (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0))
                ::_exit(127);
        });
    }

    // Nested folders, names with spaces, dots and beyond ASCII.
    QString container;
    const QMap<QString, QByteArray> source{
        {"t", "/"},
        {"t/.git", "/"},
        {"t/.git/config", "c"},
        {"t/a b", "/"},
        {"t/a b/c.d.txt", "spaced"},
        {"t/a b/deep", "/"},
        {"t/a b/deep/x.tmp", "tmp"},
        {"t/é", "/"},
        {"t/é/ünï.txt", "accented"},
        {"t/é/notes.tmp", "tmp2"},
        {"t/top.txt", "top"},
    };

private slots:
    void initTestCase()
    {
        make_tree("src", source);
        const Cli_Run r = cli({"encrypt", "-o", path("tree"), path("src/t")});
        QVERIFY2(r.exit_code == 0, qPrintable(r.err));
        container = path("tree.kvxdata");
        QCOMPARE(r.out.trimmed(), container);
    }

    void patterns_data()
    {
        QTest::addColumn<QByteArray>("pattern");
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<bool>("takes");
        const struct { const char *pattern, *path; bool takes; } rows[] = {
            {"*.txt", "a.txt", true},
            {"*.txt", "d/a.txt", false},         // "*" stays in its folder
            {"**/*.txt", "a.txt", true},         // "**/" may be no folder at all
            {"**/*.txt", "d/e/a.txt", true},
            {"d/**", "d/e/a.txt", true},
            {"d", "d/e/a.txt", true},            // a folder takes what is under it
            {"d/", "d/e/", true},
            {"d", "dd/a.txt", false},
            {"?.txt", "ü.txt", true},            // one character, two bytes
            {"a?b", "a/b", false},
            {"[a-c]x", "bx", true},
            {"[!a-c]x", "bx", false},
            {"[^a-c]x", "dx", true},
            {"a\\*", "a*", true},
            {"a\\*", "ab", false},
            {"[x", "[x", true},                  // an unclosed class is a literal
            {"./a b/*", "a b/c.d", true},
        };
        for (const auto &r : rows)
            QTest::newRow(qPrintable(QStringLiteral("%1 ~ %2").arg(QString::fromUtf8(r.pattern), QString::fromUtf8(r.path))))
                << QByteArray(r.pattern) << QByteArray(r.path) << r.takes;
    }

    void patterns()
    {
        QFETCH(QByteArray, pattern);
        QFETCH(QByteArray, path);
        QFETCH(bool, takes);
        QCOMPARE(Path_Patterns({pattern}).take(path), takes);
    }

    // -i takes exactly what matches, and the folders leading to it; a pattern
    // that matches nothing fails the container and writes nothing. (What a
    // pattern matches: the table above.)
    void unpack_chosen_entries_data()
    {
        QTest::addColumn<QStringList>("patterns");
        QTest::addColumn<QStringList>("expected"); // empty: the run fails
        QTest::newRow("folder with space") << QStringList{"t/a b"}
                                           << QStringList{"t", "t/a b", "t/a b/c.d.txt", "t/a b/deep", "t/a b/deep/x.tmp"};
        QTest::newRow("two patterns, non-ASCII") << QStringList{"t/é/ü*", "t/.git/"}
                                                 << QStringList{"t", "t/.git", "t/.git/config", "t/é", "t/é/ünï.txt"};
        QTest::newRow("matches nothing") << QStringList{"t/*.txt", "t/nothing*"} << QStringList{};
    }

    void unpack_chosen_entries()
    {
        QFETCH(QStringList, patterns);
        QFETCH(QStringList, expected);
        const QString dest = path("chosen/" + QString(QTest::currentDataTag()));
        QVERIFY(QDir().mkpath(dest));
        QStringList args{"decrypt", "-C", dest};
        for (const QString &p : patterns)
            args << "-i" << p;
        const Cli_Run r = cli(args << container);
        if (expected.isEmpty()) {
            QCOMPARE(r.exit_code, 1);
            QVERIFY2(r.err.contains("\"t/nothing*\"") && !r.err.contains("\"t/*.txt\""), qPrintable(r.err));
            QVERIFY(entries(dest).isEmpty());
            return;
        }
        QVERIFY2(r.exit_code == 0, qPrintable(r.err));
        QCOMPARE(tree(dest + "/tree").keys(), expected);
    }

    // -x leaves out exactly what matches, and counts it.
    void pack_leaving_out_data()
    {
        QTest::addColumn<QStringList>("patterns");
        QTest::addColumn<QStringList>("left_out");
        QTest::newRow("folder") << QStringList{"t/.git"} << QStringList{"t/.git", "t/.git/config"};
        QTest::newRow("two") << QStringList{"t/a b/deep", "t/é/ü*"}
                             << QStringList{"t/a b/deep", "t/a b/deep/x.tmp", "t/é/ünï.txt"};
    }

    void pack_leaving_out()
    {
        QFETCH(QStringList, patterns);
        QFETCH(QStringList, left_out);
        const QString name = path("left-" + QString(QTest::currentDataTag()).replace(' ', '-'));
        QStringList args{"encrypt", "-o", name};
        for (const QString &p : patterns)
            args << "-x" << p;
        const Cli_Run r = cli(args << path("src/t"));
        QVERIFY2(r.exit_code == 0, qPrintable(r.err));
        QCOMPARE(r.err.contains(QStringLiteral("%1 entries left out").arg(left_out.size())), !left_out.isEmpty());
        const QString dest = path("left-out/" + QString(QTest::currentDataTag()));
        QVERIFY(QDir().mkpath(dest));
        QCOMPARE(cli({"decrypt", "-C", dest, name + ".kvxdata"}).exit_code, 0);
        QMap<QString, QByteArray> expected = source;
        for (const QString &k : left_out)
            expected.remove(k);
        QCOMPARE(tree(dest + "/" + QFileInfo(name).fileName()), expected);
    }

    // -o adds the suffix when it is missing and never replaces a file.
    void pack_as_named_file_data()
    {
        QTest::addColumn<QString>("given");
        QTest::addColumn<QString>("made");
        QTest::addColumn<QByteArray>("already_there"); // null: the name is free
        QTest::newRow("suffix added") << "named" << "named.kvxdata" << QByteArray();
        QTest::newRow("suffix kept") << "kept.kvxdata" << "kept.kvxdata" << QByteArray();
        QTest::newRow("file there, suffix added") << "taken2" << "taken2.kvxdata" << QByteArray("mine too");
        QTest::newRow("empty file there") << "empty" << "empty.kvxdata" << QByteArray("");
    }

    void pack_as_named_file()
    {
        QFETCH(QString, given);
        QFETCH(QString, made);
        QFETCH(QByteArray, already_there);
        const QString folder = path("named/" + QString(QTest::currentDataTag()));
        QVERIFY(QDir().mkpath(folder));
        if (!already_there.isNull())
            QVERIFY(write_file(folder + "/" + made, already_there));
        const Cli_Run r = cli({"encrypt", "-o", folder + "/" + given, path("src/t/top.txt")});
        if (already_there.isNull()) {
            QVERIFY2(r.exit_code == 0, qPrintable(r.err));
            QCOMPARE(r.out.trimmed(), folder + "/" + made);
            QCOMPARE(cli({"test", folder + "/" + made}).exit_code, 0);
        } else {
            QCOMPARE(r.exit_code, 1);
            QVERIFY2(r.err.contains("File exists"), qPrintable(r.err));
            QCOMPARE(read_all(folder + "/" + made), already_there);
        }
        // Nothing else: no temporary, no AddData.
        QCOMPARE(entries(folder), QStringList{made});
    }

    // A container where the user may not write (a disc, another user's
    // folder) unpacks with -C into a folder of the user's own.
    void unpack_from_read_only_folder()
    {
        const QString ro = path("ro"), out = path("rw");
        QVERIFY(QDir().mkpath(ro) && QDir().mkpath(out));
        QVERIFY(QFile::copy(container, ro + "/tree.kvxdata"));
        // Others reach the scratch folder, may write only into out.
        QVERIFY(::chmod(QFile::encodeName(dir.path()), 0755) == 0 && ::chmod(QFile::encodeName(ro), 0555) == 0
                && ::chmod(QFile::encodeName(out), 0777) == 0
                && ::chmod(QFile::encodeName(ro + "/tree.kvxdata"), 0444) == 0);
        const Cli_Run r = cli({"decrypt", "-C", out, ro + "/tree.kvxdata"}, true);
        ::chmod(QFile::encodeName(ro), 0755);
        QCOMPARE(entries(ro), QStringList{"tree.kvxdata"});
        QVERIFY2(r.exit_code == 0, qPrintable(r.err));
        QCOMPARE(r.out.trimmed(), out + "/tree");
        QCOMPARE(tree(out + "/tree"), source);
    }

    // -l reaches the archive: at 0 the file is stored as it is, where any
    // other level would deflate text this repetitive.
    void level_zero_stores()
    {
        const QByteArray text = QByteArray("stored as it is, never deflated; ").repeated(300);
        make_file("levels/text.txt", text);
        const Cli_Run r = cli({"encrypt", "-l", "0", "-o", path("levels/l0"), path("levels/text.txt")});
        QVERIFY2(r.exit_code == 0, qPrintable(r.err));
        QVERIFY(transformed(read_all(path("levels/l0.kvxdata")), Cipher_Direction::Decrypt).contains(text));
    }
};

QTEST_GUILESS_MAIN(Test_Choices)
#include "test_choices.moc"
