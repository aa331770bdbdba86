// SPDX-License-Identifier: GPL-3.0-or-later
#include "container/salvage_source.h"

#include "container/salvage_bytes.h"
#include "container/sealed_chunks.h"
#include "container/zip_layout.h"
#include "core/zip_handles.h"
#include "package_pipeline.h"

#include <QHash>

#include <cstring>
#include <map>
#include <memory>
#include <vector>

using namespace zip_layout;

namespace {

constexpr quint32 saturated32 = 0xFFFFFFFF;

void put16(QByteArray *out, quint64 v)
{
    out->append(char(v & 0xFF)).append(char((v >> 8) & 0xFF));
}
void put32(QByteArray *out, quint64 v)
{
    put16(out, v & 0xFFFF);
    put16(out, (v >> 16) & 0xFFFF);
}
void put64(QByteArray *out, quint64 v)
{
    put32(out, v & 0xFFFFFFFFu);
    put32(out, v >> 32);
}
const uchar *bytes_of(const QByteArray &a, qint64 at = 0)
{
    return reinterpret_cast<const uchar *>(a.constData()) + at;
}

constexpr quint16 local_kind = 0x0403, central_kind = 0x0201, descriptor_kind = 0x0807;

struct Found
{
    qint64 offset = 0;
    quint16 version_needed = 20;
    Local_Header local;
    quint32 crc = 0;
    qint64 compressed_size = 0;
    qint64 size = 0;
    qint64 end = 0; // past the data and any data descriptor
    quint16 made_by = 0x0014; // MS-DOS: no Unix mode claimed
    quint32 external = 0;
    bool mode_known = false;
};

class Scanner
{
public:
    explicit Scanner(Salvage_Bytes &bytes) : bytes(bytes) {}

    std::vector<Found> found;
    QStringList lost;

    void run()
    {
        qint64 at = 0;
        while (at >= 0 && at + local_header_size <= bytes.size) {
            Found f;
            int outcome = read_entry(at, &f);
            if (outcome == whole && bytes.overlaps_gap(f.offset, f.end))
                outcome = cut;
            if (outcome == whole) {
                found.push_back(f);
                at = f.end;
                continue;
            }
            if (outcome != not_a_header)
                lost.append(QStringLiteral("%1 (%2)").arg(display_path(f.local.name),
                                                          outcome == cut ? QStringLiteral("cut short")
                                                                         : QStringLiteral("its header is damaged")));
            at = bytes.find(at + 1, {local_kind});
        }
        read_central_entries();
    }

private:
    Salvage_Bytes &bytes;
    enum { whole, cut, damaged_header, not_a_header };

    int read_entry(qint64 at, Found *f)
    {
        const QByteArray fixed = bytes.read(at, local_header_size);
        if (!parse_local_fixed(fixed, &f->local))
            return not_a_header;
        f->offset = at;
        f->version_needed = le16(bytes_of(fixed, 4));
        const QByteArray variable = bytes.read(at + local_header_size, f->local.name_length + f->local.extra_length);
        if (variable.size() != f->local.name_length + f->local.extra_length)
            return f->local.name_length > 0 && variable.size() >= f->local.name_length
                       ? (f->local.name = variable.left(f->local.name_length), cut)
                       : not_a_header;
        if (!parse_local_variable(variable, &f->local) || f->local.name.isEmpty())
            return not_a_header;
        bool malformed = false;
        find_field(f->local.extra, 0xFFFF, nullptr, &malformed);
        if (malformed || (f->local.flags & flag_encrypted))
            return damaged_header;
        const qint64 data_start = at + local_header_size + f->local.name_length + f->local.extra_length;
        f->crc = f->local.crc;
        f->compressed_size = f->local.compressed_size;
        f->size = f->local.size;
        const bool zip64 = find_field(f->local.extra, zip64_field, nullptr);
        // Data said to reach past the end is cut short (and the sum below stays in range).
        if (f->compressed_size > bytes.size - data_start)
            return cut;
        if (!(f->local.flags & flag_data_descriptor)) {
            f->end = data_start + f->compressed_size;
            return f->end <= bytes.size ? whole : cut;
        }
        if (f->local.compressed_size != 0 || f->local.crc != 0) {
            // The sizes are in the header after all: the descriptor only follows.
            const qint64 data_end = data_start + f->compressed_size;
            const QByteArray signature = bytes.read(data_end, 4);
            const bool signed_ = signature.size() == 4 && le32(bytes_of(signature)) == descriptor_signature;
            f->end = data_end + (signed_ ? 4 : 0) + (zip64 ? 20 : 12);
            return f->end <= bytes.size ? whole : cut;
        }
        return find_descriptor(data_start, f) ? whole : cut;
    }

    // The data descriptor after data of unknown length: the first one whose
    // compressed size is its distance from the data's start. Signed ones are
    // found by their signature, unsigned ones by the header that follows.
    // Each candidate implies one data start, so candidates are indexed by it
    // as the scan passes them: the scan only moves forward, and headers whose
    // descriptor is missing cost one pass in all instead of one pass each.
    bool find_descriptor(qint64 data_start, Found *f)
    {
        // Later data starts all lie past this header.
        pending.erase(pending.begin(), pending.upper_bound(f->offset));
        indexed_to = qMax(indexed_to, f->offset);
        for (;;) {
            if (const auto it = pending.find(data_start); it != pending.end()) {
                *f = take(*f, it->second);
                return true;
            }
            const qint64 q = bytes.find(indexed_to, descriptor_kinds);
            if (q < 0) {
                indexed_to = bytes.size;
                return false;
            }
            if (pending.size() >= pending_limit)
                return find_unindexed(q, data_start, f);
            for (const auto &[start, d] : candidates_at(q))
                pending.emplace(start, d);
            indexed_to = q + 1;
        }
    }
    // Past the index's limit (only a hostile archive is that dense with
    // signatures): this one start is looked for alone, remembering nothing.
    bool find_unindexed(qint64 from, qint64 data_start, Found *f)
    {
        for (qint64 q = from; q >= 0; q = bytes.find(q + 1, descriptor_kinds))
            for (const auto &[start, d] : candidates_at(q))
                if (start == data_start) {
                    *f = take(*f, d);
                    return true;
                }
        return false;
    }

    struct Descriptor
    {
        quint32 crc = 0;
        qint64 compressed = 0;
        qint64 size = 0;
        qint64 end = 0;
    };
    static constexpr std::initializer_list<quint16> descriptor_kinds = {descriptor_kind, local_kind, central_kind};
    static constexpr size_t pending_limit = size_t(1) << 20;
    std::map<qint64, Descriptor> pending; // implied data start -> the first descriptor implying it
    qint64 indexed_to = 0;                // candidates before it are in pending, or lie before every later start

    // The descriptors a signature at q may be, in the order they are preferred.
    std::vector<std::pair<qint64, Descriptor>> candidates_at(qint64 q)
    {
        std::vector<std::pair<qint64, Descriptor>> out;
        const QByteArray after = bytes.read(q, 24);
        if (after.size() < 4)
            return out;
        if (le32(bytes_of(after)) == descriptor_signature) {
            if (after.size() >= 16)
                out.push_back({q - qint64(le32(bytes_of(after, 8))),
                               {le32(bytes_of(after, 4)), qint64(le32(bytes_of(after, 8))), le32(bytes_of(after, 12)), q + 16}});
            const qint64 compressed = qint64(le64(bytes_of(after, 8)));
            if (after.size() == 24 && compressed >= 0 && compressed <= q)
                out.push_back({q - compressed, {le32(bytes_of(after, 4)), compressed, qint64(le64(bytes_of(after, 16))), q + 24}});
            return out;
        }
        if (q < 12)
            return out;
        const QByteArray before = bytes.read(q - 12, 12);
        if (before.size() == 12)
            out.push_back({q - 12 - qint64(le32(bytes_of(before, 4))),
                           {le32(bytes_of(before)), qint64(le32(bytes_of(before, 4))), le32(bytes_of(before, 8)), q}});
        return out;
    }
    static Found take(Found f, const Descriptor &d)
    {
        f.crc = d.crc;
        f.compressed_size = d.compressed;
        f.size = d.size;
        f.end = d.end;
        return f;
    }

    // What survives of the central directory restores Unix modes and types.
    void read_central_entries()
    {
        QHash<qint64, Found *> by_offset;
        for (Found &f : found)
            by_offset.insert(f.offset, &f);
        const qint64 from = found.empty() ? 0 : found.back().end;
        for (qint64 q = bytes.find(from, {central_kind}); q >= 0; q = bytes.find(q + 1, {central_kind})) {
            const QByteArray fixed = bytes.read(q, central_entry_size);
            if (fixed.size() < central_entry_size)
                break;
            const qint64 variable = le16(bytes_of(fixed, 28)) + le16(bytes_of(fixed, 30)) + le16(bytes_of(fixed, 32));
            const QByteArray record = fixed + bytes.read(q + central_entry_size, variable);
            qint64 at = 0;
            Central_Entry central;
            if (bytes.overlaps_gap(q, q + record.size()) || !parse_central(record, &at, &central))
                continue;
            Found *f = by_offset.value(central.local_offset);
            if (f && central.name == f->local.name && central.crc == f->crc && type_agrees(central.external_attributes)) {
                f->made_by = central.made_by;
                f->external = central.external_attributes;
                f->mode_known = true;
            }
        }
    }
};

QByteArray without_zip64(const QByteArray &extra)
{
    QByteArray out;
    for (qint64 at = 0; at + 4 <= extra.size();) {
        const qint64 length = le16(bytes_of(extra, at + 2));
        if (le16(bytes_of(extra, at)) != zip64_field)
            out += extra.mid(at, 4 + length);
        at += 4 + length;
    }
    return out;
}

// The central directory and end records for the kept entries, placed at offset.
QByteArray synthesize_directory(const std::vector<Found> &entries, qint64 offset)
{
    QByteArray dir;
    for (const Found &f : entries) {
        const bool big_size = f.size >= saturated32, big_comp = f.compressed_size >= saturated32,
                   big_offset = f.offset >= saturated32;
        QByteArray extra = without_zip64(f.local.extra);
        if (big_size || big_comp || big_offset) {
            QByteArray field;
            if (big_size)
                put64(&field, quint64(f.size));
            if (big_comp)
                put64(&field, quint64(f.compressed_size));
            if (big_offset)
                put64(&field, quint64(f.offset));
            QByteArray head;
            put16(&head, zip64_field);
            put16(&head, quint64(field.size()));
            extra = head + field + extra;
        }
        put32(&dir, central_signature);
        put16(&dir, f.made_by);
        put16(&dir, f.version_needed);
        put16(&dir, f.local.flags);
        put16(&dir, f.local.method);
        put32(&dir, f.local.dos_time);
        put32(&dir, f.crc);
        put32(&dir, big_comp ? saturated32 : quint64(f.compressed_size));
        put32(&dir, big_size ? saturated32 : quint64(f.size));
        put16(&dir, quint64(f.local.name.size()));
        put16(&dir, quint64(extra.size()));
        put32(&dir, 0); // comment length, disk
        put16(&dir, 0); // internal attributes
        put32(&dir, f.mode_known ? f.external : f.local.name.endsWith('/') ? dos_directory : 0);
        put32(&dir, big_offset ? saturated32 : quint64(f.offset));
        dir += f.local.name + extra;
    }
    const qint64 dir_size = dir.size();
    const qint64 count = qint64(entries.size());
    const bool zip64 = count >= 0xFFFF || dir_size >= saturated32 || offset >= saturated32;
    if (zip64) {
        const qint64 record_at = offset + dir_size;
        put32(&dir, zip64_end_record_signature);
        put64(&dir, zip64_end_record_size - 12);
        put16(&dir, 45);
        put16(&dir, 45);
        put64(&dir, 0); // this disk, the directory's disk
        put64(&dir, quint64(count));
        put64(&dir, quint64(count));
        put64(&dir, quint64(dir_size));
        put64(&dir, quint64(offset));
        put32(&dir, zip64_locator_signature);
        put32(&dir, 0);
        put64(&dir, quint64(record_at));
        put32(&dir, 1);
    }
    put32(&dir, end_record_signature);
    put32(&dir, 0); // disks
    put16(&dir, zip64 ? 0xFFFF : quint64(count));
    put16(&dir, zip64 ? 0xFFFF : quint64(count));
    put32(&dir, zip64 ? saturated32 : quint64(dir_size));
    put32(&dir, zip64 ? saturated32 : quint64(offset));
    put16(&dir, 0); // comment
    return dir;
}

void set_plan(const std::vector<Found> &entries, Salvage_Plan *plan)
{
    plan->archive_size = 0;
    plan->modes_unknown = 0;
    for (const Found &f : entries) {
        plan->archive_size = qMax(plan->archive_size, f.end);
        plan->modes_unknown += f.mode_known ? 0 : 1;
    }
    plan->directory = synthesize_directory(entries, plan->archive_size);
    plan->recovered = int(entries.size());
}

// Reads every entry of the planned archive through libzip, which checks
// sizes and checksums; false for each that fails.
std::vector<bool> read_through(const QByteArray &path, const Salvage_Plan &plan, qint64 count)
{
    std::vector<bool> good(size_t(count), false);
    QString why;
    zip_source_t *source = create_salvage_source(path, plan, &why);
    if (!source)
        return good;
    zip_error_t error;
    zip_error_init(&error);
    Zip_Ptr za(zip_open_from_source(source, ZIP_RDONLY, &error));
    zip_error_fini(&error);
    if (!za) {
        zip_source_free(source);
        return good;
    }
    std::vector<char> buffer(size_t(256 * 1024));
    for (qint64 i = 0; i < count && i < zip_get_num_entries(za.get(), 0); ++i) {
        Zip_File_Ptr file(zip_fopen_index(za.get(), zip_uint64_t(i), 0));
        if (!file)
            continue;
        zip_int64_t n = 0;
        while ((n = zip_fread(file.get(), buffer.data(), buffer.size())) > 0) {
        }
        good[size_t(i)] = n == 0;
    }
    return good;
}

struct Salvage_State
{
    Salvage_Bytes container;
    QByteArray directory;
    zip_int64_t archive_size = 0;
    zip_int64_t size = 0;
    zip_int64_t position = 0;
    zip_error_t error;

    Salvage_State() { zip_error_init(&error); }
    ~Salvage_State() { zip_error_fini(&error); }

    zip_int64_t read(char *out, zip_uint64_t length)
    {
        const zip_int64_t want = zip_int64_t(qMin<zip_uint64_t>(length, zip_uint64_t(size - position)));
        zip_int64_t copied = 0;
        if (position < archive_size && want > 0) {
            const zip_int64_t n = qMin(want, archive_size - position);
            const QByteArray bytes = container.read(position, n);
            if (bytes.size() != n) {
                zip_error_set(&error, ZIP_ER_READ, 0);
                return -1;
            }
            memcpy(out, bytes.constData(), size_t(n));
            copied = n;
        }
        if (copied < want)
            memcpy(out + copied, directory.constData() + (position + copied - archive_size), size_t(want - copied));
        position += want;
        return want;
    }
};

zip_int64_t answer_salvage(Salvage_State *state, void *data, zip_uint64_t length, zip_source_cmd_t command)
{
    switch (command) {
    case ZIP_SOURCE_OPEN:
        state->position = 0;
        return 0;
    case ZIP_SOURCE_READ:
        return state->read(static_cast<char *>(data), length);
    case ZIP_SOURCE_CLOSE:
        return 0;
    case ZIP_SOURCE_STAT:
        return answer_stat(data, length, &state->error, state->size) ? sizeof(zip_stat_t) : -1;
    case ZIP_SOURCE_SEEK:
        return answer_seek(&state->position, state->size, data, length, &state->error);
    case ZIP_SOURCE_TELL:
        return state->position;
    case ZIP_SOURCE_SUPPORTS:
        return ZIP_SOURCE_SUPPORTS_SEEKABLE;
    default:
        return answer_common_command(state, data, length, command);
    }
}

zip_int64_t salvage_callback(void *state, void *data, zip_uint64_t length, zip_source_cmd_t command)
{
    auto *s = static_cast<Salvage_State *>(state);
    return answer_without_throwing(&s->error, [&] { return answer_salvage(s, data, length, command); });
}

} // namespace

bool plan_salvage(const QByteArray &container_path, Salvage_Plan *plan, QString *reason)
{
    *plan = Salvage_Plan();
    Salvage_Bytes bytes;
    if (!bytes.open(container_path, reason))
        return false;
    if (sealed::is_sealed(bytes.read(0, sealed::header_size))) {
        *reason = QStringLiteral("protected by a password: its parts are sealed as a whole, and salvage cannot open them");
        return false;
    }
    plan->shift = bytes.shift;
    Scanner scanner(bytes);
    scanner.run();
    plan->lost = scanner.lost;
    set_plan(scanner.found, plan);
    const std::vector<bool> good = read_through(container_path, *plan, qint64(scanner.found.size()));
    std::vector<Found> kept;
    for (size_t i = 0; i < scanner.found.size(); ++i) {
        if (good[i])
            kept.push_back(scanner.found[i]);
        else
            plan->lost.append(QStringLiteral("%1 (damaged)").arg(display_path(scanner.found[i].local.name)));
    }
    set_plan(kept, plan);
    return true;
}

zip_source_t *create_salvage_source(const QByteArray &container_path, const Salvage_Plan &plan, QString *reason)
{
    auto state = std::make_unique<Salvage_State>();
    if (!state->container.open(container_path, reason, plan.shift))
        return nullptr;
    state->directory = plan.directory;
    state->archive_size = plan.archive_size;
    state->size = plan.archive_size + plan.directory.size();
    zip_error_t ze;
    zip_error_init(&ze);
    zip_source_t *source = zip_source_function_create(salvage_callback, state.get(), &ze);
    zip_error_fini(&ze);
    if (!source) {
        *reason = QStringLiteral("out of memory");
        return nullptr;
    }
    state.release();
    return source;
}
