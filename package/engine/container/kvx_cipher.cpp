// SPDX-License-Identifier: GPL-3.0-or-later
#include "container/kvx_cipher.h"

#include <cstdint>
#include <cstring>

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
