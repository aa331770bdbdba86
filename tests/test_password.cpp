// SPDX-License-Identifier: GPL-3.0-or-later
// Containers protected by a password: they come back whole with it, and
// without it (or with any change to them) nothing is read and nothing is
// written.

#include "container/archive_output.h"
#include "container/container_source.h"
#include "container/kvx_cipher.h"
#include "container/sealed_chunks.h"
#include "container/sealed_output.h"
#include "engine_test_support.h"

#include <unistd.h>

using namespace test_support;

namespace {

Password_Provider always(const QByteArray &given, QList<int> *attempts = nullptr)
{
    return [given, attempts](const QString &, int attempt, Password *out) {
        if (attempts)
            attempts->append(attempt);
        *out = Password(given);
        return true;
    };
}

// A header whose key takes no time to derive, for tests that open a
// container hundreds of times.
sealed::Header cheap_header()
{
    sealed::Header h = sealed::Header::fresh();
    h.operations = 1;
    h.memory = 8192;
    return h;
}

// The archive sealed under password into a container file at path, as the packer seals it.
bool write_sealed(const QString &path, const QByteArray &archive, const QByteArray &password,
                  const sealed::Header &header = cheap_header())
{
    sealed::Key key;
    if (!sealed::Key::derive(Password(password), header, &key))
        return false;
    os::File file;
    if (!QDir().mkpath(QFileInfo(path).absolutePath()) || file.create_new(QFile::encodeName(path)) != 0)
        return false;
    Archive_Output output(file, true);
    Sealed_Output sealed_output(output, header, key);
    return sealed_output.write(0, archive.constData(), archive.size()) && sealed_output.finish();
}

// The container's bytes inside the keyless cipher.
QByteArray inner(const QString &container)
{
    return transformed(read_all(container), Cipher_Direction::Decrypt);
}

} // namespace

class Test_Password : public QObject, Scratch
{
    Q_OBJECT

    // Without a terminal (in a session of its own).
    Cli_Run cli(const QStringList &args, const QByteArray &input = QByteArray())
    {
        return run_cli(args, dir.path(), input, {}, [] { ::setsid(); });
    }

    // A tree of files, folders, a link (to a folder: kept as a link) and empty ones.
    // big.bin outgrows the chunks held open, so its local header is sealed
    // again once its sizes are known.
    void make_tree(const QString &root)
    {
        QVERIFY(write_file(root + "/secret-name.txt", "the content") && write_file(root + "/sub/empty", "")
                && write_file(root + "/sub/big.bin", random_bytes(1200000, 7)) && QDir().mkpath(root + "/empty folder")
                && QFile::link("sub", root + "/link"));
    }

private slots:
    // Packed with a password (at the real cost), unpacked with it: the same
    // tree. Without it list and test say the container is protected; a
    // wrong one is asked three times and then refused, writing nothing. The
    // names are nowhere in the file.
    void a_password_round_trip()
    {
        make_tree(path("in/t"));
        Pack_Options options;
        options.password = Password(QByteArray("correct horse"));
        const Package_Result packed = run_encryption({}, {path("in/t")}, path("work"), nullptr, options);
        QVERIFY2(packed.is_ok, qPrintable(packed.errors.join('\n')));
        QVERIFY(!inner(packed.container_path).contains("secret-name"));
        QVERIFY(inner(packed.container_path).startsWith(QByteArray(sealed::magic, 8)));

        const QByteArray container = QFile::encodeName(packed.container_path);
        QStringList problems;
        QString reason;
        QVERIFY(!list_container(container, [](const Container_Entry &) {}, &problems, &reason));
        QVERIFY2(reason.contains("protected by a password"), qPrintable(reason));
        QVERIFY(!test_container(container, &problems, &reason));
        QVERIFY2(reason.contains("protected by a password"), qPrintable(reason));

        QList<int> attempts;
        Unpack_Options wrong;
        wrong.ask_password = always("Correct horse", &attempts);
        const Package_Result refused = run_decryption({packed.container_path}, nullptr, wrong);
        QVERIFY(!refused.is_ok);
        QVERIFY2(refused.errors.join('\n').contains("wrong password or damaged container"), qPrintable(refused.errors.join('\n')));
        QCOMPARE(attempts, (QList<int>{1, 2, 3}));
        QCOMPARE(entries(path("work/AddData")).size(), 1); // the container alone

        QVERIFY2(test_container(container, &problems, &reason, always("correct horse")), qPrintable(reason));
        QVERIFY2(problems.isEmpty(), qPrintable(problems.join('\n')));
        Unpack_Options right;
        right.ask_password = always("correct horse");
        const Package_Result unpacked = run_decryption({packed.container_path}, nullptr, right);
        QVERIFY2(unpacked.is_ok, qPrintable(unpacked.errors.join('\n')));
        QCOMPARE(tree(unpacked.output_folders.value(0) + "/t"), tree(path("in/t")));
    }

    // corvanta-cli takes the password from a file or standard input, never
    // from its command line or environment; -p without a terminal says so.
    // (A wrong one: a_password_round_trip.)
    void the_command_line_takes_a_password_data()
    {
        QTest::addColumn<QString>("option");
        QTest::newRow("a file") << "pw.txt";
        QTest::newRow("standard input") << "-";
    }
    void the_command_line_takes_a_password()
    {
        QFETCH(QString, option);
        const QString tag = QTest::currentDataTag();
        QVERIFY(write_file(path("pw.txt"), "line one\nline two\n"));
        const QByteArray input = option == "-" ? "line one\n" : "";
        QVERIFY(write_file(path(tag + "/t/a.txt"), "a") && write_file(path(tag + "/t/sub/b.txt"), "b"));
        const Cli_Run packed = cli({"encrypt", "--password-file", option, "-C", path(tag), path(tag + "/t")}, input);
        QVERIFY2(packed.exit_code == 0, qPrintable(packed.err));
        const QString container = packed.out.trimmed();

        const Cli_Run no_terminal = cli({"test", "-p", container});
        QVERIFY2(no_terminal.exit_code == 1 && no_terminal.err.contains("needs a terminal"), qPrintable(no_terminal.err));

        QVERIFY(cli({"list", "--password-file", option, container}, input).out.contains("t/sub/b.txt"));
        const Cli_Run unpacked = cli({"decrypt", "--password-file", option, "--", container}, input);
        QVERIFY2(unpacked.exit_code == 0, qPrintable(unpacked.err));
        QCOMPARE(tree(unpacked.out.trimmed() + "/t"), tree(path(tag + "/t")));
    }

    // While a run waits for its password on standard input, and after it
    // read it, the password is in neither its command line nor its environment.
    void the_password_never_shows_in_proc()
    {
        QVERIFY(write_file(path("t/a.txt"), "a"));
        const QByteArray secret = "never-in-proc-4711";
        const std::unique_ptr<QProcess> p = start_cli({"encrypt", "--password-file", "-", path("t")}, dir.path());
        QVERIFY(p->waitForStarted());
        const QString proc = QStringLiteral("/proc/%1/").arg(p->processId());
        const auto visible = [&] { return read_all(proc + "cmdline") + read_all(proc + "environ"); };
        QVERIFY(!visible().isEmpty() && !visible().contains(secret));
        p->write(secret + "\n");
        p->closeWriteChannel();
        QVERIFY(!visible().contains(secret));
        QCOMPARE(finish_cli(*p).exit_code, 0);
    }

    // Every single-bit change, spread over the header, the chunks and the
    // last chunk, and every cut at a chunk boundary: refused with a reason,
    // nothing written.
    void every_change_is_refused()
    {
        QVERIFY(write_zip(path("a.zip"), {{"a.txt", "some text"}, {"sub/", {}, true},
                                          {"sub/r.bin", random_bytes(3 * sealed::chunk_size + 1000, 11)}}));
        QVERIFY(write_sealed(path("good.kvxdata"), read_all(path("a.zip")), "pw"));
        const QByteArray good = inner(path("good.kvxdata"));
        Unpack_Options options;
        options.ask_password = always("pw");
        QVERIFY(run_decryption({path("good.kvxdata")}, nullptr, options).is_ok);

        std::vector<QByteArray> damaged;
        for (int i = 0; i < 500; ++i) {
            QByteArray d = good;
            const qsizetype at = qsizetype(qint64(i) * (good.size() - 1) / 499);
            d[at] = char(d[at] ^ (1 << (i % 8)));
            damaged.push_back(d);
        }
        for (qint64 cut = sealed::header_size; cut < good.size(); cut += sealed::stored_chunk_size)
            damaged.push_back(good.left(cut));
        for (size_t i = 0; i < damaged.size(); ++i) {
            const QString c = path(QStringLiteral("bad/%1.kvxdata").arg(i));
            QVERIFY(write_file(c, transformed(damaged[i], Cipher_Direction::Encrypt)));
            const Package_Result r = run_decryption({c}, nullptr, options);
            QVERIFY2(!r.is_ok && !r.errors.isEmpty(), qPrintable(QStringLiteral("change %1 passed").arg(i)));
            QVERIFY2(!QFileInfo::exists(path(QStringLiteral("bad/%1").arg(i))), qPrintable(QStringLiteral("change %1 wrote").arg(i)));
        }
    }

    // The reader opens every chunk it hands out, read whole or in part: a
    // chunk changed after the check before unpacking never comes out. The
    // chunks the check kept opened come from memory, as they were checked.
    void a_chunk_changed_after_the_check_is_refused()
    {
        const QByteArray data = random_bytes(3 * sealed::chunk_size, 5);
        const QByteArray name = QFile::encodeName(path("c.kvxdata"));
        QVERIFY(write_sealed(path("c.kvxdata"), data, "pw"));
        sealed::Key key;
        QString reason;
        os::File file;
        QVERIFY(file.open_read(name) == 0);
        QVERIFY2(unlock_container(std::move(file), "c", always("pw"), &key, &reason), qPrintable(reason));
        const qint64 chunk = sealed::chunk_size;
        Opened_Start opened;
        QVERIFY(verify_sealed_chunks(name, key, [] { return true; }, &reason, &opened, 2 * chunk + 100));
        QVERIFY(opened && opened->size == 2 * chunk);
        QByteArray changed = inner(path("c.kvxdata"));
        changed[sealed::stored_offset(1) + 100] ^= 1;
        QVERIFY(write_file(path("c.kvxdata"), transformed(changed, Cipher_Direction::Encrypt)));
        const struct { qint64 offset, length; bool ok; } reads[] = {
            {0, chunk, true}, {2 * chunk + 5, 100, true}, {chunk, chunk, false},
            {chunk + 10, 100, false}, {chunk - 10, 20, false}, {0, 3 * chunk, false},
        };
        for (const Opened_Start &kept : {Opened_Start(), opened}) {
            for (const auto &r : reads) {
                const Zip_Source_Ptr source(create_container_source(name, key, &reason, kept));
                QVERIFY(source && zip_source_open(source.get()) == 0
                        && zip_source_seek(source.get(), r.offset, SEEK_SET) == 0);
                QByteArray out(r.length, '\0');
                const zip_int64_t n = zip_source_read(source.get(), out.data(), zip_uint64_t(r.length));
                QCOMPARE(n, r.ok || kept ? zip_int64_t(r.length) : -1);
                QVERIFY(n < 0 || out == data.mid(r.offset, r.length));
                zip_source_close(source.get());
            }
        }
    }

    // The bytes the README gives for its example: anyone reading the format
    // from the README alone gets the same.
    void the_documented_test_vector()
    {
        sealed::Header header;
        header.operations = 1;
        header.memory = 8192;
        header.salt = QByteArray::fromHex("000102030405060708090a0b0c0d0e0f");
        QCOMPARE(header.bytes().toHex(), QByteArray("4b56585345414c00010100000100010000000020000000000000"
                                                     "000102030405060708090a0b0c0d0e0f"));
        sealed::Key key;
        QVERIFY(sealed::Key::derive(Password(QByteArray("password")), header, &key));
        const QByteArray plain = "PK\x03\x04 test vector";
        const QByteArray nonce(sealed::nonce_size, '\x01');
        QByteArray stored(sealed::nonce_size + plain.size() + sealed::tag_size, '\0');
        key.seal_with_nonce(0, true, plain.constData(), plain.size(), nonce.constData(), stored.data());
        QCOMPARE(stored.mid(sealed::nonce_size).toHex(), QByteArray("523613908215933c01fcd73b0f0650f9feef1e44406c5c7f77338fe97f82cbd8"));
    }
};

QTEST_GUILESS_MAIN(Test_Password)
#include "test_password.moc"
