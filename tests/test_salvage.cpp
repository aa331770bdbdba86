// SPDX-License-Identifier: GPL-3.0-or-later
// Salvage of a container cut short: every entry wholly before the cut comes
// back byte-exact, and the run never counts as a success. (Without salvage
// a cut container is refused, writing nothing: test_cli.)

#include "container/zip_layout.h"
#include "engine_test_support.h"

#include <QStandardPaths>

using namespace test_support;

namespace {

struct Layout
{
    QList<qint64> ends;   // where each entry's bytes end, in archive order
    QStringList names;
    qint64 directory = 0; // where the central directory starts
};

// Where the entries of a plain archive lie, from its central directory.
Layout layout_of(const QByteArray &zip)
{
    using namespace zip_layout;
    Layout out;
    const auto *p = reinterpret_cast<const uchar *>(zip.constData());
    const qsizetype end = zip.lastIndexOf("PK\x05\x06");
    out.directory = le32(p + end + 16);
    const QByteArray dir = zip.mid(out.directory, le32(p + end + 12));
    QList<qint64> offsets;
    qint64 at = 0;
    Central_Entry c;
    while (parse_central(dir, &at, &c)) {
        offsets.append(c.local_offset);
        out.names.append(QString::fromUtf8(c.name));
    }
    // Each entry ends where the next begins: the one after it, or the directory.
    for (qsizetype i = 0; i < offsets.size(); ++i)
        out.ends.append(i + 1 < offsets.size() ? offsets[i + 1] : out.directory);
    return out;
}

// The files under root, relative path -> content.
QMap<QString, QByteArray> files_under(const QString &root)
{
    QMap<QString, QByteArray> out = tree(root);
    out.removeIf([](const auto &entry) { return entry.value() == "/"; });
    return out;
}

// How many of the files a tool takes from the cut archive match the originals.
int tool_count(const QString &tool, const QStringList &args, const QString &into,
               const QMap<QString, QByteArray> &originals)
{
    QDir().mkpath(into);
    QProcess p;
    p.setWorkingDirectory(into);
    p.start(tool, args);
    p.waitForFinished(-1);
    int good = 0;
    const QMap<QString, QByteArray> got = files_under(into);
    for (auto it = got.begin(); it != got.end(); ++it)
        good += originals.value(it.key(), "\x01missing") == it.value() ? 1 : 0;
    return good;
}

} // namespace

class Test_Salvage : public QObject, public Scratch
{
    Q_OBJECT

    QString container;
    QByteArray plain;
    Layout layout;
    QMap<QString, QByteArray> originals; // "t/NN.ext" -> content

    // Salvages c (a .kvxdata) into the folder beside it: the run never counts
    // as a success, and every file it wrote is byte-exact; the files written.
    Package_Result salvage(const QString &c, QMap<QString, QByteArray> *got)
    {
        Unpack_Options salvage;
        salvage.salvage = true;
        const Package_Result r = run_decryption(QStringList{c}, nullptr, salvage);
        *got = files_under(c.chopped(QStringLiteral(".kvxdata").size()));
        [&] {
            QVERIFY(!r.is_ok);
            for (auto it = got->cbegin(); it != got->cend(); ++it)
                QVERIFY2(originals.value(it.key()) == it.value(), qPrintable(it.key()));
        }();
        return r;
    }

private slots:
    void initTestCase()
    {
        // 50 files of varied sizes, compressible and not, some spanning chunks.
        for (int i = 0; i < 50; ++i) {
            const int size = (i * i * 389) % 23000 + (i % 7 == 0 ? 0 : 1);
            const QByteArray data = i % 3 == 0 ? random_bytes(size, quint32(i))
                                               : QByteArray("line of text ").repeated(size / 13 + 1).left(size);
            const QString name = QStringLiteral("t/%1%2").arg(i, 2, 10, QChar('0')).arg(i % 10 == 5 ? "/deep.txt" : ".bin");
            make_file(name, data);
            originals.insert(name, data);
        }
        const Package_Result made = run_encryption({}, {path("t")}, path("made"));
        QVERIFY2(made.is_ok, qPrintable(made.errors.join('\n')));
        container = made.container_path;
        plain = transformed(read_all(container), Cipher_Direction::Decrypt);
        layout = layout_of(plain);
        QVERIFY(layout.names.size() >= 50);
    }

    void cut_short_data()
    {
        QTest::addColumn<qint64>("cut");
        const qint64 size = plain.size();
        QTest::newRow("inside the second entry") << layout.ends[0] + 40;
        QTest::newRow("at a chunk boundary") << size / 2 / kvx_chunk_size * kvx_chunk_size;
        QTest::newRow("inside a chunk") << size / 3 + 1234;
        QTest::newRow("just before the directory") << layout.directory - 1;
        QTest::newRow("inside the central directory") << layout.directory + 100;
        QTest::newRow("one byte short") << size - 1;
    }
    void cut_short()
    {
        QFETCH(qint64, cut);
        const QString cut_dir = path(QStringLiteral("cut%1").arg(cut));
        const QString cut_container = cut_dir + "/c.kvxdata";
        QVERIFY(write_file(cut_container, read_all(container).left(cut)));

        QMap<QString, QByteArray> got;
        const Package_Result r = salvage(cut_container, &got);
        // Every entry wholly inside the chunks before the cut is back.
        const qint64 intact = cut / kvx_chunk_size * kvx_chunk_size;
        for (qsizetype i = 0; i < layout.names.size(); ++i)
            if (layout.ends[i] <= intact && !layout.names[i].endsWith('/'))
                QVERIFY2(got.contains(layout.names[i]), qPrintable(layout.names[i]));
        // One line names the damage (its count of what came back: test_cli).
        QCOMPARE(r.errors.size(), 1);
        QVERIFY2(r.errors[0].contains(QStringLiteral("damaged")), qPrintable(r.errors[0]));

        // At least as many whole files as 7-Zip and bsdtar take from the deciphered cut archive.
        const QString zip = cut_dir + "/cut.zip";
        QVERIFY(write_file(zip, transformed(read_all(cut_container), Cipher_Direction::Decrypt)));
        for (const auto &[tool, args] : {std::pair{QStringLiteral("7zz"), QStringList{"x", "-y", zip}},
                                         std::pair{QStringLiteral("bsdtar"), QStringList{"-xf", zip}}}) {
            if (QStandardPaths::findExecutable(tool).isEmpty())
                continue;
            const int theirs = tool_count(tool, args, cut_dir + "/" + tool, originals);
            QVERIFY2(got.size() >= theirs, qPrintable(QStringLiteral("%1 < %2's %3").arg(got.size()).arg(tool).arg(theirs)));
        }
    }

    // Damaged entries in the middle (data that fails its checksum, a header
    // that is no longer one): the entries after them still come back.
    void after_a_damaged_entry()
    {
        qsizetype hit = 20;
        while (layout.names[hit].endsWith('/') || layout.ends[hit] - layout.ends[hit - 1] < 200)
            ++hit;
        const qsizetype unheaded = hit + 2;
        QByteArray broken = plain;
        broken[layout.ends[hit] - 10] = char(broken[layout.ends[hit] - 10] ^ 0x55);
        broken[layout.ends[unheaded - 1]] = 'X'; // its local header's signature
        const QString c = path("mid.kvxdata");
        QVERIFY(write_file(c, transformed(broken, Cipher_Direction::Encrypt)));
        QMap<QString, QByteArray> got;
        const Package_Result r = salvage(c, &got);
        QVERIFY2(r.errors.last().contains(layout.names[hit] + " (damaged)"), qPrintable(r.errors.last()));
        for (qsizetype i = 0; i < layout.names.size(); ++i)
            if (!layout.names[i].endsWith('/') && i != hit && i != unheaded)
                QVERIFY2(got.contains(layout.names[i]), qPrintable(layout.names[i]));
    }

    // A streamed archive (data descriptors, sizes unknown in the local
    // headers): a descriptor that no longer matches costs at most its entry,
    // and a cut only what lies past it.
    void streamed_archive_data()
    {
        // The entry whose descriptor is damaged (and the cut in the central
        // directory), or -1: no damage, and the cut in the middle.
        QTest::addColumn<int>("damaged_descriptor");
        QTest::newRow("a descriptor damaged") << 7;
        QTest::newRow("cut in half") << -1;
    }
    void streamed_archive()
    {
        QFETCH(int, damaged_descriptor);
        const QString name = QStringLiteral("stream%1").arg(damaged_descriptor);
        QProcess zip;
        zip.setWorkingDirectory(dir.path());
        zip.start("sh", {"-c", "zip -qr - t | cat > " + name + ".zip"});
        QVERIFY(zip.waitForFinished(60000) && zip.exitCode() == 0);
        QByteArray bytes = read_all(path(name + ".zip"));
        const Layout streamed = layout_of(bytes);
        QVERIFY(bytes.contains("PK\x07\x08"));
        if (damaged_descriptor >= 0) {
            // Its compressed size: signature, checksum, compressed and full size.
            const qint64 at = streamed.ends[damaged_descriptor] - 8;
            bytes[at] = char(bytes[at] ^ 0x01);
        }
        const qint64 cut = damaged_descriptor < 0 ? bytes.size() / 2 : streamed.directory + 100;
        QVERIFY(write_file(path(name + ".kvxdata"), transformed(bytes, Cipher_Direction::Encrypt).left(cut)));

        QMap<QString, QByteArray> got;
        salvage(path(name + ".kvxdata"), &got);
        const qint64 intact = cut / kvx_chunk_size * kvx_chunk_size;
        for (qsizetype i = 0; i < streamed.names.size(); ++i) {
            const bool expected = !streamed.names[i].endsWith('/') && i != damaged_descriptor && streamed.ends[i] <= intact;
            QVERIFY2(!expected || got.contains(streamed.names[i]), qPrintable(streamed.names[i]));
        }
    }
};

QTEST_GUILESS_MAIN(Test_Salvage)
#include "test_salvage.moc"
