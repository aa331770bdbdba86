#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
#include <vector>

#include <zip.h>

// Entry names: UTF-8 when they are valid UTF-8, else GBK, the code page of
// Chinese-language Windows tools. Backslashes become folder separators only
// after decoding, since a GBK character may end in 0x5C.
QString decode_entry_name(const QByteArray &raw);

// The entry's path below the destination, or an empty string when the name
// must not be extracted: absolute, with a drive letter, or climbing out with "..".
QString safe_relative_path(const QString &name);

// A link may point anywhere inside the destination: its target, resolved
// lexically from the link's own folder, must stay below the destination.
bool link_target_is_safe(const QString &destination, const QString &folder, const QString &target);

// One archive entry as the extractor sees it.
struct Archive_Entry
{
    zip_uint64_t index = 0;
    QString name;        // as decoded, for messages
    QString relative;    // below the destination
    bool is_dir = false;
    bool is_link = false;
    qint64 size = 0;
    qint64 comp_size = 0;
    qint64 mtime = -1;
    quint32 mode = 0;    // Unix permission bits, 0 when the archive has none
    QString parent;      // resolved folder, absolute; set by the extractor
};

// The entries of za that are safe to extract into destination. Unreadable
// and unsafe entries are reported and left out; *comp_total counts them all.
std::vector<Archive_Entry> read_safe_entries(zip_t *za, const QString &destination,
                                             const std::function<void(const QString &)> &report,
                                             qint64 *comp_total);
