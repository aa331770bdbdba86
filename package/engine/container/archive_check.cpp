// SPDX-License-Identifier: GPL-3.0-or-later
#include "container/archive_check.h"

#include "container/zip_layout.h"
#include "core/path_rules.h"

#include <QByteArray>

#include <algorithm>
#include <vector>

using namespace zip_layout;

namespace {

// Random access to the archive's bytes through a libzip source.
class Archive_Bytes
{
public:
    explicit Archive_Bytes(zip_source_t *source) : source(source) {}
    ~Archive_Bytes()
    {
        if (opened)
            zip_source_close(source);
    }

    bool open()
    {
        zip_stat_t st;
        if (zip_source_open(source) < 0)
            return false;
        opened = true;
        if (zip_source_stat(source, &st) < 0 || !(st.valid & ZIP_STAT_SIZE))
            return false;
        size = qint64(st.size);
        return true;
    }

    qint64 size = 0;

    // Exactly length bytes at offset, or false.
    bool read(qint64 offset, qint64 length, QByteArray *out)
    {
        if (offset < 0 || length < 0 || offset > size || length > size - offset)
            return false;
        out->resize(qsizetype(length));
        if (length == 0)
            return true;
        if (zip_source_seek(source, offset, SEEK_SET) < 0)
            return false;
        for (qint64 got = 0; got < length;) {
            const zip_int64_t n = zip_source_read(source, out->data() + got, zip_uint64_t(length - got));
            if (n <= 0)
                return false;
            got += n;
        }
        return true;
    }

private:
    zip_source_t *source;
    bool opened = false;
};

// Where the central directory lies, from the end record (and its zip64 form).
struct Directory
{
    qint64 offset = 0;
    qint64 size = 0;
    qint64 entries = 0;
    qint64 end_record = 0; // where the records after the directory start
};

struct Interval
{
    qint64 start;
    qint64 end;
};

class Checker
{
public:
    explicit Checker(Archive_Bytes &bytes) : bytes(bytes) {}

    bool run(qint64 *entry_count, QString *damage);

private:
    Archive_Bytes &bytes;
    Directory dir;
    QString fault;
    std::vector<Interval> intervals;
    bool in_order = true;

    bool fail(const QString &what)
    {
        fault = what;
        return false;
    }
    bool find_end_record();
    bool has_zip64_locator(qint64 record);
    bool read_zip64_end(qint64 locator_at);
    bool check_entry(qint64 index, const Central_Entry &central);
    bool data_end(const Central_Entry &central, const Local_Header &local, qint64 data_start, qint64 *end);
    bool no_overlaps();
};

bool Checker::find_end_record()
{
    // The end record is 22 bytes, followed by a comment of up to 64 KiB.
    const qint64 window = qMin<qint64>(bytes.size, end_record_size + 0xFFFF);
    QByteArray tail;
    if (window < end_record_size || !bytes.read(bytes.size - window, window, &tail))
        return fail(QStringLiteral("no end of central directory"));
    for (qint64 at = window - end_record_size; at >= 0; --at) {
        const uchar *p = reinterpret_cast<const uchar *>(tail.constData()) + at;
        if (le32(p) != end_record_signature)
            continue;
        const qint64 record = bytes.size - window + at;
        if (record + end_record_size + le16(p + 20) != bytes.size)
            continue; // a signature inside the comment, or bytes after the archive
        dir.end_record = record;
        dir.entries = le16(p + 10);
        dir.size = le32(p + 12);
        dir.offset = le32(p + 16);
        if (le16(p + 4) != 0 || le16(p + 6) != 0 || le16(p + 8) != dir.entries)
            return fail(QStringLiteral("split over several disks"));
        // Writers add the zip64 records whenever an entry needs them, not only
        // when a field here is full: a locator before the end record counts.
        const bool saturated = dir.entries == 0xFFFF || dir.size == 0xFFFFFFFF || dir.offset == 0xFFFFFFFF;
        if (saturated)
            return read_zip64_end(record - zip64_locator_size);
        // Unsaturated, the classic fields stand when the locator's signature
        // was only the directory's last bytes (a comment's).
        if (has_zip64_locator(record)) {
            const Directory classic = dir;
            if (!read_zip64_end(record - zip64_locator_size))
                dir = classic;
        }
        return true;
    }
    return fail(QStringLiteral("no end of central directory"));
}

bool Checker::has_zip64_locator(qint64 record)
{
    QByteArray locator;
    return record >= zip64_locator_size && bytes.read(record - zip64_locator_size, 4, &locator)
           && le32(reinterpret_cast<const uchar *>(locator.constData())) == zip64_locator_signature;
}

bool Checker::read_zip64_end(qint64 locator_at)
{
    QByteArray locator, record;
    if (!bytes.read(locator_at, zip64_locator_size, &locator)
        || le32(reinterpret_cast<const uchar *>(locator.constData())) != zip64_locator_signature)
        return fail(QStringLiteral("no zip64 end of central directory"));
    const qint64 at = qint64(le64(reinterpret_cast<const uchar *>(locator.constData()) + 8));
    if (at < 0 || at > locator_at - zip64_end_record_size || !bytes.read(at, zip64_end_record_size, &record))
        return fail(QStringLiteral("the zip64 end of central directory is out of place"));
    const uchar *p = reinterpret_cast<const uchar *>(record.constData());
    if (le32(p) != zip64_end_record_signature)
        return fail(QStringLiteral("no zip64 end of central directory"));
    // The record may carry an extensible data sector after its fixed part.
    if (le64(p + 4) != quint64(locator_at - at - 12))
        return fail(QStringLiteral("the zip64 end of central directory is out of place"));
    dir.entries = qint64(le64(p + 32));
    dir.size = qint64(le64(p + 40));
    dir.offset = qint64(le64(p + 48));
    dir.end_record = at;
    if (le64(p + 24) != le64(p + 32))
        return fail(QStringLiteral("split over several disks"));
    return true;
}

bool Checker::run(qint64 *entry_count, QString *damage)
{
    bool ok = find_end_record();
    if (ok && (dir.offset < 0 || dir.size < 0 || dir.offset + dir.size != dir.end_record))
        ok = fail(QStringLiteral("the central directory is out of place"));
    QByteArray directory;
    if (ok && !bytes.read(dir.offset, dir.size, &directory))
        ok = fail(QStringLiteral("the central directory cannot be read"));
    qint64 at = 0;
    for (qint64 i = 0; ok && i < dir.entries; ++i) {
        Central_Entry central;
        if (!parse_central(directory, &at, &central))
            ok = fail(QStringLiteral("central directory entry %1 cannot be read").arg(i + 1));
        else
            ok = check_entry(i, central);
    }
    if (ok && at != directory.size())
        ok = fail(QStringLiteral("the central directory holds more than its entries"));
    ok = ok && no_overlaps();
    *entry_count = dir.entries;
    if (!ok)
        *damage = fault;
    return ok;
}

bool Checker::check_entry(qint64 index, const Central_Entry &central)
{
    const QString which = QStringLiteral("entry %1 (%2)").arg(index + 1).arg(display_path(central.name));
    QByteArray fixed, variable;
    if (central.local_offset + local_header_size > dir.offset
        || !bytes.read(central.local_offset, local_header_size, &fixed))
        return fail(QStringLiteral("%1: its local header lies outside the archive").arg(which));
    Local_Header local;
    if (!parse_local_fixed(fixed, &local)
        || !bytes.read(central.local_offset + local_header_size, local.name_length + local.extra_length, &variable)
        || !parse_local_variable(variable, &local))
        return fail(QStringLiteral("%1: its local header cannot be read").arg(which));
    if (!type_agrees(central.external_attributes))
        return fail(QStringLiteral("%1: its Unix type disagrees with its DOS attributes").arg(which));
    const QString mismatch = compare_headers(central, local);
    if (!mismatch.isEmpty())
        return fail(QStringLiteral("%1: the local header does not match the central directory (%2)").arg(which, mismatch));
    const qint64 data_start = central.local_offset + local_header_size + local.name_length + local.extra_length;
    qint64 end = 0;
    if (!data_end(central, local, data_start, &end) || end > dir.offset)
        return fail(QStringLiteral("%1: its data reaches past the end of the entries").arg(which));
    if (!intervals.empty() && central.local_offset < intervals.back().start)
        in_order = false;
    intervals.push_back({central.local_offset, end});
    return true;
}

// After the data may come a data descriptor, with or without its signature.
bool Checker::data_end(const Central_Entry &central, const Local_Header &local, qint64 data_start, qint64 *end)
{
    *end = data_start + central.compressed_size;
    if (*end < data_start)
        return false;
    if (!(local.flags & flag_data_descriptor))
        return true;
    QByteArray signature;
    if (bytes.read(*end, 4, &signature) && le32(reinterpret_cast<const uchar *>(signature.constData())) == descriptor_signature)
        *end += 4;
    *end += central.zip64 ? 20 : 12;
    return true;
}

bool Checker::no_overlaps()
{
    if (!in_order)
        std::sort(intervals.begin(), intervals.end(), [](const Interval &a, const Interval &b) { return a.start < b.start; });
    for (size_t i = 1; i < intervals.size(); ++i)
        if (intervals[i].start < intervals[i - 1].end)
            return fail(QStringLiteral("entries overlap (possibly a zip bomb)"));
    return true;
}

} // namespace

bool check_archive_structure(zip_source_t *source, qint64 *entry_count, QString *damage)
{
    *entry_count = 0;
    Archive_Bytes bytes(source);
    if (!bytes.open()) {
        *damage = QStringLiteral("cannot be read");
        return false;
    }
    return Checker(bytes).run(entry_count, damage);
}
