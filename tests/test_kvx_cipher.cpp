// The chunk transform and the chunk loop that turns an archive into a
// container and back.

#include "engine_test_support.h"
#include "job_control.h"
#include "kvx_cipher.h"
#include "package_pipeline.h"

#include <QBuffer>
#include <QTest>

#include <limits>

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

// A buffer that hands out at most `piece` bytes per read (0: as many as
// asked) and fails once `limit` bytes have passed, like a failing or full disk.
class Test_Buffer : public QBuffer
{
public:
    Test_Buffer(QByteArray *data, qint64 piece, qint64 limit)
        : QBuffer(data), piece(piece), limit(limit)
    {
    }

protected:
    qint64 readData(char *data, qint64 max) override
    {
        return pos() < limit ? QBuffer::readData(data, allowed(max)) : failed("Input/output error");
    }
    qint64 writeData(const char *data, qint64 len) override
    {
        return pos() < limit ? QBuffer::writeData(data, allowed(len)) : failed("No space left on device");
    }

private:
    qint64 allowed(qint64 n) const { return qMin(qMin(n, limit - pos()), piece ? piece : n); }
    qint64 failed(const char *reason)
    {
        setErrorString(QString::fromLatin1(reason));
        return -1;
    }
    qint64 piece, limit;
};

constexpr qint64 no_limit = std::numeric_limits<qint64>::max();

// Through a source that hands out `piece` bytes per read and fails after
// `read_limit`, into a destination that fails after `write_limit`.
bool through_loop(QByteArray input, Cipher_Direction direction, QByteArray *out, qint64 piece = 0,
                  Job_Control *control = nullptr, qint64 read_limit = no_limit, qint64 write_limit = no_limit,
                  QString *error = nullptr)
{
    Test_Buffer source(&input, piece, read_limit), destination(out, 0, write_limit);
    source.open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    destination.open(QIODevice::WriteOnly | QIODevice::Unbuffered);
    return run_chunk_loop(source, destination, direction, control, error);
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

    // Chunk boundaries stay at multiples of the chunk size from the start,
    // whatever the size and however the source hands out its bytes.
    void loop_round_trip_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("piece");
        for (int size : {0, 1, 5119, 5120, 5121, 10241, 5120 * 256, 5120 * 256 + 3, 5120 * 600 + 4097})
            QTest::addRow("%d", size) << size << 0;
        QTest::newRow("short reads") << 5120 * 3 + 11 << 777;
    }

    void loop_round_trip()
    {
        QFETCH(int, size);
        QFETCH(int, piece);
        const QByteArray archive = random_bytes(size, quint32(size) + 1);
        QByteArray container, back;
        QVERIFY(through_loop(archive, Cipher_Direction::Encrypt, &container, piece));
        QCOMPARE(container, reference_container(archive));
        QVERIFY(through_loop(container, Cipher_Direction::Decrypt, &back, piece));
        QCOMPARE(back, archive);
    }

    // A read error and a full disk both end the loop with the device's
    // reason; a cancel ends it before the first write, with the reader
    // thread still busy.
    void loop_stops_with_reason_data()
    {
        QTest::addColumn<qint64>("read_limit");
        QTest::addColumn<qint64>("write_limit");
        QTest::addColumn<QString>("reason");
        QTest::newRow("read error") << qint64(5120 * 280) << no_limit << "Input/output error";
        QTest::newRow("full disk") << no_limit << qint64(10000) << "No space left";
        QTest::newRow("cancelled") << no_limit << no_limit << cancelled_message();
    }

    void loop_stops_with_reason()
    {
        QFETCH(qint64, read_limit);
        QFETCH(qint64, write_limit);
        QFETCH(QString, reason);
        Job_Control control;
        if (reason == cancelled_message())
            control.cancel();
        QByteArray out;
        QString error;
        QVERIFY(!through_loop(random_bytes(5120 * 700, 4), Cipher_Direction::Encrypt, &out, 0, &control, read_limit,
                              write_limit, &error));
        QVERIFY2(error.contains(reason), qPrintable(error));
        QVERIFY(!control.is_cancelled() || out.isEmpty());
    }
};

QTEST_GUILESS_MAIN(Test_Kvx_Cipher)
#include "test_kvx_cipher.moc"
