#include "pack/file_entry_source.h"

#include "pack/deflate_pool.h"
#include "core/sizes.h"
#include "job_control.h"
#include "pack/pack_planner.h"
#include "pack/input_file.h"

#include <memory>

namespace {

struct Entry_Source
{
    const Pack_Entry *entry = nullptr;
    Deflate_Pool *pool = nullptr;
    int job = -1;
    Job_Control *control = nullptr; // never null
    QString *first_error = nullptr;
    std::unique_ptr<Input_File> file;
    qint64 read_so_far = 0;
    zip_error_t error;

    Entry_Source() { zip_error_init(&error); }
    ~Entry_Source() { zip_error_fini(&error); }

    zip_int64_t set_failure(int code, const QString &reason)
    {
        zip_error_set(&error, code, 0);
        if (first_error->isEmpty())
            *first_error = reason;
        return -1;
    }

    zip_int64_t open()
    {
        if (pool) {
            pool->begin(job);
            return 0;
        }
        file = std::make_unique<Input_File>(entry->source_path);
        if (!file->open())
            return set_failure(ZIP_ER_OPEN, file->reason());
        read_so_far = 0;
        if (!file->is_as_planned(entry->identity()))
            return set_failure(ZIP_ER_READ, changed_reason(entry->source_path));
        return 0;
    }

    zip_int64_t read(char *data, zip_uint64_t length)
    {
        if (control->is_cancelled())
            return set_failure(ZIP_ER_CANCELLED, cancelled_message());
        const qint64 want = qint64(qMin<zip_uint64_t>(length, zip_uint64_t(largest_call)));
        if (pool)
            return read_deflated(data, want);
        // Exactly the planned size, and the file as planned before and after;
        // at the planned end one more byte is asked for, which must not come.
        const qint64 left = entry->size - read_so_far;
        const qint64 n = file->read(data, left > 0 ? qMin(want, left) : 1);
        if (n < 0)
            return set_failure(ZIP_ER_READ, file->reason());
        if ((n == 0) != (left == 0) || (n == left && !file->is_as_planned(entry->identity())))
            return set_failure(ZIP_ER_READ, changed_reason(entry->source_path));
        read_so_far += n;
        control->advance(n);
        return n;
    }

    zip_int64_t read_deflated(char *data, qint64 want)
    {
        QString reason;
        const qint64 n = pool->read(job, data, want, &reason);
        if (n < 0)
            return set_failure(ZIP_ER_READ, reason);
        control->report_progress();
        return n;
    }

    zip_int64_t stat(void *data, zip_uint64_t length)
    {
        zip_stat_t *st = answer_stat(data, length, &error, entry->size);
        if (!st)
            return -1;
        st->valid |= ZIP_STAT_MTIME | ZIP_STAT_COMP_METHOD;
        st->mtime = time_t(entry->mtime);
        st->comp_method = pool ? ZIP_CM_DEFLATE : ZIP_CM_STORE;
        // Once the stream is through, libzip takes the checksum and the true
        // size from here: deflated data is copied as is, not compressed again.
        quint32 crc = 0;
        qint64 size = 0;
        if (pool && pool->result(job, &crc, &size)) {
            st->valid |= ZIP_STAT_CRC;
            st->crc = crc;
            st->size = zip_uint64_t(size);
        }
        return sizeof(*st);
    }
};

zip_int64_t entry_callback(void *state, void *data, zip_uint64_t length, zip_source_cmd_t command)
{
    auto *s = static_cast<Entry_Source *>(state);
    switch (command) {
    case ZIP_SOURCE_OPEN:
        return s->open();
    case ZIP_SOURCE_READ:
        return s->read(static_cast<char *>(data), length);
    case ZIP_SOURCE_CLOSE:
        s->file.reset();
        return 0;
    case ZIP_SOURCE_STAT:
        return s->stat(data, length);
    case ZIP_SOURCE_SUPPORTS:
        return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE,
                                              ZIP_SOURCE_STAT, ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE, -1);
    default:
        return answer_common_command(s, data, length, command);
    }
}

} // namespace

Zip_Source_Ptr make_file_entry_source(const Pack_Entry &entry, Deflate_Pool *pool, int job, Job_Control &control,
                                 QString *first_error)
{
    auto state = std::make_unique<Entry_Source>();
    state->entry = &entry;
    state->pool = pool;
    state->job = job;
    state->control = &control;
    state->first_error = first_error;
    zip_error_t ze;
    zip_error_init(&ze);
    Zip_Source_Ptr source(zip_source_function_create(entry_callback, state.get(), &ze));
    zip_error_fini(&ze);
    if (source)
        state.release(); // the source frees it
    return source;
}
