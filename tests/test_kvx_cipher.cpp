// SPDX-License-Identifier: GPL-3.0-or-later
// The chunk transform, and the output that enciphers an archive on its way
// into the container.

#include "engine_test_support.h"
#include "container/archive_output.h"

using namespace test_support;

namespace {

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

class Test_Kvx_Cipher : public QObject
{
    Q_OBJECT

private slots:
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
        QTemporaryDir dir;
        for (const bool encipher : {false, true}) {
            QByteArray plain = random_bytes(size, quint32(size) + 1);
            const QString name = dir.filePath(encipher ? "container" : "archive");
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
        QTemporaryDir dir;
        for (const qint64 limit : {qint64(10000), Archive_Output::capacity + 100}) {
            os::File file;
            QCOMPARE(file.create_new(QFile::encodeName(dir.filePath(QString::number(limit)))), 0);
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

QTEST_GUILESS_MAIN(Test_Kvx_Cipher)
#include "test_kvx_cipher.moc"
