#include "pack/file_entry_source.h"

#include "core/sizes.h"
#include "job_control.h"
#include "pack/deflate_pool.h"
#include "pack/input_file.h"

static_assert(sizeof(Planned_File) <= 48, "every file of an archive is kept: keep it small");

namespace {

// The shared parts of the archive this thread writes now.
thread_local File_Sources *current = nullptr;

zip_int64_t set_failure(int code, const QString &reason)
{
    zip_error_set(&current->error, code, 0);
    if (current->first_error.isEmpty())
        current->first_error = reason;
    return -1;
}

zip_int64_t open(const Planned_File &file)
{
    if (file.deflate) {
        current->pool.begin(file.job);
        return 0;
    }
    auto &input = current->input;
    input = std::make_unique<Input_File>(file.path());
    if (!input->open())
        return set_failure(ZIP_ER_OPEN, input->reason());
    current->read_so_far = 0;
    return 0; // whether it is the planned file shows once it is read
}

zip_int64_t read_deflated(const Planned_File &file, char *data, qint64 want)
{
    QString reason;
    const qint64 n = current->pool.read(file.job, data, want, &reason);
    if (n < 0)
        return set_failure(ZIP_ER_READ, reason);
    current->control.report_progress();
    return n;
}

zip_int64_t read(const Planned_File &file, char *data, zip_uint64_t length)
{
    if (current->control.is_cancelled())
        return set_failure(ZIP_ER_CANCELLED, cancelled_message());
    const qint64 want = qint64(qMin<zip_uint64_t>(length, zip_uint64_t(largest_call)));
    if (file.deflate)
        return read_deflated(file, data, want);
    Input_File &input = *current->input;
    // A file the system gives no size (in /proc or /sys) says 0 and has
    // content: it is packed as read, to its end. libzip takes the size it
    // read; a truly empty file ends at once.
    if (file.identity.size == 0) {
        const qint64 n = input.read(data, want);
        if (n < 0)
            return set_failure(ZIP_ER_READ, input.reason());
        return n;
    }
    // Exactly the planned size, and the file as planned at its end; at the
    // planned end one more byte is asked for, which must not come.
    const qint64 left = file.identity.size - current->read_so_far;
    const qint64 n = input.read(data, left > 0 ? qMin(want, left) : 1);
    if (n < 0)
        return set_failure(ZIP_ER_READ, input.reason());
    if ((n == 0) != (left == 0) || (n == left && !input.is_as_planned(file.identity)))
        return set_failure(ZIP_ER_READ, changed_reason(file.path()));
    current->read_so_far += n;
    current->control.advance(n);
    return n;
}

zip_int64_t stat(const Planned_File &file, void *data, zip_uint64_t length)
{
    zip_stat_t *st = answer_stat(data, length, &current->error, file.identity.size);
    if (!st)
        return -1;
    st->valid |= ZIP_STAT_COMP_METHOD;
    st->comp_method = file.deflate ? ZIP_CM_DEFLATE : ZIP_CM_STORE;
    // Once the stream is through, libzip takes the checksum and the true
    // size from here: deflated data is copied as is, not compressed again.
    quint32 crc = 0;
    qint64 size = 0;
    if (file.deflate && current->pool.result(file.job, &crc, &size)) {
        st->valid |= ZIP_STAT_CRC;
        st->crc = crc;
        st->size = zip_uint64_t(size);
    }
    return sizeof(*st);
}

zip_int64_t answer_entry(const Planned_File &file, void *data, zip_uint64_t length, zip_source_cmd_t command)
{
    switch (command) {
    case ZIP_SOURCE_OPEN:
        return open(file);
    case ZIP_SOURCE_READ:
        return read(file, static_cast<char *>(data), length);
    case ZIP_SOURCE_CLOSE:
        current->input.reset();
        return 0;
    case ZIP_SOURCE_STAT:
        return stat(file, data, length);
    case ZIP_SOURCE_SUPPORTS:
        return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE,
                                              ZIP_SOURCE_STAT, ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE, -1);
    case ZIP_SOURCE_ERROR:
        return zip_error_to_data(&current->error, data, length);
    case ZIP_SOURCE_FREE:
        return 0; // File_Sources keeps the planned file
    default:
        zip_error_set(&current->error, ZIP_ER_OPNOTSUPP, 0);
        return -1;
    }
}

zip_int64_t entry_callback(void *state, void *data, zip_uint64_t length, zip_source_cmd_t command)
{
    const auto &file = *static_cast<const Planned_File *>(state);
    const zip_int64_t answer = answer_without_throwing(&current->error, [&] { return answer_entry(file, data, length, command); });
    if (answer < 0 && zip_error_code_zip(&current->error) == ZIP_ER_MEMORY)
        current->control.fail(out_of_memory_message());
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
