// SPDX-License-Identifier: GPL-3.0-or-later
#include "container/salvage_bytes.h"

#include "container/container_source.h"
#include "container/kvx_cipher.h"
#include "container/zip_layout.h"

using namespace zip_layout;

Salvage_Bytes::~Salvage_Bytes()
{
    if (opened)
        zip_source_close(source.get());
}

bool Salvage_Bytes::open(const QByteArray &path, QString *reason, qint64 given_shift)
{
    source.reset(create_container_source(path, reason));
    zip_stat_t st;
    if (!source || zip_source_open(source.get()) < 0) {
        if (source)
            *reason = QStringLiteral("cannot be read");
        return false;
    }
    opened = true;
    if (zip_source_stat(source.get(), &st) < 0 || !(st.valid & ZIP_STAT_SIZE)) {
        *reason = QStringLiteral("cannot be read");
        return false;
    }
    raw_size = qint64(st.size);
    cut_chunk = raw_size - raw_size % kvx_chunk_size;
    shift = given_shift >= 0 ? given_shift : find_shift();
    size = raw_size + shift;
    return true;
}

QByteArray Salvage_Bytes::read(qint64 offset, qint64 length)
{
    if (offset < 0 || length > window_size)
        return read_direct(offset, length);
    cover(offset, length);
    return window.mid(offset - window_start, length);
}

qint64 Salvage_Bytes::find(qint64 from, std::initializer_list<quint16> kinds)
{
    for (qint64 at = qMax<qint64>(from, 0); at + 4 <= size;) {
        cover(at, 4);
        const qint64 end = window_start + window.size();
        for (qsizetype i = window.indexOf("PK", at - window_start); i >= 0 && i + 4 <= window.size();
             i = window.indexOf("PK", i + 1))
            for (quint16 k : kinds)
                if (le16(reinterpret_cast<const uchar *>(window.constData()) + i + 2) == k)
                    return window_start + i;
        // Stop where reading stopped; otherwise go on with the signature
        // that may straddle the window's end.
        if (end < qMin(size, window_start + window_size) || end >= size)
            break;
        at = end - 3;
    }
    return -1;
}

void Salvage_Bytes::cover(qint64 offset, qint64 length)
{
    const qint64 want_end = qMin(size, offset + length);
    if (window_start >= 0 && offset >= window_start && want_end <= window_start + window.size())
        return;
    window = read_direct(offset, window_size);
    window_start = offset;
}

QByteArray Salvage_Bytes::read_direct(qint64 offset, qint64 length)
{
    length = qMax<qint64>(0, qMin(length, size - offset));
    if (length == 0 || offset < 0)
        return QByteArray();
    QByteArray out(qsizetype(length), '\0');
    // Before the cut chunk, the gap, the chunk's remaining bytes.
    const qint64 before = qBound<qint64>(0, cut_chunk - offset, length);
    const qint64 gap_end = cut_chunk + shift;
    const qint64 rest_from = qMax(offset, gap_end);
    if (!read_raw(offset, before, out.data()))
        return QByteArray();
    if (rest_from < offset + length
        && !read_raw(rest_from - shift, offset + length - rest_from, out.data() + (rest_from - offset)))
        return out.left(qMax<qint64>(before, qMin(length, gap_end - offset)));
    return out;
}

bool Salvage_Bytes::read_raw(qint64 offset, qint64 length, char *out)
{
    if (length <= 0)
        return true;
    if (zip_source_seek(source.get(), offset, SEEK_SET) < 0)
        return false;
    for (qint64 got = 0; got < length;) {
        const zip_int64_t n = zip_source_read(source.get(), out + got, zip_uint64_t(length - got));
        if (n <= 0)
            return false;
        got += n;
    }
    return true;
}

// How many bytes a cut took from the last chunk. Its end record says so
// when the chunk still holds one (the directory ends where it starts);
// otherwise the chunk was a whole one, unless nothing was cut at all.
qint64 Salvage_Bytes::find_shift()
{
    const qint64 held = raw_size - cut_chunk;
    if (held == 0)
        return 0;
    QByteArray tail(qsizetype(held), Qt::Uninitialized);
    if (!read_raw(cut_chunk, held, tail.data()))
        return 0;
    // Not cut at all: an end record straddling into the last chunk is in place.
    const qint64 last_size = qMin(raw_size, held + end_record_size);
    QByteArray last(qsizetype(last_size), Qt::Uninitialized);
    if (read_raw(raw_size - last_size, last_size, last.data())) {
        const qsizetype r = last.lastIndexOf("PK\x05\x06");
        const auto *q = reinterpret_cast<const uchar *>(last.constData()) + r;
        if (r >= 0 && r + end_record_size == last_size && qint64(le32(q + 12)) + le32(q + 16) == raw_size - last_size + r)
            return 0;
    }
    const auto *p = reinterpret_cast<const uchar *>(tail.constData());
    for (qsizetype e = tail.lastIndexOf("PK\x05\x06"); e >= 0; e = e > 0 ? tail.lastIndexOf("PK\x05\x06", e - 1) : -1) {
        // A signature in the last bytes may have no record after it.
        if (e + end_record_size > held || e + end_record_size + le16(p + e + 20) != held)
            continue;
        const qint64 dir_end = qint64(le32(p + e + 12)) + qint64(le32(p + e + 16));
        const qint64 taken = dir_end - (cut_chunk + e);
        if (taken >= 0 && taken <= kvx_chunk_size - held)
            return taken;
    }
    return kvx_chunk_size - held;
}
