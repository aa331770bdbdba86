// SPDX-License-Identifier: GPL-3.0-or-later
#include "pack/deflate_codec.h"

#include <zlib.h>

#ifdef CORVANTA_HAVE_LIBDEFLATE
#include <libdeflate.h>
#endif

#include <cstring>
#include <vector>

namespace {

constexpr qint64 output_block = 128 * 1024;

#ifdef CORVANTA_HAVE_LIBDEFLATE
// Compressors are big to set up; each thread keeps one per level it uses.
libdeflate_compressor *compressor_for(int level)
{
    struct Cache
    {
        libdeflate_compressor *compressors[13] = {};
        ~Cache()
        {
            for (libdeflate_compressor *c : compressors)
                if (c)
                    libdeflate_free_compressor(c);
        }
    };
    thread_local Cache cache;
    libdeflate_compressor *&c = cache.compressors[qBound(0, level, 12)];
    if (!c)
        c = libdeflate_alloc_compressor(qBound(0, level, 12));
    return c;
}

// A whole-buffer stream always ends with a final block. To let the next
// piece continue it, the last block's final bit is cleared (found by walking
// the blocks with zlib) and the stream is padded to a byte boundary with an
// empty stored block, as a sync flush would. Returns the new size, or 0.
size_t make_joinable(unsigned char *data, size_t size)
{
    z_stream z{};
    if (inflateInit2(&z, -MAX_WBITS) != Z_OK)
        return 0;
    thread_local std::vector<unsigned char> junk(128 * 1024);
    z.next_in = data;
    z.avail_in = uInt(size);
    size_t header_byte = 0; // where the current block's header, and its final bit, starts
    int header_bit = 0;
    int unused = 0; // bits left over in the byte where the final block ends
    int rc = Z_OK;
    while (rc == Z_OK) {
        z.next_out = junk.data();
        z.avail_out = uInt(junk.size());
        rc = inflate(&z, Z_BLOCK);
        if (rc == Z_OK && (z.data_type & 128)) {
            // Stopped at a block boundary: after the final block, or before the next header.
            const int left = z.data_type & 7;
            const size_t used = size - z.avail_in;
            if (z.data_type & 64) {
                unused = left;
            } else {
                header_byte = left ? used - 1 : used;
                header_bit = left ? 8 - left : 0;
            }
        }
    }
    const bool whole = rc == Z_STREAM_END && z.avail_in == 0;
    inflateEnd(&z);
    if (!whole)
        return 0;
    data[header_byte] &= static_cast<unsigned char>(~(1u << header_bit));
    if (unused == 0)
        return size;
    data[size - 1] &= static_cast<unsigned char>(0xFFu >> unused);
    static const unsigned char empty_stored[] = {0x00, 0x00, 0x00, 0xFF, 0xFF};
    // The stored block's 3 header bits fit in the last byte, or spill into one more.
    const size_t extra = unused >= 3 ? 4 : 5;
    memcpy(data + size, empty_stored + (5 - extra), extra);
    return size + extra;
}
#endif

} // namespace

qint64 quick_compressed_size(const char *data, qint64 length)
{
#ifdef CORVANTA_HAVE_LIBDEFLATE
    libdeflate_compressor *c = compressor_for(1);
    if (c) {
        std::vector<char> out(libdeflate_deflate_compress_bound(c, size_t(length)));
        const size_t n = libdeflate_deflate_compress(c, data, size_t(length), out.data(), out.size());
        return n > 0 ? qint64(n) : length;
    }
#endif
    uLongf out_size = compressBound(uLong(length));
    std::vector<Bytef> out(out_size);
    if (compress2(out.data(), &out_size, reinterpret_cast<const Bytef *>(data), uLong(length), 1) != Z_OK)
        return length;
    return qint64(out_size);
}

struct Piece_Deflater::State
{
    int level = 6;
    int libdeflate_level = 6;
    bool whole_buffer = false;
    // zlib: streaming
    z_stream z{};
    bool z_ready = false;
    QByteArray out;
    qint64 out_used = 0;
    // libdeflate: the piece is gathered, then deflated in one go
    std::vector<unsigned char> *pending = nullptr;

    bool start_zlib()
    {
        z_ready = deflateInit2(&z, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) == Z_OK;
        return z_ready;
    }

    bool add_streamed(const char *data, qint64 length, bool end, bool last_piece, const Sink &sink);
#ifdef CORVANTA_HAVE_LIBDEFLATE
    bool add_whole(const char *data, qint64 length, bool end, bool last_piece, const Sink &sink);
#endif
};

Piece_Deflater::Piece_Deflater(int level) : state(new State)
{
    state->level = level;
#ifdef CORVANTA_HAVE_LIBDEFLATE
    static constexpr int libdeflate_levels[10] = {0, 1, 2, 3, 4, 5, 6, 8, 10, 12};
    state->libdeflate_level = libdeflate_levels[qBound(1, level, 9)];
    state->whole_buffer = compressor_for(state->libdeflate_level) != nullptr;
    if (state->whole_buffer) {
        thread_local std::vector<unsigned char> pending;
        pending.clear();
        state->pending = &pending;
        return;
    }
#endif
    state->start_zlib();
}

Piece_Deflater::~Piece_Deflater()
{
    if (state->z_ready)
        deflateEnd(&state->z);
}

bool Piece_Deflater::is_ready() const
{
    return state->whole_buffer || state->z_ready;
}

bool Piece_Deflater::add(const char *data, qint64 length, bool end, bool last_piece, const Sink &sink)
{
#ifdef CORVANTA_HAVE_LIBDEFLATE
    if (state->whole_buffer)
        return state->add_whole(data, length, end, last_piece, sink);
#endif
    return state->add_streamed(data, length, end, last_piece, sink);
}

#ifdef CORVANTA_HAVE_LIBDEFLATE
bool Piece_Deflater::State::add_whole(const char *data, qint64 length, bool end, bool last_piece, const Sink &sink)
{
    const auto *bytes = reinterpret_cast<const unsigned char *>(data);
    pending->insert(pending->end(), bytes, bytes + length);
    if (!end)
        return true;
    libdeflate_compressor *c = compressor_for(libdeflate_level);
    thread_local std::vector<unsigned char> packed;
    // Room for the empty stored block a joinable piece ends with.
    packed.resize(libdeflate_deflate_compress_bound(c, pending->size()) + 8);
    size_t n = libdeflate_deflate_compress(c, pending->data(), pending->size(), packed.data(), packed.size() - 8);
    if (n > 0 && !last_piece)
        n = make_joinable(packed.data(), n);
    if (n == 0) {
        // Not expected from libdeflate; zlib then deflates the piece.
        std::vector<unsigned char> piece;
        piece.swap(*pending);
        whole_buffer = false;
        return start_zlib()
               && add_streamed(reinterpret_cast<const char *>(piece.data()), qint64(piece.size()), true, last_piece,
                               sink);
    }
    pending->clear();
    return sink(QByteArray(reinterpret_cast<const char *>(packed.data()), qsizetype(n)));
}
#endif

bool Piece_Deflater::State::add_streamed(const char *data, qint64 length, bool end, bool last_piece,
                                         const Sink &sink)
{
    if (out.isEmpty()) {
        out = QByteArray(output_block, Qt::Uninitialized);
        out_used = 0;
    }
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data));
    z.avail_in = uInt(length);
    const int flush = !end ? Z_NO_FLUSH : last_piece ? Z_FINISH : Z_SYNC_FLUSH;
    int rc = Z_OK;
    do {
        if (out_used == out.size()) {
            if (!sink(out))
                return false;
            out = QByteArray(output_block, Qt::Uninitialized);
            out_used = 0;
        }
        z.next_out = reinterpret_cast<Bytef *>(out.data() + out_used);
        z.avail_out = uInt(out.size() - out_used);
        rc = deflate(&z, flush);
        // Z_BUF_ERROR only says no progress was possible this call.
        if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR)
            return false;
        out_used = out.size() - z.avail_out;
    } while (rc != Z_STREAM_END && (z.avail_out == 0 || z.avail_in > 0));
    if (end && last_piece && rc != Z_STREAM_END)
        return false; // the file's stream must be complete
    if (end && out_used > 0) {
        out.truncate(out_used);
        const QByteArray rest = std::move(out);
        out = QByteArray();
        return sink(rest);
    }
    return true;
}
