// SPDX-License-Identifier: GPL-3.0-or-later
#include "container/container_source.h"

#include "container/archive_check.h"
#include "container/kvx_cipher.h"
#include "password.h"
#include "core/sizes.h"
#include "platform/system.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

QString not_a_regular_file()
{
    return QStringLiteral("not a regular file");
}

namespace {

class Container_Source
{
public:
    os::File file;
    qint64 file_size = 0;
    zip_int64_t size = 0; // of the archive
    zip_int64_t position = 0;
    zip_error_t error;
    sealed::Key key; // set for a container protected by a password
    Opened_Start opened_start; // its first chunks, opened by the check

    Container_Source() { zip_error_init(&error); }
    ~Container_Source() { zip_error_fini(&error); }

    zip_int64_t read(char *out, zip_uint64_t length)
    {
        const qint64 want = qMin<qint64>(qint64(qMin<zip_uint64_t>(length, zip_uint64_t(largest_call))), size - position);
        if (!(key.is_set() ? read_sealed(position, out, want) : read_deciphered(position, out, want)))
            return -1;
        position += want;
        return want;
    }

    // The file's bytes [at, at + want), deciphered.
    bool read_deciphered(qint64 at, char *out, qint64 want)
    {
        for (qint64 copied = 0; copied < want;) {
            if (!load(at + copied, want - copied))
                return false;
            const qint64 offset = at + copied - cache_start;
            const qint64 n = qMin(want - copied, cache_length - offset);
            memcpy(out + copied, cache.data() + offset, size_t(n));
            copied += n;
        }
        return true;
    }

    // The sealed chunk index into plain (plain_length(index) bytes); false when it does not open.
    bool open_into(qint64 index, char *plain)
    {
        const qint64 stored_length = plain_length(index) + sealed::nonce_size + sealed::tag_size;
        if (!read_deciphered(sealed::stored_offset(index), stored.data(), stored_length))
            return false;
        return key.open(index, index == last_chunk(), stored.data(), stored_length, plain) || damaged();
    }
    // How many of the archive's bytes sealed chunk index holds.
    qint64 plain_length(qint64 index) const
    {
        return index == last_chunk() ? size - index * sealed::chunk_size : sealed::chunk_size;
    }

    // Whether the sealed chunk index would open, without deciphering it.
    bool check_chunk(qint64 index)
    {
        const qint64 stored_length = plain_length(index) + sealed::nonce_size + sealed::tag_size;
        if (!read_deciphered(sealed::stored_offset(index), stored.data(), stored_length))
            return false;
        return key.check(index, index == last_chunk(), stored.data(), stored_length) || damaged();
    }

private:
    // Up to 64 chunks per read when reading on: large enough for streaming
    // entries. A jump (to a header) reads only the chunks it needs.
    static constexpr qint64 cache_capacity = qint64(kvx_chunk_size) * 64;
    std::vector<unsigned char> cache = std::vector<unsigned char>(size_t(cache_capacity));
    qint64 cache_start = 0;
    qint64 cache_length = 0;
    // The sealed chunks last opened in part: the walk through the entries,
    // the entries being streamed and libzip's look at a local header each
    // come back to theirs, which must not open a chunk again each time.
    struct Opened_Chunk
    {
        qint64 index = -1;
        quint64 used = 0;
        std::vector<char> bytes;
    };
    std::array<Opened_Chunk, 8> opened_chunks;
    quint64 uses = 0;
    const char *opened = nullptr; // the chunk open_chunk() opened last
    std::vector<char> stored = std::vector<char>(size_t(sealed::stored_chunk_size));

    qint64 last_chunk() const { return (size - 1) / sealed::chunk_size; }
    bool damaged()
    {
        zip_error_set(&error, ZIP_ER_INCONS, 0);
        return false;
    }

    bool read_sealed(qint64 at, char *out, qint64 want)
    {
        qint64 copied = 0;
        if (opened_start && at < opened_start->size) {
            copied = qMin(want, opened_start->size - at);
            memcpy(out, opened_start->bytes.get() + at, size_t(copied));
        }
        while (copied < want) {
            const qint64 index = (at + copied) / sealed::chunk_size;
            const qint64 offset = (at + copied) % sealed::chunk_size;
            const qint64 n = qMin(want - copied, sealed::chunk_size - offset);
            // A chunk read whole (an entry streamed) opens straight into the
            // caller's buffer and leaves the kept chunks to the other readers.
            const bool whole = offset == 0 && n == plain_length(index);
            if (whole && !held(index)) {
                if (!open_into(index, out + copied))
                    return false;
            } else {
                if (!open_chunk(index))
                    return false;
                memcpy(out + copied, opened + offset, size_t(n));
            }
            copied += n;
        }
        return true;
    }

    bool held(qint64 index) const
    {
        return std::any_of(opened_chunks.begin(), opened_chunks.end(),
                           [index](const Opened_Chunk &c) { return c.index == index; });
    }

    // The sealed chunk index, opened into `opened`; false when it does not open.
    bool open_chunk(qint64 index)
    {
        Opened_Chunk *slot = &opened_chunks[0];
        for (Opened_Chunk &c : opened_chunks) {
            if (c.index == index) {
                c.used = ++uses;
                opened = c.bytes.data();
                return true;
            }
            if (c.used < slot->used)
                slot = &c;
        }
        slot->index = -1;
        slot->bytes.resize(size_t(sealed::chunk_size));
        if (!open_into(index, slot->bytes.data()))
            return false;
        slot->index = index;
        slot->used = ++uses;
        opened = slot->bytes.data();
        return true;
    }

    bool load(qint64 at, qint64 wanted)
    {
        if (at >= cache_start && at < cache_start + cache_length)
            return true;
        const bool reading_on = at == cache_start + cache_length;
        const qint64 start = at - at % kvx_chunk_size;
        const qint64 needed = at + wanted - start;
        const qint64 span = reading_on ? cache_capacity
                                       : qMin(cache_capacity, (needed + kvx_chunk_size - 1) / kvx_chunk_size * kvx_chunk_size);
        const qint64 n = qMin(span, file_size - start);
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

// A container's deciphered file, over which the archive is read.
std::unique_ptr<Container_Source> open_source_state(os::File file, QString *reason)
{
    auto source = std::make_unique<Container_Source>();
    source->file = std::move(file);
    os::Status st;
    const int error = source->file.status(&st);
    if (error != 0 || st.kind != os::Kind::File) {
        // A pipe or /dev/zero would read as empty, a folder as no zip at all.
        *reason = error ? os::reason(error) : not_a_regular_file();
        return nullptr;
    }
    source->file_size = source->size = st.size;
    return source;
}

zip_source_t *make_source(std::unique_ptr<Container_Source> source, QString *reason)
{
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

} // namespace

zip_source_t *create_container_source(os::File file, QString *reason)
{
    return create_container_source(std::move(file), sealed::Key(), reason);
}

zip_source_t *create_container_source(os::File file, const sealed::Key &key, QString *reason,
                                      const Opened_Start &opened)
{
    auto source = open_source_state(std::move(file), reason);
    if (!source)
        return nullptr;
    if (key.is_set()) {
        source->key = key;
        source->size = sealed::plain_size(source->file_size - sealed::header_size);
        if (source->size <= 0) {
            *reason = QStringLiteral("not a container, or damaged (cut short)");
            return nullptr;
        }
        if (opened && opened->size <= source->size)
            source->opened_start = opened;
    }
    return make_source(std::move(source), reason);
}

zip_source_t *create_container_source(const QByteArray &container_path, const sealed::Key &key, QString *reason,
                                      const Opened_Start &opened)
{
    os::File file;
    if (const int error = file.open_read(container_path)) {
        *reason = os::reason(error);
        return nullptr;
    }
    return create_container_source(std::move(file), key, reason, opened);
}

bool unlock_container(os::File file, const QString &name, const Password_Provider &ask, sealed::Key *key,
                      QString *reason)
{
    auto source = open_source_state(std::move(file), reason);
    if (!source)
        return false;
    QByteArray start(qMin(source->file_size, sealed::header_size), Qt::Uninitialized);
    if (!source->read_deciphered(0, start.data(), start.size())) {
        *reason = QStringLiteral("cannot be read");
        return false;
    }
    if (!sealed::is_sealed(start))
        return true; // no password: the archive follows the cipher directly
    sealed::Header header;
    if (!sealed::Header::parse(start, &header, reason))
        return false;
    source->size = sealed::plain_size(source->file_size - sealed::header_size);
    if (source->size <= 0) {
        *reason = QStringLiteral("not a container, or damaged (cut short)");
        return false;
    }
    if (!ask) {
        *reason = QStringLiteral("protected by a password, and none was given");
        return false;
    }
    bool one_was_wrong = false;
    for (int attempt = 1; attempt <= password_attempts; ++attempt) {
        Password password;
        one_was_wrong = attempt > 1;
        if (!ask(name, attempt, &password))
            break; // after a wrong one, no other is given
        if (!sealed::Key::derive(password, header, &source->key)) {
            *reason = QStringLiteral("out of memory for the password's key");
            return false;
        }
        // The first chunk opens only under the right key.
        if (source->check_chunk(0)) {
            *key = source->key;
            return true;
        }
    }
    *reason = one_was_wrong ? QStringLiteral("wrong password or damaged container")
                           : QStringLiteral("protected by a password, and none was given");
    return false;
}

bool verify_sealed_chunks(const QByteArray &container_path, const sealed::Key &key, const std::function<bool()> &go_on,
                          QString *reason, Opened_Start *opened, qint64 keep)
{
    os::Status st;
    if (const int error = os::status(container_path, true, &st)) {
        *reason = os::reason(error);
        return false;
    }
    const qint64 size = sealed::plain_size(st.size - sealed::header_size);
    const qint64 chunks = (size + sealed::chunk_size - 1) / sealed::chunk_size;
    // Whole chunks only, or the archive to its end.
    const qint64 kept_chunks = opened ? qMin(chunks, qMax<qint64>(0, keep) / sealed::chunk_size) : 0;
    auto kept = std::make_shared<Opened_Chunks>();
    kept->size = kept_chunks == chunks ? qMax<qint64>(0, size) : kept_chunks * sealed::chunk_size;
    if (kept->size > 0)
        kept->bytes.reset(new (std::nothrow) char[size_t(kept->size)]);
    if (!kept->bytes)
        kept->size = 0;

    // Chunks [first, end) through a reader of their own; the halves of a big
    // container are checked side by side.
    std::atomic<bool> failed{false};
    std::mutex failure_mutex;
    const auto check = [&](qint64 first, qint64 end) {
        QString why;
        os::File file;
        std::unique_ptr<Container_Source> source;
        if (const int error = file.open_read(container_path))
            why = os::reason(error);
        else
            source = open_source_state(std::move(file), &why);
        if (source) {
            source->key = key;
            source->size = sealed::plain_size(source->file_size - sealed::header_size);
            if (source->size != size)
                why = QStringLiteral("changed while it was checked");
            for (qint64 index = first; why.isEmpty() && index < end && !failed && go_on(); ++index) {
                const qint64 at = index * sealed::chunk_size;
                const bool whole = at < kept->size ? source->open_into(index, kept->bytes.get() + at)
                                                   : source->check_chunk(index);
                if (!whole)
                    why = zip_error_code_zip(&source->error) == ZIP_ER_INCONS
                              ? QStringLiteral("damaged: part %1 of the protected archive fails its check").arg(index + 1)
                              : QStringLiteral("cannot be read");
            }
        }
        if (!why.isEmpty()) {
            const std::lock_guard<std::mutex> lock(failure_mutex);
            if (!failed.exchange(true))
                *reason = why;
        }
    };
    const qint64 half = chunks / 2;
    std::thread other;
    if (half > 0) {
        try {
            other = std::thread(check, half, chunks);
        } catch (const std::system_error &) {
        }
    }
    check(0, other.joinable() ? half : chunks);
    if (other.joinable())
        other.join();
    if (failed || !go_on())
        return false;
    if (opened && kept->size > 0)
        *opened = std::move(kept);
    return true;
}

zip_source_t *create_container_source(const QByteArray &container_path, QString *reason)
{
    return create_container_source(container_path, sealed::Key(), reason);
}

namespace {
const QString damage_prefix = QStringLiteral("not a container, or damaged (");
}

bool is_damage(const QString &reason)
{
    return reason.startsWith(damage_prefix);
}

Zip_Ptr open_checked_archive(const Archive_Opener &open_source, QString *reason)
{
    QString why;
    const auto damaged = [&](const QString &what) {
        *reason = damage_prefix + what + QLatin1Char(')');
        return nullptr;
    };
    qint64 entries = 0;
    {
        const Zip_Source_Ptr source(open_source(&why));
        if (!source) {
            *reason = why;
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
        *reason = why;
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
