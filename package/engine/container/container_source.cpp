#include "container/container_source.h"

#include "container/kvx_cipher.h"

#include <QFile>

#include <memory>
#include <vector>

namespace {

class Container_Source
{
public:
    QFile file;
    qint64 size = 0;
    qint64 position = 0;
    zip_error_t error;

    Container_Source() { zip_error_init(&error); }
    ~Container_Source() { zip_error_fini(&error); }

    zip_int64_t read(char *out, zip_uint64_t length)
    {
        const qint64 want = qMin<qint64>(qint64(qMin<zip_uint64_t>(length, 1u << 30)), size - position);
        qint64 copied = 0;
        while (copied < want) {
            if (!load(position))
                return -1;
            const qint64 offset = position - cache_start;
            const qint64 n = qMin(want - copied, cache_length - offset);
            memcpy(out + copied, cache.data() + offset, size_t(n));
            copied += n;
            position += n;
        }
        return copied;
    }

private:
    // 64 chunks per read: large enough for streaming entries, small enough
    // that seeking to a header does not read much more than needed.
    static constexpr qint64 cache_capacity = qint64(kvx_chunk_size) * 64;
    std::vector<unsigned char> cache = std::vector<unsigned char>(size_t(cache_capacity));
    qint64 cache_start = 0;
    qint64 cache_length = 0;

    bool load(qint64 at)
    {
        if (at >= cache_start && at < cache_start + cache_length)
            return true;
        const qint64 start = at - at % kvx_chunk_size;
        const qint64 n = qMin(cache_capacity, size - start);
        cache_length = 0;
        if (!file.seek(start)) {
            zip_error_set(&error, ZIP_ER_SEEK, 0);
            return false;
        }
        qint64 got = 0;
        while (got < n) {
            const qint64 r = file.read(reinterpret_cast<char *>(cache.data()) + got, n - got);
            if (r <= 0) {
                // A shrinking file ends early; report it like any read failure.
                zip_error_set(&error, r < 0 ? ZIP_ER_READ : ZIP_ER_EOF, 0);
                return false;
            }
            got += r;
        }
        transform_chunks(cache.data(), n, Cipher_Direction::Decrypt);
        cache_start = start;
        cache_length = n;
        return true;
    }
};

zip_int64_t container_callback(void *state, void *data, zip_uint64_t length, zip_source_cmd_t command)
{
    auto *source = static_cast<Container_Source *>(state);
    switch (command) {
    case ZIP_SOURCE_OPEN:
        source->position = 0;
        return 0;
    case ZIP_SOURCE_READ:
        return source->read(static_cast<char *>(data), length);
    case ZIP_SOURCE_CLOSE:
        return 0;
    case ZIP_SOURCE_STAT: {
        zip_stat_t *st = ZIP_SOURCE_GET_ARGS(zip_stat_t, data, length, &source->error);
        if (!st)
            return -1;
        zip_stat_init(st);
        st->valid = ZIP_STAT_SIZE;
        st->size = zip_uint64_t(source->size);
        return sizeof(*st);
    }
    case ZIP_SOURCE_SEEK: {
        const zip_int64_t to = zip_source_seek_compute_offset(zip_uint64_t(source->position),
                                                              zip_uint64_t(source->size), data, length,
                                                              &source->error);
        if (to < 0)
            return -1;
        source->position = to;
        return 0;
    }
    case ZIP_SOURCE_TELL:
        return source->position;
    case ZIP_SOURCE_SUPPORTS:
        return ZIP_SOURCE_SUPPORTS_SEEKABLE;
    default:
        return answer_common_command(source, data, length, command);
    }
}

} // namespace

zip_source_t *create_container_source(const QString &container_path, QString *reason)
{
    auto source = std::make_unique<Container_Source>();
    source->file.setFileName(container_path);
    if (!source->file.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        if (reason)
            *reason = source->file.errorString();
        return nullptr;
    }
    source->size = source->file.size();
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t *zs = zip_source_function_create(container_callback, source.get(), &error);
    if (!zs) {
        if (reason)
            *reason = QString::fromUtf8(zip_error_strerror(&error));
        zip_error_fini(&error);
        return nullptr;
    }
    zip_error_fini(&error);
    source.release();
    return zs;
}

Zip_Ptr open_zip_source(zip_source_t *source, int flags, QString *reason)
{
    Zip_Source_Ptr owned(source);
    zip_error_t error;
    zip_error_init(&error);
    Zip_Ptr za(zip_open_from_source(owned.get(), flags, &error));
    if (za)
        owned.release(); // the archive owns its source now
    else
        *reason = QStringLiteral("not a container, or damaged (%1)").arg(QString::fromUtf8(zip_error_strerror(&error)));
    zip_error_fini(&error);
    return za;
}
