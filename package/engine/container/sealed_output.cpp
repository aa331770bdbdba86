// SPDX-License-Identifier: GPL-3.0-or-later
#include "container/sealed_output.h"

#include <cstring>

using namespace sealed;

bool Sealed_Output::write_header()
{
    const QByteArray bytes = header.bytes();
    header_written = below.write(0, bytes.constData(), bytes.size());
    return header_written;
}

bool Sealed_Output::seal_first_in_window(bool last)
{
    const qint64 length = qMin(sealed::chunk_size, end - window_start * chunk_size);
    key.seal(window_start, last, window.front().data(), length, stored.data());
    if (!below.write(stored_offset(window_start), stored.data(), length + nonce_size + tag_size))
        return false;
    window.pop_front();
    ++window_start;
    return true;
}

// Chunks before the window are whole.
bool Sealed_Output::load_sealed(qint64 index, std::vector<char> *plain)
{
    if (below.read(stored_offset(index), stored.data(), stored_chunk_size) != stored_chunk_size
        || !key.open(index, false, stored.data(), stored_chunk_size, plain->data())) {
        failure = QStringLiteral("a chunk written cannot be read back");
        return false;
    }
    return true;
}

bool Sealed_Output::patch_sealed(qint64 index, qint64 offset, const char *data, qint64 length)
{
    std::vector<char> plain(static_cast<size_t>(chunk_size));
    if (!load_sealed(index, &plain))
        return false;
    std::memcpy(plain.data() + offset, data, size_t(length));
    key.seal(index, false, plain.data(), chunk_size, stored.data());
    return below.write(stored_offset(index), stored.data(), stored_chunk_size);
}

bool Sealed_Output::write(qint64 at, const char *data, qint64 length)
{
    if (at < 0 || at > end) {
        failure = QStringLiteral("write out of place");
        return false;
    }
    if (!header_written && !write_header())
        return false;
    while (length > 0) {
        const qint64 index = at / chunk_size;
        const qint64 offset = at % chunk_size;
        const qint64 n = qMin(length, chunk_size - offset);
        if (index < window_start) {
            if (!patch_sealed(index, offset, data, n))
                return false;
        } else {
            if (index == window_start + qint64(window.size())) {
                // The archive goes past the window's chunks, which are whole: none is the last.
                if (window.size() == window_chunks && !seal_first_in_window(false))
                    return false;
                window.emplace_back(size_t(chunk_size));
            }
            std::memcpy(window[size_t(index - window_start)].data() + offset, data, size_t(n));
            end = qMax(end, at + n);
        }
        at += n;
        data += n;
        length -= n;
    }
    return true;
}

qint64 Sealed_Output::read(qint64 at, char *data, qint64 length)
{
    length = qBound<qint64>(0, length, end - at);
    std::vector<char> plain;
    for (qint64 done = 0; done < length;) {
        const qint64 index = (at + done) / chunk_size;
        const qint64 offset = (at + done) % chunk_size;
        const qint64 n = qMin(length - done, chunk_size - offset);
        if (index >= window_start) {
            std::memcpy(data + done, window[size_t(index - window_start)].data() + offset, size_t(n));
        } else {
            plain.resize(size_t(chunk_size));
            if (!load_sealed(index, &plain))
                return -1;
            std::memcpy(data + done, plain.data() + offset, size_t(n));
        }
        done += n;
    }
    return length;
}

bool Sealed_Output::restart()
{
    window.clear();
    window_start = end = 0;
    header_written = false;
    return below.restart();
}

bool Sealed_Output::finish()
{
    if (!header_written && !write_header())
        return false;
    if (window.empty())
        window.emplace_back(size_t(chunk_size)); // an empty archive still ends in a sealed last chunk
    while (!window.empty())
        if (!seal_first_in_window(window.size() == 1))
            return false;
    return below.finish();
}
