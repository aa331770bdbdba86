#include "container/entry_data_reader.h"

#include "container/archive_entries.h"
#include "core/checksum.h"
#include "core/path_rules.h"
#include "core/sizes.h"

#include <zlib.h>

#ifdef CORVANTA_HAVE_LIBDEFLATE
#include <libdeflate.h>
#endif
#ifdef CORVANTA_HAVE_ISAL
#include <isa-l/igzip_lib.h>
#endif

#include <cstring>

namespace {

// libdeflate inflates whole buffers: only entries this small are held in memory.
[[maybe_unused]] constexpr qint64 whole_inflate_limit = 4 * 1024 * 1024;

QString zip_error_text(int code)
{
    zip_error_t error;
    zip_error_init_with_code(&error, code);
    const QString text = QString::fromUtf8(zip_error_strerror(&error));
    zip_error_fini(&error);
    return text;
}

// Runs f with the archive's lock held, if there is one.
template <typename F>
auto locked(std::mutex *lock, F f)
{
    if (!lock)
        return f();
    const std::lock_guard<std::mutex> guard(*lock);
    return f();
}

} // namespace

struct Entry_Data_Reader::Decoder
{
    enum class Mode { Stored, Isal, Whole, Zlib, Libzip };

    Mode mode = Mode::Libzip;
    zip_t *za = nullptr;
    std::mutex *lock = nullptr;
    Zip_File_Ptr file;
    QString &reason;
    qint64 size = 0;
    qint64 compressed_size = 0;
    quint32 expected_crc = 0;
    qint64 produced = 0;
    quint32 crc = 0;
    bool ended = false;
    // Raw input for the inflaters.
    std::unique_ptr<unsigned char[]> in;
    bool input_end = false;
    z_stream z{};
    bool z_ready = false;
#ifdef CORVANTA_HAVE_ISAL
    inflate_state isal; // large: isal_inflate_init() sets what it needs, nothing is cleared twice
#endif
    QByteArray whole;

    Decoder(zip_t *za, const Archive_Entry &e, std::mutex *lock, QString &reason)
        : za(za), lock(lock), reason(reason), size(e.size), compressed_size(e.compressed_size), expected_crc(e.crc)
    {
        if (!e.encrypted && e.method == ZIP_CM_STORE)
            mode = Mode::Stored;
        else if (!e.encrypted && e.method == ZIP_CM_DEFLATE)
            mode = inflater_for(e);
    }

    ~Decoder()
    {
        if (z_ready)
            inflateEnd(&z);
        if (file)
            locked(lock, [&] { file.reset(); });
    }

    static Mode inflater_for(const Archive_Entry &e)
    {
#if defined(CORVANTA_HAVE_ISAL)
        Q_UNUSED(e);
        return Mode::Isal;
#elif defined(CORVANTA_HAVE_LIBDEFLATE)
        return e.size <= whole_inflate_limit && e.compressed_size <= whole_inflate_limit ? Mode::Whole : Mode::Zlib;
#else
        Q_UNUSED(e);
        return Mode::Zlib;
#endif
    }

    bool open(zip_uint64_t index)
    {
        const bool raw = mode != Mode::Libzip;
        locked(lock, [&] {
            file.reset(zip_fopen_index(za, index, raw ? ZIP_FL_COMPRESSED : 0));
            if (!file)
                reason = QString::fromUtf8(zip_strerror(za));
        });
        if (!file)
            return false;
        if (mode == Mode::Isal || mode == Mode::Zlib)
            in.reset(new unsigned char[io_block]);
#ifdef CORVANTA_HAVE_ISAL
        if (mode == Mode::Isal) {
            isal_inflate_init(&isal);
            isal.crc_flag = ISAL_DEFLATE;
        }
#endif
        if (mode == Mode::Zlib && !(z_ready = inflateInit2(&z, -MAX_WBITS) == Z_OK))
            return fail(ZIP_ER_MEMORY);
        return true;
    }

    bool fail(int code)
    {
        reason = zip_error_text(code);
        return false;
    }
    qint64 failure(int code)
    {
        fail(code);
        return -1;
    }

    qint64 raw_read(void *out, qint64 length)
    {
        return locked(lock, [&]() -> qint64 {
            const zip_int64_t n = zip_fread(file.get(), out, zip_uint64_t(length));
            if (n < 0)
                reason = QString::fromUtf8(zip_file_strerror(file.get()));
            return n;
        });
    }

    qint64 wrong_size()
    {
        reason = QStringLiteral("its data does not come to its recorded size");
        return -1;
    }

    // What every mode hands out passes here: counted and checksummed.
    qint64 deliver(const char *data, qint64 n)
    {
        produced += n;
        if (produced > size)
            return wrong_size();
        crc = checksum_update(crc, data, n);
        return n;
    }

    qint64 finish()
    {
        if (produced != size)
            return wrong_size();
        if (crc != expected_crc)
            return failure(ZIP_ER_CRC);
        ended = true;
        return 0;
    }

    qint64 read(char *buffer, qint64 length)
    {
        if (ended)
            return 0;
        switch (mode) {
        case Mode::Stored:
        case Mode::Libzip: {
            const qint64 n = raw_read(buffer, length);
            return n < 0 ? -1 : n == 0 ? finish() : deliver(buffer, n);
        }
        case Mode::Whole:
            return read_whole(buffer, length);
        case Mode::Isal:
        case Mode::Zlib:
            return read_streaming(buffer, length);
        }
        return -1;
    }

    bool refill(const unsigned char **next, qint64 *available)
    {
        const qint64 n = raw_read(in.get(), io_block);
        if (n < 0)
            return false;
        input_end = n == 0;
        *next = in.get();
        *available = n;
        return true;
    }

    // One inflate step into buffer: bytes made, and whether the stream ended; false on bad data.
    bool inflate_step(char *buffer, qint64 length, qint64 *made, bool *stream_end)
    {
        const uint32_t room = uint32_t(qMin<qint64>(length, largest_call));
#ifdef CORVANTA_HAVE_ISAL
        if (mode == Mode::Isal) {
            if (isal.avail_in == 0 && !input_end) {
                const unsigned char *next = nullptr;
                qint64 available = 0;
                if (!refill(&next, &available))
                    return false;
                isal.next_in = const_cast<uint8_t *>(next);
                isal.avail_in = uint32_t(available);
            }
            isal.next_out = reinterpret_cast<uint8_t *>(buffer);
            isal.avail_out = room;
            if (isal_inflate(&isal) != ISAL_DECOMP_OK)
                return fail(ZIP_ER_COMPRESSED_DATA);
            *made = qint64(room - isal.avail_out);
            *stream_end = isal.block_state == ISAL_BLOCK_FINISH;
            return *made > 0 || *stream_end || isal.avail_in > 0 || !input_end || fail(ZIP_ER_COMPRESSED_DATA);
        }
#endif
        if (z.avail_in == 0 && !input_end) {
            const unsigned char *next = nullptr;
            qint64 available = 0;
            if (!refill(&next, &available))
                return false;
            z.next_in = const_cast<Bytef *>(next);
            z.avail_in = uInt(available);
        }
        z.next_out = reinterpret_cast<Bytef *>(buffer);
        z.avail_out = room;
        const int rc = inflate(&z, Z_NO_FLUSH);
        if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR)
            return fail(ZIP_ER_COMPRESSED_DATA);
        *made = qint64(room - z.avail_out);
        *stream_end = rc == Z_STREAM_END;
        // The data ending inside the stream is damage.
        return *made > 0 || *stream_end || z.avail_in > 0 || !input_end || fail(ZIP_ER_COMPRESSED_DATA);
    }

    qint64 read_streaming(char *buffer, qint64 length)
    {
        for (;;) {
            qint64 made = 0;
            bool stream_end = false;
            if (!inflate_step(buffer, length, &made, &stream_end))
                return -1;
            if (made > 0)
                return deliver(buffer, made);
            if (stream_end)
                return finish();
        }
    }

    qint64 read_whole(char *buffer, qint64 length)
    {
#ifdef CORVANTA_HAVE_LIBDEFLATE
        if (whole.isNull() && !inflate_whole())
            return -1;
        const qint64 n = qMin(length, qint64(whole.size()) - produced);
        if (n == 0) {
            whole = QByteArray();
            return finish();
        }
        memcpy(buffer, whole.constData() + produced, size_t(n));
        return deliver(buffer, n);
#else
        Q_UNUSED(buffer);
        Q_UNUSED(length);
        return failure(ZIP_ER_INTERNAL);
#endif
    }

#ifdef CORVANTA_HAVE_LIBDEFLATE
    bool inflate_whole()
    {
        QByteArray raw(qsizetype(compressed_size), Qt::Uninitialized);
        for (qint64 got = 0; got < compressed_size;) {
            const qint64 n = raw_read(raw.data() + got, compressed_size - got);
            if (n < 0)
                return false;
            if (n == 0)
                return fail(ZIP_ER_EOF);
            got += n;
        }
        whole = QByteArray(qsizetype(size), Qt::Uninitialized);
        libdeflate_decompressor *d = libdeflate_alloc_decompressor();
        if (!d)
            return fail(ZIP_ER_MEMORY);
        size_t out_size = 0;
        const libdeflate_result rc = libdeflate_deflate_decompress(d, raw.constData(), size_t(raw.size()),
                                                                   whole.data(), size_t(whole.size()), &out_size);
        libdeflate_free_decompressor(d);
        if (rc == LIBDEFLATE_INSUFFICIENT_SPACE)
            return wrong_size() == 0;
        if (rc != LIBDEFLATE_SUCCESS)
            return fail(ZIP_ER_COMPRESSED_DATA);
        whole.truncate(qsizetype(out_size)); // a short result shows as a size mismatch at the end
        return true;
    }
#endif
};

Entry_Data_Reader::Entry_Data_Reader(zip_t *archive, const Archive_Entry &entry, std::mutex *archive_lock)
    : decoder(std::make_unique<Decoder>(archive, entry, archive_lock, reason))
{
    if (!decoder->open(entry.index))
        decoder.reset();
}

Entry_Data_Reader::~Entry_Data_Reader() = default;

bool Entry_Data_Reader::is_open() const
{
    return decoder != nullptr;
}

qint64 Entry_Data_Reader::read(char *buffer, qint64 length)
{
    return decoder ? decoder->read(buffer, length) : -1;
}

bool Entry_Data_Reader::read_all(QByteArray *out, qint64 limit)
{
    if (!decoder)
        return false;
    if (decoder->size > limit) {
        reason = QStringLiteral("longer than %1 bytes").arg(limit);
        return false;
    }
    out->resize(qsizetype(decoder->size));
    qint64 got = 0;
    for (;;) {
        // Room for one byte more than recorded, so that too much data shows.
        char spare;
        const qint64 n = got < out->size() ? read(out->data() + got, out->size() - got) : read(&spare, 1);
        if (n < 0)
            return false;
        if (n == 0)
            return true;
        got += n;
    }
}

bool read_link_target(zip_t *archive, const Archive_Entry &entry, std::mutex *archive_lock, QByteArray *target,
                      QString *problem)
{
    constexpr qint64 longest_target = 4096; // PATH_MAX
    Entry_Data_Reader reader(archive, entry, archive_lock);
    if (!reader.read_all(target, longest_target)) {
        *problem = reader.error();
        return false;
    }
    if (entry.windows_made)
        target->replace('\\', '/');
    if (!link_target_is_safe(entry.path, *target)) {
        *problem = QStringLiteral("link to \"%1\" leads out of the destination; not extracted").arg(display_path(*target));
        return false;
    }
    return true;
}
