// SPDX-License-Identifier: GPL-3.0-or-later
#include "container/zip_layout.h"

#include <limits>

namespace zip_layout {

namespace {

// Seconds between 1601-01-01 (NTFS) and 1970-01-01 (Unix), and NTFS steps a second.
constexpr qint64 ntfs_epoch_offset = 11644473600;
constexpr qint64 ntfs_steps = 10000000;

const uchar *bytes_of(const QByteArray &a, qint64 at = 0)
{
    return reinterpret_cast<const uchar *>(a.constData()) + at;
}

void put16(QByteArray *out, quint16 v)
{
    out->append(char(v & 0xFF)).append(char(v >> 8));
}
void put32(QByteArray *out, quint32 v)
{
    put16(out, quint16(v & 0xFFFF));
    put16(out, quint16(v >> 16));
}
void put64(QByteArray *out, quint64 v)
{
    put32(out, quint32(v & 0xFFFFFFFFu));
    put32(out, quint32(v >> 32));
}

// Values stored as 0xFFFFFFFF live in the zip64 field, in this order. A
// value of exactly 0xFFFFFFFF fits the classic field, and writers (libzip
// among them) then store it there without a zip64 value: what the field
// does not hold stands as it is, and the sizes and checksum judge it.
bool apply_zip64(const QByteArray &extra, qint64 *size, qint64 *compressed, qint64 *offset)
{
    const bool need_size = *size == 0xFFFFFFFF, need_comp = *compressed == 0xFFFFFFFF;
    const bool need_offset = offset && *offset == 0xFFFFFFFF;
    if (!need_size && !need_comp && !need_offset)
        return true;
    QByteArray data;
    bool malformed = false;
    if (!find_field(extra, zip64_field, &data, &malformed))
        return !malformed;
    qint64 at = 0;
    for (qint64 *value : {need_size ? size : nullptr, need_comp ? compressed : nullptr, need_offset ? offset : nullptr}) {
        if (!value || at + 8 > data.size())
            continue;
        // No file or archive is 8 EiB: such a value is damage, not a size.
        const quint64 v = le64(bytes_of(data, at));
        if (v > quint64(std::numeric_limits<qint64>::max()))
            return false;
        *value = qint64(v);
        at += 8;
    }
    return true;
}

// From the flags field on, a local header and a central entry agree.
void read_common(const uchar *flags_field, Common_Header *out)
{
    const uchar *p = flags_field;
    out->flags = le16(p);
    out->method = le16(p + 2);
    out->dos_time = le32(p + 4);
    out->crc = le32(p + 8);
    out->compressed_size = le32(p + 12);
    out->size = le32(p + 16);
}

int year_of(quint32 dos_time)
{
    return int(dos_time >> 25) + 1980;
}

// A time given in both headers must be the same. Writers may give a time in
// one header only (7-Zip its NTFS times in the central directory), which is
// no damage: times are restored from the central directory.
QString compare_times(const Central_Entry &central, const Local_Header &local)
{
    QByteArray c, l;
    qint64 ct = 0, lt = 0;
    const bool c_stamp = find_field(central.extra, timestamp_field, &c)
                         && timestamp_mtime(c, [&] { return year_of(central.dos_time); }, &ct);
    const bool l_stamp = find_field(local.extra, timestamp_field, &l)
                         && timestamp_mtime(l, [&] { return year_of(local.dos_time); }, &lt);
    if (c_stamp && l_stamp && ct != lt)
        return QStringLiteral("extended timestamp");
    ct = lt = 0;
    const bool c_ntfs = find_field(central.extra, ntfs_field, &c) && ntfs_mtime(c, &ct);
    const bool l_ntfs = find_field(local.extra, ntfs_field, &l) && ntfs_mtime(l, &lt);
    if (c_ntfs && l_ntfs && ct != lt)
        return QStringLiteral("NTFS time");
    return QString();
}

} // namespace

bool parse_central(const QByteArray &directory, qint64 *at, Central_Entry *out)
{
    if (*at + central_entry_size > directory.size())
        return false;
    const uchar *p = bytes_of(directory, *at);
    if (le32(p) != central_signature)
        return false;
    const qint64 name_length = le16(p + 28), extra_length = le16(p + 30), comment_length = le16(p + 32);
    const qint64 total = central_entry_size + name_length + extra_length + comment_length;
    if (*at + total > directory.size())
        return false;
    out->made_by = le16(p + 4);
    read_common(p + 8, out);
    out->external_attributes = le32(p + 38);
    out->local_offset = le32(p + 42);
    out->name = directory.mid(*at + central_entry_size, name_length);
    out->extra = directory.mid(*at + central_entry_size + name_length, extra_length);
    out->zip64 = out->size == 0xFFFFFFFF || out->compressed_size == 0xFFFFFFFF || out->local_offset == 0xFFFFFFFF;
    *at += total;
    return apply_zip64(out->extra, &out->size, &out->compressed_size, &out->local_offset);
}

bool parse_local_fixed(const QByteArray &fixed, Local_Header *out)
{
    if (fixed.size() < local_header_size)
        return false;
    const uchar *p = bytes_of(fixed);
    if (le32(p) != local_signature)
        return false;
    read_common(p + 6, out);
    out->name_length = le16(p + 26);
    out->extra_length = le16(p + 28);
    return true;
}

bool parse_local_variable(const QByteArray &variable, Local_Header *out)
{
    if (variable.size() != out->name_length + out->extra_length)
        return false;
    out->name = variable.left(out->name_length);
    out->extra = variable.mid(out->name_length);
    return apply_zip64(out->extra, &out->size, &out->compressed_size, nullptr);
}

QString compare_headers(const Central_Entry &central, const Local_Header &local)
{
    if (central.name != local.name)
        return QStringLiteral("name");
    if (central.method != local.method)
        return QStringLiteral("method");
    if ((central.flags ^ local.flags) & (flag_encrypted | flag_utf8))
        return QStringLiteral("flags");
    if (central.dos_time != local.dos_time)
        return QStringLiteral("time");
    // With a data descriptor the local values may be left zero.
    const bool described = local.flags & flag_data_descriptor;
    if (local.crc != central.crc && !(described && local.crc == 0))
        return QStringLiteral("checksum");
    if ((local.size != central.size && !(described && local.size == 0))
        || (local.compressed_size != central.compressed_size && !(described && local.compressed_size == 0)))
        return QStringLiteral("sizes");
    bool malformed = false;
    find_field(local.extra, 0xFFFF, nullptr, &malformed);
    if (malformed)
        return QStringLiteral("extra field");
    const QString times = compare_times(central, local);
    return times;
}

bool find_field(const QByteArray &extra, quint16 id, QByteArray *data, bool *malformed)
{
    if (malformed)
        *malformed = false;
    qint64 at = 0;
    while (at + 4 <= extra.size()) {
        const quint16 field = le16(bytes_of(extra, at));
        const qint64 length = le16(bytes_of(extra, at + 2));
        if (at + 4 + length > extra.size())
            break;
        if (field == id) {
            if (data)
                *data = extra.mid(at + 4, length);
            return true;
        }
        at += 4 + length;
    }
    // Some writers pad the block; only a field that claims more than is there is damage.
    if (malformed)
        *malformed = at + 4 <= extra.size();
    return false;
}

QByteArray timestamp_data(qint64 mtime)
{
    QByteArray out;
    out.append(char(1)); // modification time only
    put32(&out, quint32(mtime));
    return out;
}

QByteArray ntfs_data(qint64 mtime)
{
    const quint64 steps = quint64((mtime + ntfs_epoch_offset) * ntfs_steps);
    QByteArray out;
    put32(&out, 0); // reserved
    put16(&out, 1); // attribute tag 1: modification, access and creation times
    put16(&out, 24);
    for (int i = 0; i < 3; ++i)
        put64(&out, steps);
    return out;
}

bool timestamp_mtime(const QByteArray &data, const std::function<int()> &dos_year, qint64 *mtime)
{
    if (data.size() < 5 || !(uchar(data[0]) & 1))
        return false;
    const quint32 raw = le32(bytes_of(data, 1));
    // Signed, as written before 2038; Info-ZIP wraps later times, which the DOS date then tells.
    *mtime = (raw & 0x80000000u) && dos_year() >= 2038 ? qint64(raw) : qint64(qint32(raw));
    return true;
}

bool ntfs_mtime(const QByteArray &data, qint64 *mtime)
{
    for (qint64 at = 4; at + 4 <= data.size();) {
        const quint16 tag = le16(bytes_of(data, at));
        const qint64 length = le16(bytes_of(data, at + 2));
        if (tag == 1 && length >= 8 && at + 12 <= data.size()) {
            const qint64 steps = qint64(le64(bytes_of(data, at + 4)));
            *mtime = steps / ntfs_steps - ntfs_epoch_offset;
            return true;
        }
        at += 4 + length;
    }
    return false;
}

quint32 dos_attributes_for(quint32 unix_mode)
{
    switch (unix_mode & 0170000) {
    case 0040000:
        return dos_directory;
    case 0120000:
        return dos_reparse_point;
    default:
        return dos_normal;
    }
}

bool type_agrees(quint32 external_attributes)
{
    const quint32 type = (external_attributes >> 16) & 0170000;
    const auto agrees = [&](quint32 mark, quint32 named) {
        return !(external_attributes & mark) || type == named || (type == 0 && mark != dos_reparse_point);
    };
    return agrees(dos_normal, 0100000) && agrees(dos_directory, 0040000) && agrees(dos_reparse_point, 0120000);
}

} // namespace zip_layout
