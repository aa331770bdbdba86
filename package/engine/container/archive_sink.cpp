// SPDX-License-Identifier: GPL-3.0-or-later
#include "container/archive_sink.h"

#include "container/archive_output.h"
#include "core/sizes.h"

#include <cerrno>
#include <memory>

namespace {

// libzip's output: the caller's open file, written through an Archive_Target.
struct Archive_Sink
{
    Archive_Target *output = nullptr;
    zip_int64_t position = 0; // where libzip writes
    zip_int64_t read_position = 0;
    zip_error_t error;

    Archive_Sink() { zip_error_init(&error); }
    ~Archive_Sink() { zip_error_fini(&error); }

    zip_int64_t failed(int code)
    {
        zip_error_set(&error, code, errno);
        return -1;
    }

    // The file is this run's own: it starts, or starts again, empty.
    zip_int64_t restart()
    {
        position = read_position = 0;
        return output->restart() ? 0 : failed(ZIP_ER_WRITE);
    }

    zip_int64_t read(void *data, zip_uint64_t length)
    {
        const qint64 n = output->read(read_position, static_cast<char *>(data),
                                      qint64(qMin<zip_uint64_t>(length, zip_uint64_t(largest_call))));
        if (n < 0)
            return failed(ZIP_ER_READ);
        read_position += n;
        return n;
    }

    zip_int64_t write(const void *data, zip_uint64_t length)
    {
        if (!output->write(position, static_cast<const char *>(data), qint64(length)))
            return failed(ZIP_ER_WRITE);
        position += qint64(length);
        return zip_int64_t(length);
    }

    zip_int64_t seek(zip_int64_t *at, void *data, zip_uint64_t length)
    {
        return answer_seek(at, output->size(), data, length, &error);
    }

    zip_int64_t stat(void *data, zip_uint64_t length)
    {
        return answer_stat(data, length, &error, output->size()) ? sizeof(zip_stat_t) : -1;
    }
};

zip_int64_t answer_sink(Archive_Sink *s, void *data, zip_uint64_t length, zip_source_cmd_t command)
{
    switch (command) {
    case ZIP_SOURCE_OPEN:
        s->read_position = 0;
        return 0;
    case ZIP_SOURCE_BEGIN_WRITE:
    case ZIP_SOURCE_ROLLBACK_WRITE:
    case ZIP_SOURCE_REMOVE:
        return s->restart();
    case ZIP_SOURCE_READ:
        return s->read(data, length);
    case ZIP_SOURCE_WRITE:
        return s->write(data, length);
    case ZIP_SOURCE_SEEK:
        return s->seek(&s->read_position, data, length);
    case ZIP_SOURCE_SEEK_WRITE:
        return s->seek(&s->position, data, length);
    case ZIP_SOURCE_TELL:
        return s->read_position;
    case ZIP_SOURCE_TELL_WRITE:
        return s->position;
    case ZIP_SOURCE_COMMIT_WRITE:
        return s->output->finish() ? 0 : s->failed(ZIP_ER_WRITE);
    case ZIP_SOURCE_CLOSE:
        return 0;
    case ZIP_SOURCE_STAT:
        return s->stat(data, length);
    case ZIP_SOURCE_SUPPORTS:
        return zip_source_make_command_bitmap(
            ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE, ZIP_SOURCE_STAT, ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE,
            ZIP_SOURCE_SEEK, ZIP_SOURCE_TELL, ZIP_SOURCE_SUPPORTS, ZIP_SOURCE_BEGIN_WRITE, ZIP_SOURCE_WRITE,
            ZIP_SOURCE_COMMIT_WRITE, ZIP_SOURCE_ROLLBACK_WRITE, ZIP_SOURCE_SEEK_WRITE, ZIP_SOURCE_TELL_WRITE,
            ZIP_SOURCE_REMOVE, -1);
    default:
        return answer_common_command(s, data, length, command);
    }
}

zip_int64_t sink_callback(void *state, void *data, zip_uint64_t length, zip_source_cmd_t command)
{
    auto *s = static_cast<Archive_Sink *>(state);
    return answer_without_throwing(&s->error, [&] { return answer_sink(s, data, length, command); });
}

} // namespace

Zip_Ptr create_archive(Archive_Target &output, const QString &archive_name, QString *error)
{
    auto sink = std::make_unique<Archive_Sink>();
    sink->output = &output;
    zip_error_t open_error;
    zip_error_init(&open_error);
    Zip_Source_Ptr sink_source(zip_source_function_create(sink_callback, sink.get(), &open_error));
    if (sink_source)
        sink.release(); // the source frees it
    Zip_Ptr za(sink_source ? zip_open_from_source(sink_source.get(), ZIP_CREATE | ZIP_TRUNCATE, &open_error) : nullptr);
    if (za)
        sink_source.release(); // the archive frees it
    else
        *error = QStringLiteral("%1: %2").arg(archive_name, QString::fromUtf8(zip_error_strerror(&open_error)));
    zip_error_fini(&open_error);
    return za;
}

