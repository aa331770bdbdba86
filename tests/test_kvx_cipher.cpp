#include "job_control.h"
#include "kvx_cipher.h"

#include <QBuffer>
#include <QRandomGenerator>
#include <QTest>

namespace {

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray out;
    for (int v : values)
        out.append(char(v));
    return out;
}

QByteArray encrypted(QByteArray data)
{
    encrypt_chunk(data.data(), qint32(data.size()));
    return data;
}

QByteArray decrypted(QByteArray data)
{
    decrypt_chunk(data.data(), qint32(data.size()));
    return data;
}

// The transform written the plain way, one byte at a time, to check the fast one.
unsigned char reference_e(unsigned char x)
{
    const unsigned char n = static_cast<unsigned char>(~x);
    return static_cast<unsigned char>((n << 3) | (n >> 5));
}

QByteArray reference_container(const QByteArray &archive)
{
    QByteArray out = archive;
    for (qsizetype at = 0; at < out.size(); at += kvx_chunk_size) {
        const qsizetype n = qMin<qsizetype>(kvx_chunk_size, out.size() - at);
        unsigned char *b = reinterpret_cast<unsigned char *>(out.data() + at);
        for (qsizetype i = 0; i < n / 2; ++i) {
            const unsigned char a = b[i];
            const unsigned char c = b[n - 1 - i];
            b[i] = reference_e(c);
            b[n - 1 - i] = reference_e(a);
        }
    }
    return out;
}

QByteArray random_bytes(qsizetype size, quint32 seed)
{
    QRandomGenerator rng(seed);
    QByteArray out(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        out[i] = char(rng.bounded(256));
    return out;
}

QByteArray through_loop(const QByteArray &input, Cipher_Direction direction)
{
    QByteArray in_copy = input;
    QBuffer source(&in_copy);
    source.open(QIODevice::ReadOnly);
    QByteArray out;
    QBuffer destination(&out);
    destination.open(QIODevice::WriteOnly);
    QString error;
    if (!run_chunk_loop(source, destination, direction, nullptr, &error))
        qWarning() << error;
    return out;
}

// A device that fails after a given number of bytes, to stand for a full disk
// or a failing read.
class Failing_Device : public QIODevice
{
public:
    explicit Failing_Device(qint64 limit) : limit(limit) {}
    qint64 bytes = 0;

protected:
    qint64 readData(char *data, qint64 max) override
    {
        if (bytes >= limit) {
            setErrorString(QStringLiteral("Input/output error"));
            return -1;
        }
        const qint64 n = qMin(max, limit - bytes);
        memset(data, 'x', size_t(n));
        bytes += n;
        return n;
    }
    qint64 writeData(const char *, qint64 len) override
    {
        if (bytes >= limit) {
            setErrorString(QStringLiteral("No space left on device"));
            return -1;
        }
        const qint64 n = qMin(len, limit - bytes);
        bytes += n;
        return n;
    }

private:
    qint64 limit;
};

} // namespace

class Test_Kvx_Cipher : public QObject
{
    Q_OBJECT

private slots:
    void chunk_vectors_data()
    {
        QTest::addColumn<QByteArray>("plain");
        QTest::addColumn<QByteArray>("cipher");
        QTest::newRow("one byte stays") << bytes({0x41}) << bytes({0x41});
        QTest::newRow("two bytes") << bytes({0x01, 0x02}) << bytes({0xEF, 0xF7});
        QTest::newRow("abc") << bytes({0x61, 0x62, 0x63}) << bytes({0xE4, 0x62, 0xF4});
        QTest::newRow("odd middle untouched") << bytes({0, 0, 0}) << bytes({0xFF, 0x00, 0xFF});
        QTest::newRow("zip signature") << bytes({0x50, 0x4B, 0x03, 0x04}) << bytes({0xDF, 0xE7, 0xA5, 0x7D});
        QTest::newRow("five") << bytes({0x10, 0x20, 0x30, 0x40, 0x50})
                              << bytes({0x7D, 0xFD, 0x30, 0xFE, 0x7F});
        QTest::newRow("fixed points only reversed") << bytes({0x55, 0xAA, 0xAA}) << bytes({0xAA, 0xAA, 0x55});
    }

    void chunk_vectors()
    {
        QFETCH(QByteArray, plain);
        QFETCH(QByteArray, cipher);
        QCOMPARE(encrypted(plain), cipher);
        QCOMPARE(decrypted(cipher), plain);
    }

    void single_byte_maps()
    {
        // E(x) sits at the far end of a two-byte chunk whose other byte is x.
        const struct { int in, out; } samples[] = {
            {0x00, 0xFF}, {0xFF, 0x00}, {0x01, 0xF7}, {0x02, 0xEF}, {0x80, 0xFB}, {0x50, 0x7D}, {0x4B, 0xA5},
        };
        for (const auto &s : samples)
            QCOMPARE(quint8(encrypted(bytes({s.in, 0}))[1]), quint8(s.out));
        QCOMPARE(quint8(decrypted(bytes({0xF7, 0}))[1]), quint8(0x01));
        int fixed = 0;
        for (int x = 0; x < 256; ++x) {
            const QByteArray e = encrypted(bytes({x, 0}));
            QCOMPARE(quint8(decrypted(e)[0]), quint8(x));
            if (quint8(e[1]) == x)
                ++fixed;
        }
        QCOMPARE(fixed, 2);
    }

    void degenerate_lengths_change_nothing()
    {
        QByteArray data = bytes({1, 2, 3});
        encrypt_chunk(data.data(), 0);
        encrypt_chunk(data.data(), -5);
        decrypt_chunk(data.data(), 1);
        QCOMPARE(data, bytes({1, 2, 3}));
    }

    void twice_is_not_identity()
    {
        QCOMPARE(encrypted(encrypted(bytes({1, 2}))), bytes({0x40, 0x80}));
    }

    // The word-at-a-time path must agree with the byte rule at every length,
    // including the lengths where the middle falls inside a word.
    void fast_path_matches_reference()
    {
        const QByteArray data = random_bytes(kvx_chunk_size, 7);
        for (qint32 n = 0; n <= 80; ++n) {
            const QByteArray part = data.left(n);
            QCOMPARE(encrypted(part), reference_container(part));
            QCOMPARE(decrypted(encrypted(part)), part);
        }
        QCOMPARE(encrypted(data), reference_container(data));
    }

    void loop_round_trip_data()
    {
        QTest::addColumn<int>("size");
        for (int size : {0, 1, 5119, 5120, 5121, 10241, 5120 * 256, 5120 * 256 + 3, 5120 * 600 + 4097})
            QTest::newRow(qPrintable(QString::number(size))) << size;
    }

    void loop_round_trip()
    {
        QFETCH(int, size);
        const QByteArray archive = random_bytes(size, quint32(size) + 1);
        const QByteArray container = through_loop(archive, Cipher_Direction::Encrypt);
        QCOMPARE(container.size(), archive.size());
        QCOMPARE(container, reference_container(archive));
        QCOMPARE(through_loop(container, Cipher_Direction::Decrypt), archive);
        if (size % kvx_chunk_size == 1)
            QCOMPARE(container.back(), archive.back());
    }

    void zip_signature_lands_at_end_of_first_chunk()
    {
        QByteArray archive = random_bytes(6000, 3);
        archive.replace(0, 4, bytes({0x50, 0x4B, 0x03, 0x04}));
        const QByteArray container = through_loop(archive, Cipher_Direction::Encrypt);
        QCOMPARE(container.mid(5116, 4), bytes({0xDF, 0xE7, 0xA5, 0x7D}));
        QCOMPARE(quint8(container[0]), reference_e(quint8(archive[5119])));
    }

    // A source that delivers odd-sized pieces must not shift chunk boundaries.
    void loop_keeps_boundaries_with_short_reads()
    {
        class Trickle : public QBuffer
        {
        public:
            using QBuffer::QBuffer;
        protected:
            qint64 readData(char *data, qint64 max) override { return QBuffer::readData(data, qMin<qint64>(max, 777)); }
        };
        QByteArray archive = random_bytes(5120 * 3 + 11, 9);
        Trickle source(&archive);
        source.open(QIODevice::ReadOnly | QIODevice::Unbuffered);
        QByteArray out;
        QBuffer destination(&out);
        destination.open(QIODevice::WriteOnly);
        QVERIFY(run_chunk_loop(source, destination, Cipher_Direction::Encrypt, nullptr, nullptr));
        QCOMPARE(out, reference_container(archive));
    }

    void read_error_fails_with_reason()
    {
        Failing_Device source(5120 * 300);
        source.open(QIODevice::ReadOnly | QIODevice::Unbuffered);
        QByteArray out;
        QBuffer destination(&out);
        destination.open(QIODevice::WriteOnly);
        QString error;
        QVERIFY(!run_chunk_loop(source, destination, Cipher_Direction::Encrypt, nullptr, &error));
        QVERIFY2(error.contains(QLatin1String("Input/output error")), qPrintable(error));
    }

    void short_write_fails_with_reason()
    {
        QByteArray archive = random_bytes(20000, 4);
        QBuffer source(&archive);
        source.open(QIODevice::ReadOnly);
        Failing_Device destination(10000);
        destination.open(QIODevice::WriteOnly | QIODevice::Unbuffered);
        QString error;
        QVERIFY(!run_chunk_loop(source, destination, Cipher_Direction::Encrypt, nullptr, &error));
        QVERIFY2(error.contains(QLatin1String("No space left")), qPrintable(error));
    }

    void cancel_stops_the_loop_and_progress_reaches_total()
    {
        QByteArray archive = random_bytes(5120 * 700, 5);
        {
            QBuffer source(&archive);
            source.open(QIODevice::ReadOnly);
            QByteArray out;
            QBuffer destination(&out);
            destination.open(QIODevice::WriteOnly);
            Job_Control control;
            qint64 last_done = -1, last_total = -1;
            control.set_progress_handler([&](qint64 d, qint64 t) { last_done = d; last_total = t; });
            control.add_total(archive.size());
            QVERIFY(run_chunk_loop(source, destination, Cipher_Direction::Encrypt, &control, nullptr));
            QCOMPARE(last_done, qint64(archive.size()));
            QCOMPARE(last_total, qint64(archive.size()));
        }
        QBuffer source(&archive);
        source.open(QIODevice::ReadOnly);
        QByteArray out;
        QBuffer destination(&out);
        destination.open(QIODevice::WriteOnly);
        Job_Control control;
        control.cancel();
        QString error;
        QVERIFY(!run_chunk_loop(source, destination, Cipher_Direction::Encrypt, &control, &error));
        QVERIFY(out.isEmpty());
    }
};

QTEST_GUILESS_MAIN(Test_Kvx_Cipher)
#include "test_kvx_cipher.moc"
