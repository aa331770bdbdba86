// SPDX-License-Identifier: GPL-3.0-or-later
#include "unpack/unpack_check.h"

#include "container/archive_entries.h"
#include "core/path_patterns.h"
#include "core/path_rules.h"
#include "job_control.h"
#include "unpack/extract_log.h"

#include <QLocale>

#include <limits>
#include <vector>

namespace {

using Kind = Archive_Entry::Kind;

// What a file or folder takes on disk beyond its bytes, and what is kept free
// besides: a mebibyte and a hundredth of the whole.
constexpr qint64 disk_block = 4096;
constexpr qint64 room_margin = 1024 * 1024;
constexpr qint64 room_margin_share = 100;

// Sizes are what the archive claims: sums stop at the largest value
// instead of overflowing, which no disk has room for anyway.
constexpr qint64 most = std::numeric_limits<qint64>::max();
qint64 plus(qint64 a, qint64 b)
{
    return b > most - a ? most : a + b;
}

qint64 on_disk(qint64 size)
{
    return size > most - 2 * disk_block ? most : (size + disk_block - 1) / disk_block * disk_block + disk_block;
}

QString data_size(qint64 bytes)
{
    return QLocale::c().formattedDataSize(bytes, 1);
}

} // namespace

bool check_before_unpacking(zip_t *za, const os::Folder &destination, const os::Path &display, Job_Control &control,
                            Extract_Log &log, Unpack_Check *check, const Path_Patterns *chosen)
{
    std::vector<bool> pattern_used(chosen ? size_t(chosen->size()) : 0);
    os::Status st;
    std::vector<QByteArray> present;
    // A destination that cannot be listed may hold anything: each name is
    // looked at then, as when a run is resumed.
    const int unlisted = destination.list(&present);
    const bool resuming = check->resuming = unlisted != 0 || !present.empty();
    qint64 needed = 0, compressed_total = 0;
    const zip_uint64_t count = zip_uint64_t(zip_get_num_entries(za, 0));
    for (zip_uint64_t i = 0; i < count && !control.is_cancelled(); ++i) {
        Archive_Entry e;
        QString problem;
        if (!read_archive_entry(za, i, &e, &problem)) {
            log.error(problem);
            continue;
        }
        if (chosen) {
            bool taken = false;
            for (qsizetype p = 0; p < chosen->size(); ++p)
                if (chosen->takes(p, e.path))
                    taken = pattern_used[size_t(p)] = true;
            if (!taken)
                continue;
        }
        problem = entry_problem(e);
        if (!problem.isEmpty()) {
            log.error(QStringLiteral("%1: %2").arg(e.display(), problem), parent_of(e.path));
            continue;
        }
        if (e.kind == Kind::Special)
            log.warning(QStringLiteral("%1: left out: a special file (socket, pipe or device) is not unpacked").arg(e.display()));
        if (is_left_out(e))
            continue;
        compressed_total = plus(compressed_total, e.compressed_size);
        const bool there = resuming && destination.status_below(e.path, &st) == 0
                           && (e.kind == Kind::Folder ? st.kind == os::Kind::Folder
                                                      : st.kind == os::Kind::File && st.size == e.size);
        needed = plus(needed, there ? 0 : on_disk(e.kind == Kind::Folder ? 0 : e.size));
    }
    check->compressed_total = compressed_total;
    bool all_used = true;
    for (size_t p = 0; p < pattern_used.size(); ++p)
        if (!pattern_used[p]) {
            log.error(QStringLiteral("no entry matches \"%1\"").arg(display_path(chosen->pattern(qsizetype(p)))));
            all_used = false;
        }
    if (!all_used)
        return false;
    qint64 free = 0;
    if (const int error = destination.free_space(&free)) {
        log.error(QStringLiteral("cannot tell the free space on the destination's disk: %1").arg(os::reason(error)));
        return false;
    }
    if (needed > 0 && plus(plus(needed, room_margin), needed / room_margin_share) > free) {
        log.error(QStringLiteral("not enough room: unpacking needs %1, and the disk holding %2 has %3 free")
                      .arg(data_size(needed), display_path(display), data_size(free)));
        return false;
    }
    return !control.is_cancelled();
}

