#include "pack/archive_writer.h"

#include "container/archive_output.h"
#include "container/zip_layout.h"
#include "core/path_rules.h"
#include "core/sizes.h"
#include "core/zip_handles.h"
#include "pack/deflate_pool.h"
#include "pack/file_entry_source.h"

#include <cerrno>
#include <ctime>
#include <memory>

namespace {

// Times DOS can hold, 1980 to 2107, in local time: readers that know no
// other field get the nearest one.
time_t dos_clamped(qint64 mtime)
{
    struct tm first = {}, last = {};
    first.tm_year = 80;
    first.tm_mday = 1;
    first.tm_isdst = -1;
    last.tm_year = 207;
    last.tm_mon = 11;
    last.tm_mday = 31;
    last.tm_hour = 23;
    last.tm_min = 59;
    last.tm_sec = 58;
    last.tm_isdst = -1;
    return time_t(qBound<qint64>(qint64(mktime(&first)), mtime, qint64(mktime(&last))));
}

zip_flags_t name_encoding(const QByteArray &name)
{
    return is_valid_utf8(name) ? ZIP_FL_ENC_UTF_8 : ZIP_FL_ENC_GUESS; // other bytes go as they are, unflagged
}

// libzip's output: the caller's open file, written through an Archive_Output.
struct Archive_Sink
{
    Archive_Output *output = nullptr;
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

zip_int64_t sink_callback(void *state, void *data, zip_uint64_t length, zip_source_cmd_t command)
{
    auto *s = static_cast<Archive_Sink *>(state);
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

QString zip_reason(zip_t *za)
{
    return QString::fromUtf8(zip_strerror(za));
}

// libzip over the output: null with *error when it cannot start.
Zip_Ptr open_archive(Archive_Output &output, const QString &archive_name, QString *error)
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

// Each add_ function gives the new entry's index, or -1 with *what.
zip_int64_t add_folder(zip_t *za, const Pack_Entry &e, QString *what)
{
    const zip_int64_t index = zip_dir_add(za, e.name.constData(), name_encoding(e.name));
    if (index < 0)
        *what = QStringLiteral("%1: %2").arg(display_path(e.name), zip_reason(za));
    return index;
}

// A link entry stores the link's own target, uncompressed.
zip_int64_t add_link(zip_t *za, const Pack_Entry &e, QString *what)
{
    Zip_Source_Ptr source(zip_source_buffer(za, e.link_target.constData(), zip_uint64_t(e.link_target.size()), 0));
    const zip_int64_t index = source ? zip_file_add(za, e.name.constData(), source.get(), name_encoding(e.name)) : -1;
    if (index < 0) {
        *what = QStringLiteral("%1: %2").arg(display_path(e.name), zip_reason(za));
        return -1;
    }
    source.release(); // the archive owns it now
    if (zip_set_file_compression(za, zip_uint64_t(index), ZIP_CM_STORE, 0) < 0) {
        *what = zip_reason(za);
        return -1;
    }
    return index;
}

zip_int64_t add_file(zip_t *za, const Pack_Entry &e, Deflate_Pool *pool, int job, Job_Control &control,
                     QString *first_error, QString *what)
{
    Zip_Source_Ptr source = make_file_entry_source(e, pool, job, control, first_error);
    if (!source) {
        *what = QStringLiteral("%1: cannot add to the archive").arg(display_path(e.source_path));
        return -1;
    }
    const zip_int64_t index = zip_file_add(za, e.name.constData(), source.get(), name_encoding(e.name));
    if (index < 0) {
        *what = QStringLiteral("%1: %2").arg(display_path(e.source_path), zip_reason(za));
        return -1;
    }
    source.release(); // the archive owns it now
    if (zip_set_file_compression(za, zip_uint64_t(index), e.deflate ? ZIP_CM_DEFLATE : ZIP_CM_STORE,
                                 e.deflate ? deflate_level : 0) < 0) {
        *what = zip_reason(za);
        return -1;
    }
    return index;
}

bool set_field(zip_t *za, zip_uint64_t index, quint16 id, const QByteArray &data, zip_flags_t where)
{
    return zip_file_extra_field_set(za, index, id, ZIP_EXTRA_FIELD_NEW,
                                    reinterpret_cast<const zip_uint8_t *>(data.constData()), zip_uint16_t(data.size()),
                                    where) == 0;
}

// Time, type and mode, as the header above says.
bool set_metadata(zip_t *za, zip_uint64_t index, const Pack_Entry &e)
{
    using namespace zip_layout;
    const zip_flags_t both = ZIP_FL_LOCAL | ZIP_FL_CENTRAL;
    const bool time_set = fits_timestamp_field(e.mtime) ? set_field(za, index, timestamp_field, timestamp_data(e.mtime), both)
                                                        : set_field(za, index, ntfs_field, ntfs_data(e.mtime), both);
    return time_set && zip_file_set_mtime(za, index, dos_clamped(e.mtime), 0) == 0
           && zip_file_set_external_attributes(za, index, 0, ZIP_OPSYS_UNIX,
                                               (e.unix_mode << 16) | (e.is_dir ? 0x10u : 0u)) == 0
           && set_field(za, index, unix_field, unix_data(e.unix_mode, e.is_link ? e.link_target : QByteArray()),
                        ZIP_FL_LOCAL);
}

// Adds every entry of the plan; false with *what at the first that fails.
bool add_entries(zip_t *za, const Pack_Plan &plan, Deflate_Pool &pool, Job_Control &control,
                 QString *first_error, QString *what)
{
    int job = 0;
    for (const Pack_Entry &e : plan.entries) {
        const zip_int64_t index = e.is_dir    ? add_folder(za, e, what)
                                  : e.is_link ? add_link(za, e, what)
                                  : e.deflate ? add_file(za, e, &pool, job++, control, first_error, what)
                                              : add_file(za, e, nullptr, -1, control, first_error, what);
        if (index < 0)
            return false;
        if (!set_metadata(za, zip_uint64_t(index), e)) {
            *what = zip_reason(za);
            return false;
        }
    }
    return true;
}

} // namespace

bool write_archive(const Pack_Plan &plan, const os::Path &archive_path, Job_Control &control, QString *error)
{
    os::File archive;
    os::remove_file(archive_path); // the caller's own file, replaced
    if (const int failure = archive.create_new(archive_path)) {
        *error = QStringLiteral("%1: %2").arg(display_path(archive_path), os::reason(failure));
        return false;
    }
    Deflate_Pool pool(control);
    for (const Pack_Entry &e : plan.entries)
        if (!e.is_dir && e.deflate)
            pool.add_job(&e);
    pool.close_jobs();
    pool.start();
    return write_archive(plan, pool, archive, display_path(archive_path), Archive_Form::Plain, control, error);
}

bool write_archive(const Pack_Plan &plan, Deflate_Pool &pool, os::File &archive, const QString &archive_name,
                   Archive_Form form, Job_Control &control, QString *error)
{
    // libzip writes straight into the caller's file: no temporary file of its own.
    Archive_Output output(archive, form == Archive_Form::Enciphered);
    Zip_Ptr za = open_archive(output, archive_name, error);
    QString first_error;
    QString what;
    if (!za || !add_entries(za.get(), plan, pool, control, &first_error, &what)) {
        pool.stop();
        if (za)
            *error = first_error.isEmpty() ? what : first_error;
        return false;
    }
    // libzip writes everything here; deflated entries stream in from the pool.
    if (zip_close(za.get()) < 0) {
        pool.stop();
        const QString reason = output.reason().isEmpty() ? zip_reason(za.get()) : output.reason();
        what = QStringLiteral("%1: writing the archive failed: %2").arg(archive_name, reason);
        *error = first_error.isEmpty() ? what : first_error;
        return false;
    }
    za.release(); // zip_close freed it
    pool.stop();
    return true;
}
