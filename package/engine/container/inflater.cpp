// SPDX-License-Identifier: GPL-3.0-or-later
#include "container/inflater.h"

#include "core/sizes.h"

#include <zlib.h>

#ifdef CORVANTA_HAVE_LIBDEFLATE
#include <libdeflate.h>
#endif
#ifdef CORVANTA_HAVE_ISAL
#include <isa-l/igzip_lib.h>
#endif

namespace {

// libdeflate inflates whole buffers: only entries this small are held in memory.
[[maybe_unused]] constexpr qint64 whole_inflate_limit = 4 * 1024 * 1024;

} // namespace

#ifdef CORVANTA_HAVE_ISAL
struct Stream_Inflater::State
{
    inflate_state isal; // large: isal_inflate_init() sets what it needs, nothing is cleared twice
    bool last = false;

    State() { isal_inflate_init(&isal); }
    bool ready() const { return true; }
    bool needs_input() const { return isal.avail_in == 0 && !last; }
    void give(const unsigned char *data, qint64 length, bool is_last)
    {
        isal.next_in = const_cast<uint8_t *>(data);
        isal.avail_in = uint32_t(length);
        last = is_last;
    }
    bool step(char *out, uint32_t room, qint64 *made, bool *ended)
    {
        isal.next_out = reinterpret_cast<uint8_t *>(out);
        isal.avail_out = room;
        if (isal_inflate(&isal) != ISAL_DECOMP_OK)
            return false;
        *made = qint64(room - isal.avail_out);
        *ended = isal.block_state == ISAL_BLOCK_FINISH;
        return *made > 0 || *ended || isal.avail_in > 0 || !last;
    }
};
#else
struct Stream_Inflater::State
{
    z_stream z{};
    bool z_ready = false;
    bool last = false;

    State() { z_ready = inflateInit2(&z, -MAX_WBITS) == Z_OK; }
    ~State()
    {
        if (z_ready)
            inflateEnd(&z);
    }
    bool ready() const { return z_ready; }
    bool needs_input() const { return z.avail_in == 0 && !last; }
    void give(const unsigned char *data, qint64 length, bool is_last)
    {
        z.next_in = const_cast<Bytef *>(data);
        z.avail_in = uInt(length);
        last = is_last;
    }
    bool step(char *out, uint32_t room, qint64 *made, bool *ended)
    {
        z.next_out = reinterpret_cast<Bytef *>(out);
        z.avail_out = room;
        const int rc = inflate(&z, Z_NO_FLUSH);
        if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR)
            return false;
        *made = qint64(room - z.avail_out);
        *ended = rc == Z_STREAM_END;
        return *made > 0 || *ended || z.avail_in > 0 || !last;
    }
};
#endif

Stream_Inflater::Stream_Inflater() : state(std::make_unique<State>()) {}
Stream_Inflater::~Stream_Inflater() = default;

bool Stream_Inflater::is_ready() const
{
    return state->ready();
}

bool Stream_Inflater::needs_input() const
{
    return state->needs_input();
}

void Stream_Inflater::give(const unsigned char *data, qint64 length, bool last)
{
    state->give(data, length, last);
}

bool Stream_Inflater::step(char *out, qint64 length, qint64 *made, bool *ended)
{
    // The data ending inside the stream is damage: no progress and no more to come.
    return state->step(out, uint32_t(qMin<qint64>(length, largest_call)), made, ended);
}

bool whole_inflate_fits(qint64 size, qint64 compressed_size)
{
#if defined(CORVANTA_HAVE_LIBDEFLATE) && !defined(CORVANTA_HAVE_ISAL)
    return size <= whole_inflate_limit && compressed_size <= whole_inflate_limit;
#else
    Q_UNUSED(size);
    Q_UNUSED(compressed_size);
    return false; // ISA-L streams as fast; zlib only streams
#endif
}

bool inflate_whole(const QByteArray &raw, qint64 size, QByteArray *out)
{
#ifdef CORVANTA_HAVE_LIBDEFLATE
    *out = QByteArray(qsizetype(size), Qt::Uninitialized);
    libdeflate_decompressor *d = libdeflate_alloc_decompressor();
    if (!d)
        return false;
    size_t out_size = 0;
    const libdeflate_result rc = libdeflate_deflate_decompress(d, raw.constData(), size_t(raw.size()), out->data(),
                                                               size_t(out->size()), &out_size);
    libdeflate_free_decompressor(d);
    if (rc == LIBDEFLATE_INSUFFICIENT_SPACE) {
        out->append('\0'); // one byte more than recorded: the size check names it
        return true;
    }
    out->truncate(qsizetype(out_size)); // a short result shows as a wrong size too
    return rc == LIBDEFLATE_SUCCESS;
#else
    Q_UNUSED(raw);
    Q_UNUSED(size);
    Q_UNUSED(out);
    return false;
#endif
}
