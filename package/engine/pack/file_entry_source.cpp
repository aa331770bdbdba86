#include "pack/file_entry_source.h"

#include "core/sizes.h"
#include "job_control.h"
#include "pack/deflate_pool.h"
#include "pack/input_file.h"
#include "pack/pack_planner.h"

#include <memory>

File_Sources::File_Sources(Deflate_Pool &pool, Job_Control &control) : pool(pool), control(control)
{
    zip_error_init(&error);
}

File_Sources::~File_Sources()
{
    zip_error_fini(&error);
}

// Kept per file for as long as the archive is open: small on purpose.
struct File_Entry
{
    Planned_File file;
    int job = -1;
    File_Sources *shared = nullptr;

    zip_int64_t set_failure(int code, const QString &reason)
    {
        zip_error_set(&shared->error, code, 0);
        if (shared->first_error.isEmpty())
            shared->first_error = reason;
        return -1;
    }

    zip_int64_t open()
    {
        if (file.deflate) {
            shared->pool.begin(job);
            return 0;
        }
        auto &input = shared->input;
        input = std::make_unique<Input_File>(file.path());
        if (!input->open())
            return set_failure(ZIP_ER_OPEN, input->reason());
        shared->read_so_far = 0;
        return 0; // whether it is the planned file shows once it is read
    }

    zip_int64_t read(char *data, zip_uint64_t length)
    {
        if (shared->control.is_cancelled())
            return set_failure(ZIP_ER_CANCELLED, cancelled_message());
        const qint64 want = qint64(qMin<zip_uint64_t>(length, zip_uint64_t(largest_call)));
        if (file.deflate)
            return read_deflated(data, want);
        // Exactly the planned size, and the file as planned before and after;
        // at the planned end one more byte is asked for, which must not come.
        Input_File &input = *shared->input;
        const qint64 left = file.identity.size - shared->read_so_far;
        const qint64 n = input.read(data, left > 0 ? qMin(want, left) : 1);
        if (n < 0)
            return set_failure(ZIP_ER_READ, input.reason());
        if ((n == 0) != (left == 0) || (n == left && !input.is_as_planned(file.identity)))
            return set_failure(ZIP_ER_READ, changed_reason(file.path()));
        shared->read_so_far += n;
        shared->control.advance(n);
        return n;
    }

    zip_int64_t read_deflated(char *data, qint64 want)
    {
        QString reason;
        const qint64 n = shared->pool.read(job, data, want, &reason);
        if (n < 0)
            return set_failure(ZIP_ER_READ, reason);
        shared->control.report_progress();
        return n;
    }

    zip_int64_t stat(void *data, zip_uint64_t length)
    {
        zip_stat_t *st = answer_stat(data, length, &shared->error, file.identity.size);
        if (!st)
            return -1;
        st->valid |= ZIP_STAT_COMP_METHOD;
        st->comp_method = file.deflate ? ZIP_CM_DEFLATE : ZIP_CM_STORE;
        // Once the stream is through, libzip takes the checksum and the true
        // size from here: deflated data is copied as is, not compressed again.
        quint32 crc = 0;
        qint64 size = 0;
        if (file.deflate && job >= 0 && shared->pool.result(job, &crc, &size)) {
            st->valid |= ZIP_STAT_CRC;
            st->crc = crc;
            st->size = zip_uint64_t(size);
        }
        return sizeof(*st);
    }
};

namespace {

zip_int64_t entry_callback(void *state, void *data, zip_uint64_t length, zip_source_cmd_t command)
{
    auto *s = static_cast<File_Entry *>(state);
    switch (command) {
    case ZIP_SOURCE_OPEN:
        return s->open();
    case ZIP_SOURCE_READ:
        return s->read(static_cast<char *>(data), length);
    case ZIP_SOURCE_CLOSE:
        s->shared->input.reset();
        return 0;
    case ZIP_SOURCE_STAT:
        return s->stat(data, length);
    case ZIP_SOURCE_SUPPORTS:
        return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE,
                                              ZIP_SOURCE_STAT, ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE, -1);
    case ZIP_SOURCE_ERROR:
        return zip_error_to_data(&s->shared->error, data, length);
    case ZIP_SOURCE_FREE:
        delete s;
        return 0;
    default:
        zip_error_set(&s->shared->error, ZIP_ER_OPNOTSUPP, 0);
        return -1;
    }
}

} // namespace

Zip_Source_Ptr make_file_entry_source(File_Sources &shared, const Planned_File &file, File_Entry **entry)
{
    auto state = std::make_unique<File_Entry>();
    state->file = file;
    state->shared = &shared;
    zip_error_t ze;
    zip_error_init(&ze);
    Zip_Source_Ptr source(zip_source_function_create(entry_callback, state.get(), &ze));
    zip_error_fini(&ze);
    if (source)
        *entry = state.release(); // the source frees it
    return source;
}

void attach_file_entry(File_Entry *entry, const char *name)
{
    entry->file.name = name;
    if (entry->file.deflate)
        entry->job = entry->shared->pool.add_job(&entry->file);
}
