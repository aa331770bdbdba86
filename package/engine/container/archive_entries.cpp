// SPDX-License-Identifier: GPL-3.0-or-later
#include "container/archive_entries.h"

#include "container/zip_layout.h"
#include "core/path_rules.h"

#include <ctime>

#include <sys/stat.h>

namespace {

// Hosts whose tools name files the Windows way.
bool is_windows_host(zip_uint8_t host)
{
    return host == ZIP_OPSYS_DOS || host == ZIP_OPSYS_OS_2 || host == ZIP_OPSYS_WINDOWS_NTFS
           || host == ZIP_OPSYS_MVS /* Info-ZIP's NTFS */ || host == ZIP_OPSYS_VFAT;
}

void read_type_and_mode(zip_t *za, Archive_Entry *e)
{
    zip_uint8_t host = ZIP_OPSYS_UNIX;
    zip_uint32_t attributes = 0;
    if (zip_file_get_external_attributes(za, e->index, 0, &host, &attributes) != 0)
        return;
    const quint32 mode = attributes >> 16;
    const quint32 type = mode & S_IFMT;
    const bool typed = type == S_IFREG || type == S_IFDIR || type == S_IFLNK;
    e->windows_made = is_windows_host(host) && type == 0;
    if (type != 0 && !typed)
        e->kind = Archive_Entry::Kind::Special;
    else if (type == S_IFDIR)
        e->kind = Archive_Entry::Kind::Folder;
    else if (type == S_IFLNK)
        e->kind = Archive_Entry::Kind::Link;
    e->has_permissions = typed || (!e->windows_made && mode != 0);
    e->permissions = mode & 0777;
}

int local_year(time_t when)
{
    struct tm t;
    return localtime_r(&when, &t) ? 1900 + t.tm_year : 0;
}

// The extended timestamp first: what Info-ZIP and this program write. The
// central directory's fields first; writers may give a time in one header
// only, so the local header's stand in for them before the DOS time does.
void read_time(zip_t *za, const zip_stat_t &st, Archive_Entry *e)
{
    const auto dos_year = [&] { return (st.valid & ZIP_STAT_MTIME) ? local_year(st.mtime) : 0; };
    for (const zip_flags_t header : {ZIP_FL_CENTRAL, ZIP_FL_LOCAL}) {
        zip_uint16_t length = 0;
        if (const zip_uint8_t *data = zip_file_extra_field_get_by_id(za, e->index, zip_layout::timestamp_field, 0,
                                                                     &length, header))
            e->has_time = zip_layout::timestamp_mtime(QByteArray(reinterpret_cast<const char *>(data), length),
                                                      dos_year, &e->mtime);
        if (e->has_time)
            return;
        if (const zip_uint8_t *data = zip_file_extra_field_get_by_id(za, e->index, zip_layout::ntfs_field, 0,
                                                                     &length, header))
            e->has_time = zip_layout::ntfs_mtime(QByteArray(reinterpret_cast<const char *>(data), length), &e->mtime);
        if (e->has_time)
            return;
    }
    e->has_time = st.valid & ZIP_STAT_MTIME;
    e->mtime = e->has_time ? qint64(st.mtime) : 0;
}

} // namespace

QString Archive_Entry::display() const
{
    return display_path(windows_made ? windows_name_to_path(name) : name);
}

bool read_archive_entry(zip_t *za, zip_uint64_t index, Archive_Entry *e, QString *problem)
{
    *e = Archive_Entry();
    e->index = index;
    zip_stat_t st;
    const char *raw = zip_get_name(za, index, ZIP_FL_ENC_RAW);
    if (!raw || zip_stat_index(za, index, ZIP_FL_ENC_RAW, &st) < 0) {
        *problem = QStringLiteral("entry %1: %2").arg(index + 1).arg(QString::fromUtf8(zip_strerror(za)));
        return false;
    }
    e->name = QByteArray(raw);
    read_type_and_mode(za, e);
    const QByteArray named = e->windows_made ? windows_name_to_path(e->name) : e->name;
    if (named.endsWith('/') && e->kind == Archive_Entry::Kind::File)
        e->kind = Archive_Entry::Kind::Folder;
    // A drive letter is a Windows name's way of leaving the destination.
    const bool drive = e->windows_made && named.size() >= 2 && named[1] == ':';
    e->path = drive ? QByteArray() : safe_relative_path(named);
    e->size = (st.valid & ZIP_STAT_SIZE) ? qint64(st.size) : 0;
    e->compressed_size = (st.valid & ZIP_STAT_COMP_SIZE) ? qint64(st.comp_size) : e->size;
    e->crc = (st.valid & ZIP_STAT_CRC) ? st.crc : 0;
    e->method = (st.valid & ZIP_STAT_COMP_METHOD) ? st.comp_method : ZIP_CM_STORE;
    e->encrypted = (st.valid & ZIP_STAT_ENCRYPTION_METHOD) && st.encryption_method != ZIP_EM_NONE;
    read_time(za, st, e);
    return true;
}

QString entry_problem(const Archive_Entry &e)
{
    if (e.path.isEmpty()) {
        // A bare "./" folder is harmless.
        if (e.kind == Archive_Entry::Kind::Folder && !e.name.contains("..") && !e.name.startsWith('/'))
            return QString();
        return QStringLiteral("unsafe name (outside the destination); not extracted");
    }
    if (e.encrypted)
        return QStringLiteral("encrypted with a password; not extracted");
    if (e.kind != Archive_Entry::Kind::Folder && zip_compression_method_supported(zip_int32_t(e.method), 0) == 0)
        return QStringLiteral("compressed with a method this program cannot read; not extracted");
    return QString();
}

bool is_left_out(const Archive_Entry &e)
{
    return e.kind == Archive_Entry::Kind::Special || (e.path.isEmpty() && entry_problem(e).isEmpty());
}
