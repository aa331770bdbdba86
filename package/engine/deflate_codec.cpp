#include "deflate_codec.h"

#include <zlib.h>

#ifdef CORVANTA_HAVE_LIBDEFLATE
#include <libdeflate.h>
#endif
#ifdef CORVANTA_HAVE_ISAL
#include <isa-l/igzip_lib.h>
#endif

#include <cstring>
#include <vector>

namespace {

constexpr qint64 output_block = 128 * 1024;
constexpr qint64 raw_read_block = 256 * 1024;

QString zip_error_text(int code)
{
    zip_error_t error;
    zip_error_init_with_code(&error, code);
    const QString text = QString::fromUtf8(zip_error_strerror(&error));
    zip_error_fini(&error);
    return text;
}

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

quint32 checksum_update(quint32 crc, const char *data, qint64 length)
{
#ifdef CORVANTA_HAVE_LIBDEFLATE
    return libdeflate_crc32(crc, data, size_t(length));
#else
    return quint32(crc32(crc, reinterpret_cast<const Bytef *>(data), uInt(length)));
#endif
}

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
    bool whole_buffer = false;
    // zlib: streaming
    z_stream z{};
    bool z_ready = false;
    QByteArray out;
    qint64 out_used = 0;
    // libdeflate: the piece is gathered, then deflated in one go
    std::vector<unsigned char> *pending = nullptr;
};

Piece_Deflater::Piece_Deflater(int level) : state(new State)
{
    state->level = level;
#ifdef CORVANTA_HAVE_LIBDEFLATE
    state->whole_buffer = compressor_for(level) != nullptr;
    if (state->whole_buffer) {
        thread_local std::vector<unsigned char> pending;
        pending.clear();
        state->pending = &pending;
        return;
    }
#endif
    state->z_ready = deflateInit2(&state->z, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) == Z_OK;
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
    State &s = *state;
#ifdef CORVANTA_HAVE_LIBDEFLATE
    if (s.whole_buffer) {
        const auto *bytes = reinterpret_cast<const unsigned char *>(data);
        s.pending->insert(s.pending->end(), bytes, bytes + length);
        if (!end)
            return true;
        libdeflate_compressor *c = compressor_for(s.level);
        thread_local std::vector<unsigned char> packed;
        // Room for the empty stored block a joinable piece ends with.
        packed.resize(libdeflate_deflate_compress_bound(c, s.pending->size()) + 8);
        size_t n = libdeflate_deflate_compress(c, s.pending->data(), s.pending->size(), packed.data(),
                                               packed.size() - 8);
        if (n > 0 && !last_piece)
            n = make_joinable(packed.data(), n);
        if (n == 0) {
            // Not expected from libdeflate; zlib then deflates the piece.
            std::vector<unsigned char> piece;
            piece.swap(*s.pending);
            s.whole_buffer = false;
            s.z_ready = deflateInit2(&s.z, s.level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) == Z_OK;
            return s.z_ready && add(reinterpret_cast<const char *>(piece.data()), qint64(piece.size()), true,
                                    last_piece, sink);
        }
        s.pending->clear();
        return sink(QByteArray(reinterpret_cast<const char *>(packed.data()), qsizetype(n)));
    }
#endif
    if (s.out.isEmpty()) {
        s.out = QByteArray(output_block, Qt::Uninitialized);
        s.out_used = 0;
    }
    s.z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data));
    s.z.avail_in = uInt(length);
    const int flush = !end ? Z_NO_FLUSH : last_piece ? Z_FINISH : Z_SYNC_FLUSH;
    int rc = Z_OK;
    do {
        if (s.out_used == s.out.size()) {
            if (!sink(s.out))
                return false;
            s.out = QByteArray(output_block, Qt::Uninitialized);
            s.out_used = 0;
        }
        s.z.next_out = reinterpret_cast<Bytef *>(s.out.data() + s.out_used);
        s.z.avail_out = uInt(s.out.size() - s.out_used);
        rc = deflate(&s.z, flush);
        s.out_used = s.out.size() - s.z.avail_out;
    } while (rc != Z_STREAM_END && (s.z.avail_out == 0 || s.z.avail_in > 0));
    if (end && s.out_used > 0) {
        s.out.truncate(s.out_used);
        const QByteArray rest = std::move(s.out);
        s.out = QByteArray();
        return sink(rest);
    }
    return true;
}

struct Entry_Reader::Fast
{
    quint32 crc = 0;
    qint64 size = 0;
    qint64 comp_size = 0;
    qint64 total = 0;
    bool finished = false;
    bool done = false;
#ifdef CORVANTA_HAVE_ISAL
    inflate_state isal{};
    std::unique_ptr<unsigned char[]> in;
    bool input_end = false;
#else
    QByteArray whole;
    bool inflated = false;
#endif
};

namespace {

bool fast_inflate_fits(const zip_stat_t &st)
{
    const zip_uint64_t needed = ZIP_STAT_SIZE | ZIP_STAT_COMP_SIZE | ZIP_STAT_CRC | ZIP_STAT_COMP_METHOD
                                | ZIP_STAT_ENCRYPTION_METHOD;
    if ((st.valid & needed) != needed || st.comp_method != ZIP_CM_DEFLATE || st.encryption_method != ZIP_EM_NONE)
        return false;
#if defined(CORVANTA_HAVE_ISAL)
    return true;
#elif defined(CORVANTA_HAVE_LIBDEFLATE)
    // Whole-buffer inflating holds the entry in memory: small entries only.
    return st.size <= zip_uint64_t(deflate_piece_size) && st.comp_size <= zip_uint64_t(deflate_piece_size);
#else
    return false;
#endif
}

} // namespace

Entry_Reader::Entry_Reader(zip_t *archive, zip_uint64_t index) : archive(archive)
{
    zip_stat_t st;
    if (zip_stat_index(archive, index, 0, &st) == 0 && fast_inflate_fits(st)) {
        file = zip_fopen_index(archive, index, ZIP_FL_COMPRESSED);
        if (file) {
            fast.reset(new Fast);
            fast->crc = st.crc;
            fast->size = qint64(st.size);
            fast->comp_size = qint64(st.comp_size);
#ifdef CORVANTA_HAVE_ISAL
            isal_inflate_init(&fast->isal);
            fast->isal.crc_flag = ISAL_GZIP_NO_HDR; // the zip checksum is gzip's
            fast->in.reset(new unsigned char[raw_read_block]);
#endif
        }
    } else {
        file = zip_fopen_index(archive, index, 0);
    }
    if (!file)
        reason = QString::fromUtf8(zip_strerror(archive));
}

Entry_Reader::~Entry_Reader()
{
    if (file)
        zip_fclose(file);
}

bool Entry_Reader::is_open() const
{
    return file != nullptr;
}

qint64 Entry_Reader::read(char *buffer, qint64 length)
{
    if (!file)
        return -1;
    if (!fast) {
        const zip_int64_t n = zip_fread(file, buffer, zip_uint64_t(length));
        if (n < 0)
            reason = QString::fromUtf8(zip_file_strerror(file));
        return n;
    }
    Fast &f = *fast;
    auto failure = [&](int code) {
        reason = zip_error_text(code);
        return qint64(-1);
    };
    if (f.done)
        return 0;
#ifdef CORVANTA_HAVE_ISAL
    for (;;) {
        if (f.finished) {
            if (f.total != f.size)
                return failure(ZIP_ER_INCONS);
            if (f.isal.crc != f.crc)
                return failure(ZIP_ER_CRC);
            f.done = true;
            return 0;
        }
        if (f.isal.avail_in == 0 && !f.input_end) {
            const zip_int64_t n = zip_fread(file, f.in.get(), zip_uint64_t(raw_read_block));
            if (n < 0) {
                reason = QString::fromUtf8(zip_file_strerror(file));
                return -1;
            }
            f.input_end = n == 0;
            f.isal.next_in = f.in.get();
            f.isal.avail_in = uint32_t(n);
        }
        const uint32_t room = uint32_t(qMin<qint64>(length, 1 << 30));
        f.isal.next_out = reinterpret_cast<uint8_t *>(buffer);
        f.isal.avail_out = room;
        if (isal_inflate(&f.isal) != ISAL_DECOMP_OK)
            return failure(ZIP_ER_COMPRESSED_DATA);
        const qint64 produced = qint64(room - f.isal.avail_out);
        f.total += produced;
        if (f.total > f.size)
            return failure(ZIP_ER_INCONS);
        f.finished = f.isal.block_state == ISAL_BLOCK_FINISH;
        if (produced > 0)
            return produced;
        if (!f.finished && f.input_end && f.isal.avail_in == 0)
            return failure(ZIP_ER_COMPRESSED_DATA); // the data ends inside the stream
    }
#elif defined(CORVANTA_HAVE_LIBDEFLATE)
    if (!f.inflated) {
        f.inflated = true;
        QByteArray raw(qsizetype(f.comp_size), Qt::Uninitialized);
        qint64 got = 0;
        while (got < f.comp_size) {
            const zip_int64_t n = zip_fread(file, raw.data() + got, zip_uint64_t(f.comp_size - got));
            if (n < 0) {
                reason = QString::fromUtf8(zip_file_strerror(file));
                return -1;
            }
            if (n == 0)
                return failure(ZIP_ER_EOF);
            got += n;
        }
        f.whole = QByteArray(qsizetype(f.size), Qt::Uninitialized);
        libdeflate_decompressor *d = libdeflate_alloc_decompressor();
        if (!d)
            return failure(ZIP_ER_MEMORY);
        size_t out_size = 0;
        const libdeflate_result rc = libdeflate_deflate_decompress(d, raw.constData(), size_t(raw.size()),
                                                                   f.whole.data(), size_t(f.whole.size()), &out_size);
        libdeflate_free_decompressor(d);
        if (rc == LIBDEFLATE_INSUFFICIENT_SPACE)
            return failure(ZIP_ER_INCONS);
        if (rc != LIBDEFLATE_SUCCESS)
            return failure(ZIP_ER_COMPRESSED_DATA);
        if (qint64(out_size) != f.size)
            return failure(ZIP_ER_INCONS);
        if (libdeflate_crc32(0, f.whole.constData(), out_size) != f.crc)
            return failure(ZIP_ER_CRC);
    }
    const qint64 n = qMin(length, f.size - f.total);
    memcpy(buffer, f.whole.constData() + f.total, size_t(n));
    f.total += n;
    if (n == 0) {
        f.done = true;
        f.whole = QByteArray();
    }
    return n;
#else
    Q_UNUSED(buffer);
    Q_UNUSED(length);
    return failure(ZIP_ER_INTERNAL);
#endif
}

bool Entry_Reader::close()
{
    if (!file)
        return true;
    const int rc = zip_fclose(file);
    file = nullptr;
    if (rc != 0) {
        reason = zip_error_text(rc);
        return false;
    }
    return true;
}
