// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/zip_handles.h"

#include <QByteArray>
#include <QString>

#include <initializer_list>

// Random access to a damaged container's deciphered bytes. The cipher mirrors
// each 5,120-byte chunk, so a chunk cut short deciphers to the end of its
// plain bytes: the bytes the cut took are missing from the chunk's front.
// That chunk is moved back by them (the gap reads as zeros), which puts what
// it still holds, often the directory's end, at its own offset.
//
// The scan for headers reads many small pieces close together, so reads are
// served from one deciphered window: each byte is deciphered about once per
// pass, whatever the number of signatures in it.
class Salvage_Bytes
{
public:
    Salvage_Bytes() = default;
    Salvage_Bytes(const Salvage_Bytes &) = delete;
    Salvage_Bytes &operator=(const Salvage_Bytes &) = delete;
    ~Salvage_Bytes();

    // given_shift < 0 works the shift out from the last chunk.
    bool open(const QByteArray &path, QString *reason, qint64 given_shift = -1);

    qint64 size = 0;
    qint64 shift = 0;
    // Whether [from, to) reaches into the bytes the cut took.
    bool overlaps_gap(qint64 from, qint64 to) const { return shift > 0 && from < cut_chunk + shift && to > cut_chunk; }

    // Up to length bytes at offset (fewer at the end, or where reading fails).
    QByteArray read(qint64 offset, qint64 length);

    // The first offset >= from where a "PK" signature with one of the given
    // last two bytes starts, or -1.
    qint64 find(qint64 from, std::initializer_list<quint16> kinds);

private:
    static constexpr qint64 window_size = 256 * 1024;

    Zip_Source_Ptr source;
    bool opened = false;
    qint64 raw_size = 0;
    qint64 cut_chunk = 0; // where the last, possibly cut, chunk starts
    QByteArray window;
    qint64 window_start = -1;

    QByteArray read_direct(qint64 offset, qint64 length);
    bool read_raw(qint64 offset, qint64 length, char *out);
    // Makes the window hold [offset, offset + length) as far as it can be read.
    void cover(qint64 offset, qint64 length);
    qint64 find_shift();
};
