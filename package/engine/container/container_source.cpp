#include "container/container_source.h"

#include "container/archive_check.h"
#include "container/kvx_cipher.h"
#include "core/sizes.h"
#include "platform/system.h"

#include <vector>

namespace {

class Container_Source
{
public:
    os::File file;
    zip_int64_t size = 0;
    zip_int64_t position = 0;
    zip_error_t error;

    Container_Source() { zip_error_init(&error); }
    ~Container_Source() { zip_error_fini(&error); }

    zip_int64_t read(char *out, zip_uint64_t length)
    {
        const qint64 want = qMin<qint64>(qint64(qMin<zip_uint64_t>(length, zip_uint64_t(largest_call))), size - position);
        qint64 copied = 0;
        while (copied < want) {
            if (!load(position, want - copied))
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
    // Up to 64 chunks per read when reading on: large enough for streaming
    // entries. A jump (to a header) reads only the chunks it needs.
    static constexpr qint64 cache_capacity = qint64(kvx_chunk_size) * 64;
    std::vector<unsigned char> cache = std::vector<unsigned char>(size_t(cache_capacity));
    qint64 cache_start = 0;
    qint64 cache_length = 0;

    bool load(qint64 at, qint64 wanted)
    {
        if (at >= cache_start && at < cache_start + cache_length)
            return true;
        const bool reading_on = at == cache_start + cache_length;
        const qint64 start = at - at % kvx_chunk_size;
        const qint64 needed = at + wanted - start;
        const qint64 span = reading_on ? cache_capacity
                                       : qMin(cache_capacity, (needed + kvx_chunk_size - 1) / kvx_chunk_size * kvx_chunk_size);
        const qint64 n = qMin(span, size - start);
        cache_length = 0;
        qint64 got = 0;
        while (got < n) {
            int system_error = 0;
            const qint64 r = file.read_at(start + got, reinterpret_cast<char *>(cache.data()) + got, n - got,
                                          &system_error);
            if (r <= 0) {
                // A shrinking file ends early; report it like any read failure.
                zip_error_set(&error, r < 0 ? ZIP_ER_READ : ZIP_ER_EOF, system_error);
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

zip_int64_t answer_container(Container_Source *source, void *data, zip_uint64_t length, zip_source_cmd_t command)
{
    switch (command) {
    case ZIP_SOURCE_OPEN:
        source->position = 0;
        return 0;
    case ZIP_SOURCE_READ:
        return source->read(static_cast<char *>(data), length);
    case ZIP_SOURCE_CLOSE:
        return 0;
    case ZIP_SOURCE_STAT:
        return answer_stat(data, length, &source->error, source->size) ? sizeof(zip_stat_t) : -1;
    case ZIP_SOURCE_SEEK:
        return answer_seek(&source->position, source->size, data, length, &source->error);
    case ZIP_SOURCE_TELL:
        return source->position;
    case ZIP_SOURCE_SUPPORTS:
        return ZIP_SOURCE_SUPPORTS_SEEKABLE;
    default:
        return answer_common_command(source, data, length, command);
    }
}

zip_int64_t container_callback(void *state, void *data, zip_uint64_t length, zip_source_cmd_t command)
{
    auto *source = static_cast<Container_Source *>(state);
    return answer_without_throwing(&source->error, [&] { return answer_container(source, data, length, command); });
}

} // namespace

zip_source_t *create_container_source(const QByteArray &container_path, QString *reason)
{
    os::File file;
    if (const int error = file.open_read(container_path)) {
        *reason = os::reason(error);
        return nullptr;
    }
    return create_container_source(std::move(file), reason);
}

zip_source_t *create_container_source(os::File file, QString *reason)
{
    auto source = std::make_unique<Container_Source>();
    source->file = std::move(file);
    os::Status st;
    if (const int error = source->file.status(&st)) {
        *reason = os::reason(error);
        return nullptr;
    }
    source->size = st.size;
    zip_error_t ze;
    zip_error_init(&ze);
    zip_source_t *zs = zip_source_function_create(container_callback, source.get(), &ze);
    if (zs)
        source.release(); // the source frees it
    else
        *reason = QString::fromUtf8(zip_error_strerror(&ze));
    zip_error_fini(&ze);
    return zs;
}

Zip_Ptr open_checked_archive(const Archive_Opener &open_source, QString *reason)
{
    QString why;
    const auto damaged = [&](const QString &what) {
        *reason = QStringLiteral("not a container, or damaged (%1)").arg(what);
        return nullptr;
    };
    qint64 entries = 0;
    {
        const Zip_Source_Ptr source(open_source(&why));
        if (!source) {
            *reason = QStringLiteral("cannot open: %1").arg(why);
            return nullptr;
        }
        zip_stat_t st;
        if (zip_source_stat(source.get(), &st) == 0 && (st.valid & ZIP_STAT_SIZE) && st.size == 0) {
            *reason = QStringLiteral("the container is empty");
            return nullptr;
        }
        if (!check_archive_structure(source.get(), &entries, &why))
            return damaged(why);
    }
    Zip_Source_Ptr source(open_source(&why));
    if (!source) {
        *reason = QStringLiteral("cannot open: %1").arg(why);
        return nullptr;
    }
    zip_error_t error;
    zip_error_init(&error);
    Zip_Ptr za(zip_open_from_source(source.get(), ZIP_RDONLY, &error));
    const QString libzip_reason = QString::fromUtf8(zip_error_strerror(&error));
    zip_error_fini(&error);
    if (!za)
        return damaged(libzip_reason);
    source.release(); // the archive owns its source now
    if (zip_get_num_entries(za.get(), 0) != entries)
        return damaged(QStringLiteral("the entry count disagrees with the central directory"));
    return za;
}
