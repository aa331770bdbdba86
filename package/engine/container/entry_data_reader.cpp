#include "container/entry_data_reader.h"

#include "pack/deflate_codec.h"

#ifdef CORVANTA_HAVE_LIBDEFLATE
#include <libdeflate.h>
#endif
#ifdef CORVANTA_HAVE_ISAL
#include <isa-l/igzip_lib.h>
#endif

#include <cstring>

namespace {

#ifdef CORVANTA_HAVE_ISAL
constexpr qint64 raw_read_block = 256 * 1024;
#endif

QString zip_error_text(int code)
{
    zip_error_t error;
    zip_error_init_with_code(&error, code);
    const QString text = QString::fromUtf8(zip_error_strerror(&error));
    zip_error_fini(&error);
    return text;
}

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

// Inflates a deflated entry's raw data: streaming with ISA-L, whole with libdeflate.
struct Entry_Data_Reader::Fast
{
    zip_file_t *file = nullptr; // raw data, owned by the reader
    QString *reason = nullptr;
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

    Fast(zip_file_t *file, QString *reason, const zip_stat_t &st)
        : file(file), reason(reason), crc(st.crc), size(qint64(st.size)), comp_size(qint64(st.comp_size))
    {
#ifdef CORVANTA_HAVE_ISAL
        isal_inflate_init(&isal);
        isal.crc_flag = ISAL_GZIP_NO_HDR; // the zip checksum is gzip's
        in.reset(new unsigned char[raw_read_block]);
#endif
    }

    // Each sets the reason: -1 for read(), false for the steps inside it.
    qint64 failure(int code)
    {
        *reason = zip_error_text(code);
        return -1;
    }
    bool failed(int code)
    {
        failure(code);
        return false;
    }
    bool file_failed()
    {
        *reason = QString::fromUtf8(zip_file_strerror(file));
        return false;
    }

    qint64 read(char *buffer, qint64 length)
    {
        if (done)
            return 0;
#if defined(CORVANTA_HAVE_ISAL)
        return read_streaming(buffer, length);
#elif defined(CORVANTA_HAVE_LIBDEFLATE)
        if (!inflated && !inflate_whole())
            return -1;
        return read_whole(buffer, length);
#else
        Q_UNUSED(buffer);
        Q_UNUSED(length);
        return failure(ZIP_ER_INTERNAL);
#endif
    }

#ifdef CORVANTA_HAVE_ISAL
    qint64 read_streaming(char *buffer, qint64 length)
    {
        for (;;) {
            if (finished)
                return check_end();
            if (isal.avail_in == 0 && !input_end && !refill())
                return -1;
            const uint32_t room = uint32_t(qMin<qint64>(length, 1 << 30));
            isal.next_out = reinterpret_cast<uint8_t *>(buffer);
            isal.avail_out = room;
            if (isal_inflate(&isal) != ISAL_DECOMP_OK)
                return failure(ZIP_ER_COMPRESSED_DATA);
            const qint64 produced = qint64(room - isal.avail_out);
            total += produced;
            if (total > size)
                return failure(ZIP_ER_INCONS);
            finished = isal.block_state == ISAL_BLOCK_FINISH;
            if (produced > 0)
                return produced;
            if (!finished && input_end && isal.avail_in == 0)
                return failure(ZIP_ER_COMPRESSED_DATA); // the data ends inside the stream
        }
    }

    bool refill()
    {
        const zip_int64_t n = zip_fread(file, in.get(), zip_uint64_t(raw_read_block));
        if (n < 0)
            return file_failed();
        input_end = n == 0;
        isal.next_in = in.get();
        isal.avail_in = uint32_t(n);
        return true;
    }

    qint64 check_end()
    {
        if (total != size)
            return failure(ZIP_ER_INCONS);
        if (isal.crc != crc)
            return failure(ZIP_ER_CRC);
        done = true;
        return 0;
    }
#elif defined(CORVANTA_HAVE_LIBDEFLATE)
    bool inflate_whole()
    {
        inflated = true;
        QByteArray raw(qsizetype(comp_size), Qt::Uninitialized);
        for (qint64 got = 0; got < comp_size;) {
            const zip_int64_t n = zip_fread(file, raw.data() + got, zip_uint64_t(comp_size - got));
            if (n < 0)
                return file_failed();
            if (n == 0)
                return failed(ZIP_ER_EOF);
            got += n;
        }
        whole = QByteArray(qsizetype(size), Qt::Uninitialized);
        libdeflate_decompressor *d = libdeflate_alloc_decompressor();
        if (!d)
            return failed(ZIP_ER_MEMORY);
        size_t out_size = 0;
        const libdeflate_result rc = libdeflate_deflate_decompress(d, raw.constData(), size_t(raw.size()),
                                                                   whole.data(), size_t(whole.size()), &out_size);
        libdeflate_free_decompressor(d);
        if (rc == LIBDEFLATE_INSUFFICIENT_SPACE)
            return failed(ZIP_ER_INCONS);
        if (rc != LIBDEFLATE_SUCCESS)
            return failed(ZIP_ER_COMPRESSED_DATA);
        if (qint64(out_size) != size)
            return failed(ZIP_ER_INCONS);
        if (libdeflate_crc32(0, whole.constData(), out_size) != crc)
            return failed(ZIP_ER_CRC);
        return true;
    }

    qint64 read_whole(char *buffer, qint64 length)
    {
        const qint64 n = qMin(length, size - total);
        memcpy(buffer, whole.constData() + total, size_t(n));
        total += n;
        if (n == 0) {
            done = true;
            whole = QByteArray();
        }
        return n;
    }
#endif
};

Entry_Data_Reader::Entry_Data_Reader(zip_t *archive, zip_uint64_t index)
{
    zip_stat_t st;
    if (zip_stat_index(archive, index, 0, &st) == 0 && fast_inflate_fits(st)) {
        file.reset(zip_fopen_index(archive, index, ZIP_FL_COMPRESSED));
        if (file)
            fast = std::make_unique<Fast>(file.get(), &reason, st);
    } else {
        file.reset(zip_fopen_index(archive, index, 0));
    }
    if (!file)
        reason = QString::fromUtf8(zip_strerror(archive));
}

Entry_Data_Reader::~Entry_Data_Reader() = default;

bool Entry_Data_Reader::is_open() const
{
    return file != nullptr;
}

qint64 Entry_Data_Reader::read(char *buffer, qint64 length)
{
    if (!file)
        return -1;
    if (fast)
        return fast->read(buffer, length);
    const zip_int64_t n = zip_fread(file.get(), buffer, zip_uint64_t(length));
    if (n < 0)
        reason = QString::fromUtf8(zip_file_strerror(file.get()));
    return n;
}

bool Entry_Data_Reader::close()
{
    if (!file)
        return true;
    const int rc = zip_fclose(file.release());
    if (rc != 0) {
        reason = zip_error_text(rc);
        return false;
    }
    return true;
}
