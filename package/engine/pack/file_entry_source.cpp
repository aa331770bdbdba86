// SPDX-License-Identifier: GPL-3.0-or-later
#include "pack/file_entry_source.h"

#include "core/sizes.h"
#include "job_control.h"
#include "pack/deflate_pool.h"
#include "pack/input_file.h"

static_assert(sizeof(Planned_File) <= 48, "every file of an archive is kept: keep it small");

namespace {

// The shared parts of the archive this thread writes now; null outside a
// File_Sources_In_Use. Only entry_callback() reads it.
thread_local File_Sources *current = nullptr;

zip_int64_t set_failure(File_Sources &shared, int code, const QString &reason)
{
    zip_error_set(&shared.error, code, 0);
    if (shared.first_error.isEmpty())
        shared.first_error = reason;
    return -1;
}

zip_int64_t open(File_Sources &shared, const Planned_File &file)
{
    if (file.deflate) {
        shared.pool.begin(file.job);
        return 0;
    }
    auto &input = shared.input;
    input = std::make_unique<Input_File>(file.path());
    if (!input->open())
        return set_failure(shared, ZIP_ER_OPEN, input->reason());
    shared.read_so_far = 0;
    return 0; // whether it is the planned file shows once it is read
}

zip_int64_t read_deflated(File_Sources &shared, const Planned_File &file, char *data, qint64 want)
{
    QString reason;
    const qint64 n = shared.pool.read(file.job, data, want, &reason);
    if (n < 0)
        return set_failure(shared, ZIP_ER_READ, reason);
    shared.control.report_progress();
    return n;
}

zip_int64_t read(File_Sources &shared, const Planned_File &file, char *data, zip_uint64_t length)
{
    if (shared.control.is_cancelled())
        return set_failure(shared, ZIP_ER_CANCELLED, cancelled_message());
    const qint64 want = qint64(qMin<zip_uint64_t>(length, zip_uint64_t(largest_call)));
    if (file.deflate)
        return read_deflated(shared, file, data, want);
    Input_File &input = *shared.input;
    // A file the system gives no size (in /proc or /sys) says 0 and has
    // content: it is packed as read, to its end. libzip takes the size it
    // read; a truly empty file ends at once.
    if (file.identity.size == 0) {
        const qint64 n = input.read(data, want);
        if (n < 0)
            return set_failure(shared, ZIP_ER_READ, input.reason());
        return n;
    }
    // Exactly the planned size, and the file as planned at its end; at the
    // planned end one more byte is asked for, which must not come.
    const qint64 left = file.identity.size - shared.read_so_far;
    const qint64 n = input.read(data, left > 0 ? qMin(want, left) : 1);
    if (n < 0)
        return set_failure(shared, ZIP_ER_READ, input.reason());
    if ((n == 0) != (left == 0) || (n == left && !input.is_as_planned(file.identity)))
        return set_failure(shared, ZIP_ER_READ, changed_reason(file.path()));
    shared.read_so_far += n;
    shared.control.advance(n);
    return n;
}

zip_int64_t stat(File_Sources &shared, const Planned_File &file, void *data, zip_uint64_t length)
{
    zip_stat_t *st = answer_stat(data, length, &shared.error, file.identity.size);
    if (!st)
        return -1;
    st->valid |= ZIP_STAT_COMP_METHOD;
    st->comp_method = file.deflate ? ZIP_CM_DEFLATE : ZIP_CM_STORE;
    // Once the stream is through, libzip takes the checksum and the true
    // size from here: deflated data is copied as is, not compressed again.
    quint32 crc = 0;
    qint64 size = 0;
    if (file.deflate && shared.pool.result(file.job, &crc, &size)) {
        st->valid |= ZIP_STAT_CRC;
        st->crc = crc;
        st->size = zip_uint64_t(size);
    }
    return sizeof(*st);
}

zip_int64_t supported()
{
    return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE, ZIP_SOURCE_STAT,
                                          ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE, -1);
}

// Called where no File_Sources_In_Use is: a way into libzip that misses
// one fails plainly instead of reaching for sources that are not there.
zip_int64_t without_sources(void *data, zip_uint64_t length, zip_source_cmd_t command)
{
    static const zip_error_t error = {ZIP_ER_INTERNAL, 0, nullptr};
    switch (command) {
    case ZIP_SOURCE_SUPPORTS:
        return supported();
    case ZIP_SOURCE_ERROR:
        return zip_error_to_data(&error, data, length);
    case ZIP_SOURCE_FREE:
        return 0;
    default:
        return -1;
    }
}

zip_int64_t answer_entry(File_Sources &shared, const Planned_File &file, void *data, zip_uint64_t length,
                         zip_source_cmd_t command)
{
    switch (command) {
    case ZIP_SOURCE_OPEN:
        return open(shared, file);
    case ZIP_SOURCE_READ:
        return read(shared, file, static_cast<char *>(data), length);
    case ZIP_SOURCE_CLOSE:
        shared.input.reset();
        return 0;
    case ZIP_SOURCE_STAT:
        return stat(shared, file, data, length);
    case ZIP_SOURCE_SUPPORTS:
        return supported();
    case ZIP_SOURCE_ERROR:
        return zip_error_to_data(&shared.error, data, length);
    case ZIP_SOURCE_FREE:
        return 0; // File_Sources keeps the planned file
    default:
        zip_error_set(&shared.error, ZIP_ER_OPNOTSUPP, 0);
        return -1;
    }
}

zip_int64_t entry_callback(void *state, void *data, zip_uint64_t length, zip_source_cmd_t command)
{
    File_Sources *shared = current;
    if (!shared)
        return without_sources(data, length, command);
    const auto &file = *static_cast<const Planned_File *>(state);
    const zip_int64_t answer =
        answer_without_throwing(&shared->error, [&] { return answer_entry(*shared, file, data, length, command); });
    if (answer < 0 && zip_error_code_zip(&shared->error) == ZIP_ER_MEMORY)
        shared->control.fail(out_of_memory_message());
    return answer;
}

} // namespace

File_Sources::File_Sources(Deflate_Pool &pool, Job_Control &control) : pool(pool), control(control)
{
    zip_error_init(&error);
}

File_Sources::~File_Sources()
{
    zip_error_fini(&error);
}

File_Sources_In_Use::File_Sources_In_Use(File_Sources &sources) : previous(current)
{
    current = &sources;
}

File_Sources_In_Use::~File_Sources_In_Use()
{
    current = previous;
}

Zip_Source_Ptr make_file_entry_source(File_Sources &shared, const Planned_File &file, Planned_File **planned)
{
    *planned = &shared.planned.emplace_back(file);
    (*planned)->job = -1;
    zip_error_t ze;
    zip_error_init(&ze);
    Zip_Source_Ptr source(zip_source_function_create(entry_callback, *planned, &ze));
    zip_error_fini(&ze);
    return source;
}
