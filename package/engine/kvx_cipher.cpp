#include "kvx_cipher.h"

#include "job_control.h"

#include <QIODevice>

#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

namespace {

// Forward map: NOT of the byte rotated left by 3. Inverse: NOT, then rotate right by 3.
inline unsigned char map_e(unsigned char x)
{
    return static_cast<unsigned char>(~((x << 3) | (x >> 5)));
}
inline unsigned char map_d(unsigned char y)
{
    const unsigned char n = static_cast<unsigned char>(~y);
    return static_cast<unsigned char>((n >> 3) | (n << 5));
}

// The same maps on eight bytes at once.
inline std::uint64_t map_e8(std::uint64_t x)
{
    return ~(((x << 3) & 0xF8F8F8F8F8F8F8F8ull) | ((x >> 5) & 0x0707070707070707ull));
}
inline std::uint64_t map_d8(std::uint64_t y)
{
    const std::uint64_t n = ~y;
    return ((n >> 3) & 0x1F1F1F1F1F1F1F1Full) | ((n << 5) & 0xE0E0E0E0E0E0E0E0ull);
}

inline std::uint64_t load64(const unsigned char *p)
{
    std::uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
inline void store64(unsigned char *p, std::uint64_t v)
{
    std::memcpy(p, &v, sizeof v);
}

template <unsigned char (*map)(unsigned char), std::uint64_t (*map8)(std::uint64_t)>
void transform(unsigned char *b, qint32 n)
{
    const qint32 h = n / 2;
    if (h <= 0)
        return;
    // Mirror eight-byte words from both ends while they stay in their halves;
    // a byte swap mirrors within the word.
    qint32 i = 0;
    for (; i + 8 <= h; i += 8) {
        unsigned char *lo = b + i;
        unsigned char *hi = b + n - 8 - i;
        const std::uint64_t a = load64(lo);
        const std::uint64_t c = load64(hi);
        store64(lo, map8(__builtin_bswap64(c)));
        store64(hi, map8(__builtin_bswap64(a)));
    }
    for (; i < h; ++i) {
        const qint32 j = n - 1 - i;
        const unsigned char a = b[i];
        const unsigned char c = b[j];
        b[i] = map(c);
        b[j] = map(a);
    }
}

QString tr_io(const char *what, const QIODevice &device)
{
    return QStringLiteral("%1: %2").arg(QLatin1String(what), device.errorString());
}

// Reads until the buffer is full or the source ends, so that a short read in
// the middle of a file never shifts the chunk boundaries.
qint64 read_full(QIODevice &source, char *data, qint64 size)
{
    qint64 got = 0;
    while (got < size) {
        const qint64 n = source.read(data + got, size - got);
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        got += n;
    }
    return got;
}

} // namespace

void encrypt_chunk(unsigned char *buffer, qint32 length)
{
    transform<map_e, map_e8>(buffer, length);
}

void decrypt_chunk(unsigned char *buffer, qint32 length)
{
    transform<map_d, map_d8>(buffer, length);
}

void transform_chunks(unsigned char *data, qint64 length, Cipher_Direction direction)
{
    for (qint64 at = 0; at < length; at += kvx_chunk_size) {
        const qint32 n = qint32(qMin<qint64>(kvx_chunk_size, length - at));
        if (direction == Cipher_Direction::Encrypt)
            encrypt_chunk(data + at, n);
        else
            decrypt_chunk(data + at, n);
    }
}

bool run_chunk_loop(QIODevice &source, QIODevice &destination, Cipher_Direction direction,
                    Job_Control *control, QString *error)
{
    // 256 chunks per block: large blocks halve the cost of 5120-byte I/O.
    // A reader thread reads and transforms the next block while this thread
    // writes the last one; three blocks keep memory fixed whatever the size.
    constexpr qint64 block_size = qint64(kvx_chunk_size) * 256;
    constexpr int block_count = 3;
    struct Block
    {
        std::unique_ptr<char[]> data{new char[block_size]};
        qint64 size = 0;
    };
    Block blocks[block_count];
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<int> free_blocks{0, 1, 2};
    std::deque<int> full_blocks;
    bool source_ended = false;
    bool source_failed = false;
    bool stopping = false;
    QString read_error;

    std::thread reader([&] {
        for (;;) {
            int b;
            {
                std::unique_lock<std::mutex> lock(mutex);
                changed.wait(lock, [&] { return stopping || !free_blocks.empty(); });
                if (stopping)
                    return;
                b = free_blocks.front();
                free_blocks.pop_front();
            }
            const qint64 n = read_full(source, blocks[b].data.get(), block_size);
            if (n > 0)
                transform_chunks(reinterpret_cast<unsigned char *>(blocks[b].data.get()), n, direction);
            std::lock_guard<std::mutex> lock(mutex);
            if (n < 0) {
                source_failed = true;
                read_error = tr_io("Read failed", source);
            } else {
                blocks[b].size = n;
                full_blocks.push_back(b);
                source_ended = n < block_size;
            }
            changed.notify_all();
            if (n < block_size)
                return;
        }
    });

    bool ok = true;
    for (;;) {
        int b;
        {
            std::unique_lock<std::mutex> lock(mutex);
            changed.wait(lock, [&] { return !full_blocks.empty() || source_failed || source_ended; });
            if (full_blocks.empty()) {
                ok = !source_failed;
                if (!ok && error)
                    *error = read_error;
                break;
            }
            b = full_blocks.front();
            full_blocks.pop_front();
        }
        if (control && control->is_cancelled()) {
            if (error)
                *error = QStringLiteral("Cancelled");
            ok = false;
            break;
        }
        const qint64 n = blocks[b].size;
        for (qint64 written = 0; written < n;) {
            const qint64 w = destination.write(blocks[b].data.get() + written, n - written);
            if (w <= 0) {
                if (error)
                    *error = tr_io("Write failed", destination);
                ok = false;
                break;
            }
            written += w;
        }
        if (!ok)
            break;
        if (control)
            control->advance(n);
        std::lock_guard<std::mutex> lock(mutex);
        free_blocks.push_back(b);
        changed.notify_all();
    }
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
        changed.notify_all();
    }
    reader.join();
    return ok;
}
