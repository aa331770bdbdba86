#include "kvx_cipher.h"

#include "job_control.h"
#include "package_pipeline.h"

#include <QIODevice>

#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <stop_token>
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

// 256 chunks per block: large blocks halve the cost of 5120-byte I/O.
constexpr qint64 block_size = qint64(kvx_chunk_size) * 256;

struct Block
{
    std::unique_ptr<char[]> data{new char[block_size]};
    qint64 size = 0;
};

// Three blocks passed between the reader thread, which fills and transforms
// them, and the writer: memory stays fixed whatever the size. A block shorter
// than block_size is the last.
class Block_Queue
{
public:
    Block_Queue()
    {
        for (Block &b : blocks)
            free_blocks.push_back(&b);
    }

    // Reader: a block to fill, or nullptr once the writer has stopped.
    Block *take_free(std::stop_token stop)
    {
        std::unique_lock<std::mutex> lock(mutex);
        // A stop wins over a free block: the writer has no use for more.
        if (!changed.wait(lock, stop, [&] { return !free_blocks.empty(); }) || stop.stop_requested())
            return nullptr;
        Block *b = free_blocks.front();
        free_blocks.pop_front();
        return b;
    }
    void put_full(Block *b)
    {
        std::lock_guard<std::mutex> lock(mutex);
        full_blocks.push_back(b);
        source_ended = b->size < block_size;
        changed.notify_all();
    }
    void put_failure(const QString &reason)
    {
        std::lock_guard<std::mutex> lock(mutex);
        source_failed = true;
        read_error = reason;
        changed.notify_all();
    }

    // Writer: the next full block, or nullptr at the end of the source, with
    // *error set when the source failed.
    Block *take_full(QString *error)
    {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [&] { return !full_blocks.empty() || source_failed || source_ended; });
        if (full_blocks.empty()) {
            if (source_failed)
                *error = read_error;
            return nullptr;
        }
        Block *b = full_blocks.front();
        full_blocks.pop_front();
        return b;
    }
    void put_free(Block *b)
    {
        std::lock_guard<std::mutex> lock(mutex);
        free_blocks.push_back(b);
        changed.notify_all();
    }

private:
    Block blocks[3];
    std::mutex mutex;
    std::condition_variable_any changed;
    std::deque<Block *> free_blocks;
    std::deque<Block *> full_blocks;
    bool source_ended = false;
    bool source_failed = false;
    QString read_error;
};

// The reader thread: reads and transforms the next block while the writer
// writes the last one.
void read_blocks(std::stop_token stop, Block_Queue &queue, QIODevice &source, Cipher_Direction direction)
{
    while (Block *b = queue.take_free(stop)) {
        const qint64 n = read_full(source, b->data.get(), block_size);
        if (n < 0) {
            queue.put_failure(tr_io("Read failed", source));
            return;
        }
        if (n > 0)
            transform_chunks(reinterpret_cast<unsigned char *>(b->data.get()), n, direction);
        b->size = n;
        queue.put_full(b);
        if (n < block_size)
            return;
    }
}

bool write_block(QIODevice &destination, const Block &b, QString *error)
{
    for (qint64 written = 0; written < b.size;) {
        const qint64 w = destination.write(b.data.get() + written, b.size - written);
        if (w <= 0) {
            *error = tr_io("Write failed", destination);
            return false;
        }
        written += w;
    }
    return true;
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
    QString reason;
    Block_Queue queue;
    // Declared after the queue: on leaving, the reader is stopped, woken and joined first.
    const std::jthread reader(read_blocks, std::ref(queue), std::ref(source), direction);
    while (Block *b = queue.take_full(&reason)) {
        if (control && control->is_cancelled()) {
            reason = cancelled_message();
            break;
        }
        if (!write_block(destination, *b, &reason))
            break;
        if (control)
            control->advance(b->size);
        queue.put_free(b);
    }
    if (error && !reason.isEmpty())
        *error = reason;
    return reason.isEmpty();
}
