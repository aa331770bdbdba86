// SPDX-License-Identifier: GPL-3.0-or-later
#include "container/archive_output.h"

#include "container/kvx_cipher.h"

#include <cstring>

static_assert(Archive_Output::capacity % kvx_chunk_size == 0, "the tail must leave whole chunks behind");

namespace {

// The chunks that hold [at, at + length), all of them whole.
qint64 chunk_floor(qint64 at)
{
    return at / kvx_chunk_size * kvx_chunk_size;
}
qint64 chunk_ceil(qint64 at)
{
    return chunk_floor(at + kvx_chunk_size - 1);
}

void transform(QByteArray &block, Cipher_Direction direction)
{
    transform_chunks(reinterpret_cast<unsigned char *>(block.data()), block.size(), direction);
}

} // namespace

bool Archive_Output::fail(int error)
{
    if (failure.isEmpty())
        failure = os::reason(error);
    return false;
}

// A short write (a disk filling up) is retried, so the failure comes with its reason.
bool Archive_Output::put(qint64 at, const char *data, qint64 length)
{
    const int error = file.write_all_at(at, data, length);
    return error == 0 || fail(error);
}

bool Archive_Output::get(qint64 at, char *data, qint64 length)
{
    for (qint64 done = 0; done < length;) {
        int error = 0;
        const qint64 n = file.read_at(at + done, data + done, length - done, &error);
        if (n < 0)
            return fail(error);
        if (n == 0) {
            failure = QStringLiteral("the file ended early");
            return false;
        }
        done += n;
    }
    return true;
}

bool Archive_Output::write(qint64 at, const char *data, qint64 length)
{
    if (finished || at < 0 || at > end) {
        failure = QStringLiteral("write out of place");
        return false;
    }
    while (length > 0) {
        qint64 n = 0;
        if (at < tail_start) {
            n = qMin(length, tail_start - at);
            if (!patch_written(at, data, n))
                return false;
        } else {
            const qint64 offset = at - tail_start;
            if (offset == capacity) {
                if (!flush_whole_chunks())
                    return false;
                continue;
            }
            n = qMin(length, capacity - offset);
            if (offset + n > tail.size())
                tail.resize(offset + n);
            memcpy(tail.data() + offset, data, size_t(n));
            end = qMax(end, at + n);
        }
        at += n;
        data += n;
        length -= n;
    }
    return true;
}

// The tail's whole chunks go to the file; the part of a chunk after them stays.
bool Archive_Output::flush_whole_chunks()
{
    const qint64 whole = chunk_floor(tail.size());
    if (encipher)
        transform_chunks(reinterpret_cast<unsigned char *>(tail.data()), whole, Cipher_Direction::Encrypt);
    if (!put(tail_start, tail.constData(), whole))
        return false;
    tail.remove(0, whole);
    tail_start += whole;
    return true;
}

// The written chunks that hold [at, at + length), deciphered; up to the
// file's end, where the last chunk may be short.
bool Archive_Output::load_written(qint64 at, qint64 length, QByteArray *block)
{
    const qint64 first = chunk_floor(at);
    block->resize(qMin(chunk_ceil(at + length), tail_start) - first);
    if (!get(first, block->data(), block->size()))
        return false;
    transform(*block, Cipher_Direction::Decrypt);
    return true;
}

// What goes where the file already holds whole enciphered chunks: those
// chunks are read back, deciphered, changed and enciphered again.
bool Archive_Output::patch_written(qint64 at, const char *data, qint64 length)
{
    if (!encipher)
        return put(at, data, length);
    QByteArray block;
    if (!load_written(at, length, &block))
        return false;
    memcpy(block.data() + (at - chunk_floor(at)), data, size_t(length));
    transform(block, Cipher_Direction::Encrypt);
    return put(chunk_floor(at), block.constData(), block.size());
}

bool Archive_Output::read_written(qint64 at, char *data, qint64 length)
{
    if (!encipher)
        return get(at, data, length);
    QByteArray block;
    if (!load_written(at, length, &block))
        return false;
    memcpy(data, block.constData() + (at - chunk_floor(at)), size_t(length));
    return true;
}

qint64 Archive_Output::read(qint64 at, char *data, qint64 length)
{
    length = qBound<qint64>(0, length, end - at);
    const qint64 written = qBound<qint64>(0, tail_start - at, length);
    if (written > 0 && !read_written(at, data, written))
        return -1;
    if (length > written)
        memcpy(data + written, tail.constData() + (at + written - tail_start), size_t(length - written));
    return length;
}

bool Archive_Output::restart()
{
    tail.clear();
    tail_start = end = 0;
    finished = false;
    const int error = file.truncate(0);
    return error == 0 || fail(error);
}

// The last chunk may be short: it is enciphered as the container's last.
bool Archive_Output::finish()
{
    if (encipher)
        transform(tail, Cipher_Direction::Encrypt);
    finished = true;
    if (!put(tail_start, tail.constData(), tail.size()))
        return false;
    tail_start = end;
    tail.clear();
    return true;
}
