// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

// The pieces of the zip format the engine reads and writes itself: the
// headers, for the structure check, the extra fields that carry times, which
// libzip stores but does not interpret, and the attributes beside the Unix mode.
namespace zip_layout {

constexpr quint32 local_signature = 0x04034b50;
constexpr quint32 central_signature = 0x02014b50;
constexpr quint32 descriptor_signature = 0x08074b50;
constexpr quint32 end_record_signature = 0x06054b50;
constexpr quint32 zip64_locator_signature = 0x07064b50;
constexpr quint32 zip64_end_record_signature = 0x06064b50;
constexpr qint64 local_header_size = 30;
constexpr qint64 central_entry_size = 46;
constexpr qint64 end_record_size = 22;
constexpr qint64 zip64_locator_size = 20;
constexpr qint64 zip64_end_record_size = 56;

constexpr quint16 flag_encrypted = 0x0001;
constexpr quint16 flag_data_descriptor = 0x0008;
constexpr quint16 flag_utf8 = 0x0800;

// Extra fields.
constexpr quint16 zip64_field = 0x0001;
constexpr quint16 ntfs_field = 0x000a;         // times in 100 ns steps since 1601
constexpr quint16 timestamp_field = 0x5455;    // "UT": Unix seconds, UTC

inline quint16 le16(const uchar *p)
{
    return quint16(p[0] | p[1] << 8);
}
inline quint32 le32(const uchar *p)
{
    return quint32(p[0]) | quint32(p[1]) << 8 | quint32(p[2]) << 16 | quint32(p[3]) << 24;
}
inline quint64 le64(const uchar *p)
{
    return quint64(le32(p)) | quint64(le32(p + 4)) << 32;
}

// What a local header and its central entry both hold, in the same order
// from the flags on.
struct Common_Header
{
    quint16 flags = 0;
    quint16 method = 0;
    quint32 dos_time = 0; // time, then date
    quint32 crc = 0;
    qint64 compressed_size = 0;
    qint64 size = 0;
    QByteArray name;
    QByteArray extra;
};

struct Central_Entry : Common_Header
{
    quint16 made_by = 0;
    quint32 external_attributes = 0;
    qint64 local_offset = 0;
    bool zip64 = false;
};

struct Local_Header : Common_Header
{
    qint64 name_length = 0;
    qint64 extra_length = 0;
};

// The central entry at *at in the directory; *at moves past it. False when it
// does not fit or lacks its signature or zip64 values.
bool parse_central(const QByteArray &directory, qint64 *at, Central_Entry *out);
// A local header's fixed part, then its name and extra field.
bool parse_local_fixed(const QByteArray &fixed, Local_Header *out);
bool parse_local_variable(const QByteArray &variable, Local_Header *out);
// What differs between a local header and its central entry ("name",
// "checksum", ...), or an empty string when they agree.
QString compare_headers(const Central_Entry &central, const Local_Header &local);

// The data of field id within an extra field block: false when absent, and
// *malformed set when the block itself cannot be read.
bool find_field(const QByteArray &extra, quint16 id, QByteArray *data, bool *malformed = nullptr);

// Field contents (without the four-byte id and length), as written and read.
QByteArray timestamp_data(qint64 mtime);        // only for 0 <= mtime < 2^31
QByteArray ntfs_data(qint64 mtime);
// Seconds since the epoch from a field's data; false when it holds no modification time.
// dos_year tells a 32-bit time past 2038 from one before 1970, as Info-ZIP
// does; it is asked only for such a time.
bool timestamp_mtime(const QByteArray &data, const std::function<int()> &dos_year, qint64 *mtime);
bool ntfs_mtime(const QByteArray &data, qint64 *mtime);

// The DOS attributes that go with a Unix type: FILE_ATTRIBUTE_NORMAL for a
// file, DIRECTORY for a folder, REPARSE_POINT (Windows's own mark of a link)
// for a link. Written beside the Unix mode, they make a damaged type show:
// an entry whose Unix type disagrees with the one its DOS attributes name is
// damaged. Entries without them (other tools, or made before) are not judged.
constexpr quint32 dos_normal = 0x80;
constexpr quint32 dos_directory = 0x10;
constexpr quint32 dos_reparse_point = 0x400;
quint32 dos_attributes_for(quint32 unix_mode);
bool type_agrees(quint32 external_attributes);

// Times outside what the extended timestamp holds unambiguously need the NTFS field.
constexpr bool fits_timestamp_field(qint64 mtime)
{
    return mtime >= 0 && mtime < (qint64(1) << 31);
}

} // namespace zip_layout
