// SPDX-License-Identifier: GPL-3.0-or-later
#include "pack/archive_writer.h"

#include "container/archive_sink.h"
#include "container/zip_layout.h"
#include "core/path_rules.h"
#include "core/zip_handles.h"
#include "job_control.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <utility>

namespace {

// The times DOS can hold, 1980 to 2107 in local time, as Unix times.
std::pair<qint64, qint64> dos_range()
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
    return {qint64(mktime(&first)), qint64(mktime(&last))};
}

// libzip refuses a name flagged UTF-8 that holds a control character other
// than tab, CR or LF; such a name, like one that is not UTF-8, goes as its
// bytes, unflagged (as Info-ZIP stores it), and still reads back unchanged.
zip_flags_t name_encoding(const QByteArray &name)
{
    const bool plain = std::none_of(name.cbegin(), name.cend(), [](char c) {
        return uchar(c) < 0x20 && c != '\t' && c != '\n' && c != '\r';
    });
    return plain && is_valid_utf8(name) ? ZIP_FL_ENC_UTF_8 : ZIP_FL_ENC_GUESS;
}

QString zip_reason(zip_t *za)
{
    return QString::fromUtf8(zip_strerror(za));
}

bool set_field(zip_t *za, zip_uint64_t index, quint16 id, const QByteArray &data, zip_flags_t where)
{
    return zip_file_extra_field_set(za, index, id, ZIP_EXTRA_FIELD_NEW,
                                    reinterpret_cast<const zip_uint8_t *>(data.constData()), zip_uint16_t(data.size()),
                                    where) == 0;
}

// Time, type and mode, as the header says. Readers that know no other field
// than DOS's get the nearest time it holds.
bool set_metadata(zip_t *za, zip_uint64_t index, const Pack_Entry &e, const std::pair<qint64, qint64> &dos)
{
    using namespace zip_layout;
    const zip_flags_t both = ZIP_FL_LOCAL | ZIP_FL_CENTRAL;
    const bool time_set = fits_timestamp_field(e.mtime) ? set_field(za, index, timestamp_field, timestamp_data(e.mtime), both)
                                                        : set_field(za, index, ntfs_field, ntfs_data(e.mtime), both);
    return time_set && zip_file_set_mtime(za, index, time_t(qBound(dos.first, e.mtime, dos.second)), 0) == 0
           && zip_file_set_external_attributes(za, index, 0, ZIP_OPSYS_UNIX,
                                               (e.unix_mode << 16) | dos_attributes_for(e.unix_mode)) == 0;
}

} // namespace

Archive_Writer::Archive_Writer(os::File &archive, const QString &archive_name, Archive_Form form, Job_Control &control,
                               const Archive_Sealing *sealing)
    : archive_name(archive_name), control(control), output(archive, form == Archive_Form::Enciphered), pool(control),
      dos_times(dos_range())
{
    if (sealing)
        sealed_output = std::make_unique<Sealed_Output>(output, sealing->header, sealing->key);
}

Archive_Writer::~Archive_Writer()
{
    // The workers read the planned files the sources keep: they stop first.
    pool.stop();
    const File_Sources_In_Use in_use(sources);
    za.reset();
}

bool Archive_Writer::failed(const QString &what)
{
    pool.stop();
    if (failure.isEmpty())
        failure = sources.first_error.isEmpty() ? what : sources.first_error;
    return false;
}

bool Archive_Writer::open()
{
    za = create_archive(sealed_output ? static_cast<Archive_Target &>(*sealed_output) : output, archive_name, &failure);
    if (!za)
        return false;
    pool.start();
    return true;
}

bool Archive_Writer::add(const Pack_Entry &e)
{
    const File_Sources_In_Use in_use(sources);
    const zip_int64_t index = e.is_dir    ? zip_dir_add(za.get(), e.name.constData(), name_encoding(e.name))
                              : e.is_link ? add_link(e)
                                          : add_file(e);
    if (index < 0 || !set_metadata(za.get(), zip_uint64_t(index), e, dos_times))
        return failed(QStringLiteral("%1: %2").arg(display_path(e.name), zip_reason(za.get())));
    return true;
}

// A link entry stores the link's own target, uncompressed; libzip keeps a copy until it writes it.
zip_int64_t Archive_Writer::add_link(const Pack_Entry &e)
{
    void *copy = std::malloc(size_t(qMax<qsizetype>(1, e.link_target.size())));
    if (!copy)
        return -1;
    std::memcpy(copy, e.link_target.constData(), size_t(e.link_target.size()));
    Zip_Source_Ptr source(zip_source_buffer(za.get(), copy, zip_uint64_t(e.link_target.size()), 1));
    if (!source)
        std::free(copy);
    const zip_int64_t index = source ? zip_file_add(za.get(), e.name.constData(), source.get(), name_encoding(e.name)) : -1;
    if (index < 0)
        return -1;
    source.release(); // the archive owns it now
    return zip_set_file_compression(za.get(), zip_uint64_t(index), ZIP_CM_STORE, 0) < 0 ? -1 : index;
}

zip_int64_t Archive_Writer::add_file(const Pack_Entry &e)
{
    Planned_File *planned = nullptr;
    Zip_Source_Ptr source = make_file_entry_source(sources, {e.root, nullptr, e.identity(), e.deflate}, &planned);
    const zip_int64_t index = source ? zip_file_add(za.get(), e.name.constData(), source.get(), name_encoding(e.name)) : -1;
    if (index < 0)
        return -1;
    source.release(); // the archive owns it now
    // Without its name the file cannot be found again: the writing fails
    // here, before anything reads it.
    planned->name = zip_get_name(za.get(), zip_uint64_t(index), ZIP_FL_ENC_RAW);
    if (!planned->name)
        return -1;
    if (e.deflate)
        pool.add_job(planned); // only now: a worker needs its name
    const bool set = e.deflate ? zip_set_file_compression(za.get(), zip_uint64_t(index), ZIP_CM_DEFLATE, deflate_level) == 0
                               : zip_set_file_compression(za.get(), zip_uint64_t(index), ZIP_CM_STORE, 0) == 0;
    return set ? index : -1;
}

bool Archive_Writer::finish()
{
    const File_Sources_In_Use in_use(sources);
    pool.close_jobs();
    // libzip writes everything here; deflated entries stream in from the pool.
    if (zip_close(za.get()) < 0) {
        const QString reason = output.reason().isEmpty() ? zip_reason(za.get()) : output.reason();
        return failed(QStringLiteral("%1: writing the archive failed: %2").arg(archive_name, reason));
    }
    za.release(); // zip_close freed it
    pool.stop();
    return true;
}

bool write_archive(const Pack_Plan &plan, const os::Path &archive_path, Job_Control &control, QString *error)
{
    os::File archive;
    os::remove_file(archive_path); // the caller's own file, replaced
    if (const int failure = archive.create_new(archive_path)) {
        *error = QStringLiteral("%1: %2").arg(display_path(archive_path), os::reason(failure));
        return false;
    }
    Archive_Writer writer(archive, display_path(archive_path), Archive_Form::Plain, control);
    bool ok = writer.open();
    for (auto it = plan.entries.cbegin(); ok && it != plan.entries.cend(); ++it)
        ok = writer.add(*it);
    ok = ok && writer.finish();
    if (!ok)
        *error = writer.error();
    return ok;
}
