// SPDX-License-Identifier: GPL-3.0-or-later
#include "container/entry_data_reader.h"

#include "container/archive_entries.h"
#include "container/inflater.h"
#include "core/checksum.h"
#include "core/path_rules.h"
#include "core/sizes.h"

#include <cstring>

namespace {

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
    // Stored and deflated data is read raw and inflated here (a stream at a
    // time, or whole); anything else libzip decompresses.
    enum class Mode { Stored, Streamed, Whole, Libzip };

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
    std::unique_ptr<Stream_Inflater> inflater;
    std::unique_ptr<unsigned char[]> in; // raw input for the inflater
    QByteArray whole;
    bool inflated = false;
    // Raw data read beforehand, handed out from read_at on.
    QByteArray preloaded;
    qint64 read_at = 0;
    bool is_preloaded = false;

    Decoder(zip_t *za, const Archive_Entry &e, std::mutex *lock, QString &reason)
        : za(za), lock(lock), reason(reason), size(e.size), compressed_size(e.compressed_size), expected_crc(e.crc)
    {
        if (!e.encrypted && e.method == ZIP_CM_STORE)
            mode = Mode::Stored;
        else if (!e.encrypted && e.method == ZIP_CM_DEFLATE)
            mode = whole_inflate_fits(e.size, e.compressed_size) ? Mode::Whole : Mode::Streamed;
    }

    ~Decoder()
    {
        if (file)
            locked(lock, [&] { file.reset(); });
    }

    bool open(zip_uint64_t index)
    {
        const bool raw = mode != Mode::Libzip;
        if (!is_preloaded) {
            locked(lock, [&] {
                file.reset(zip_fopen_index(za, index, raw ? ZIP_FL_COMPRESSED : 0));
                if (!file)
                    reason = QString::fromUtf8(zip_strerror(za));
            });
            if (!file)
                return false;
        }
        if (mode == Mode::Streamed) {
            inflater = std::make_unique<Stream_Inflater>();
            in.reset(new unsigned char[io_block]);
            if (!inflater->is_ready()) {
                reason = zip_error_text(ZIP_ER_MEMORY);
                return false;
            }
        }
        return true;
    }

    qint64 failure(int code)
    {
        reason = zip_error_text(code);
        return -1;
    }
    qint64 wrong_size()
    {
        reason = QStringLiteral("its data does not come to its recorded size");
        return -1;
    }

    qint64 raw_read(void *out, qint64 length)
    {
        if (is_preloaded) {
            const qint64 n = qMin(length, qint64(preloaded.size()) - read_at);
            memcpy(out, preloaded.constData() + read_at, size_t(n));
            read_at += n;
            return n;
        }
        return locked(lock, [&]() -> qint64 {
            const zip_int64_t n = zip_fread(file.get(), out, zip_uint64_t(length));
            if (n < 0)
                reason = QString::fromUtf8(zip_file_strerror(file.get()));
            return n;
        });
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
        case Mode::Streamed:
            return read_streaming(buffer, length);
        }
        return -1;
    }

    qint64 read_streaming(char *buffer, qint64 length)
    {
        for (;;) {
            if (inflater->needs_input()) {
                const qint64 n = raw_read(in.get(), io_block);
                if (n < 0)
                    return -1;
                inflater->give(in.get(), n, n == 0);
            }
            qint64 made = 0;
            bool stream_end = false;
            if (!inflater->step(buffer, length, &made, &stream_end))
                return failure(ZIP_ER_COMPRESSED_DATA);
            if (made > 0)
                return deliver(buffer, made);
            if (stream_end)
                return finish();
        }
    }

    qint64 read_whole(char *buffer, qint64 length)
    {
        if (!inflated) {
            inflated = true;
            QByteArray raw(qsizetype(compressed_size), Qt::Uninitialized);
            for (qint64 got = 0; got < compressed_size;) {
                const qint64 n = raw_read(raw.data() + got, compressed_size - got);
                if (n < 0)
                    return -1;
                if (n == 0)
                    return failure(ZIP_ER_EOF);
                got += n;
            }
            if (!inflate_whole(raw, size, &whole))
                return failure(ZIP_ER_COMPRESSED_DATA);
        }
        const qint64 n = qMin(length, qint64(whole.size()) - produced);
        if (n <= 0) {
            whole = QByteArray();
            return finish();
        }
        memcpy(buffer, whole.constData() + produced, size_t(n));
        return deliver(buffer, n);
    }
};

Entry_Data_Reader::Entry_Data_Reader(zip_t *archive, const Archive_Entry &entry, std::mutex *archive_lock)
    : decoder(std::make_unique<Decoder>(archive, entry, archive_lock, reason))
{
    if (!decoder->open(entry.index))
        decoder.reset();
}

Entry_Data_Reader::Entry_Data_Reader(const Archive_Entry &entry, QByteArray raw)
    : decoder(std::make_unique<Decoder>(nullptr, entry, nullptr, reason))
{
    decoder->preloaded = std::move(raw);
    decoder->is_preloaded = true;
    if (!decoder->open(entry.index))
        decoder.reset();
}

Entry_Data_Reader::~Entry_Data_Reader() = default;

bool Entry_Data_Reader::can_read_raw(const Archive_Entry &e)
{
    return !e.encrypted && (e.method == ZIP_CM_STORE || e.method == ZIP_CM_DEFLATE) && e.compressed_size <= io_block;
}

bool Entry_Data_Reader::read_raw(zip_t *archive, const Archive_Entry &e, QByteArray *raw, QString *problem)
{
    const Zip_File_Ptr file(zip_fopen_index(archive, e.index, ZIP_FL_COMPRESSED));
    if (!file) {
        *problem = QString::fromUtf8(zip_strerror(archive));
        return false;
    }
    raw->resize(qsizetype(e.compressed_size));
    for (qint64 got = 0; got < raw->size();) {
        const zip_int64_t n = zip_fread(file.get(), raw->data() + got, zip_uint64_t(raw->size() - got));
        if (n <= 0) {
            *problem = n < 0 ? QString::fromUtf8(zip_file_strerror(file.get())) : zip_error_text(ZIP_ER_EOF);
            return false;
        }
        got += n;
    }
    return true;
}

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
