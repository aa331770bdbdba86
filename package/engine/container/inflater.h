// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

#include <memory>

// Raw deflate streams, as zip entries hold them, inflated a step at a time:
// with ISA-L when the build has it, with zlib otherwise.
class Stream_Inflater
{
public:
    Stream_Inflater();
    ~Stream_Inflater();
    Stream_Inflater(const Stream_Inflater &) = delete;
    Stream_Inflater &operator=(const Stream_Inflater &) = delete;

    bool is_ready() const;
    // Whether the input given so far is used up.
    bool needs_input() const;
    // The next input; it must stay where it is until used up. last: no more comes.
    void give(const unsigned char *data, qint64 length, bool last);
    // One step into out. False when the data is damaged: not deflate, or
    // ending inside the stream. Otherwise *made bytes were made and *ended
    // tells whether the stream is complete.
    bool step(char *out, qint64 length, qint64 *made, bool *ended);

private:
    struct State;
    std::unique_ptr<State> state;
};

// Whether inflate_whole() is built in (libdeflate) and worth it for a stream
// that inflates to size from compressed_size bytes: it holds both in memory.
bool whole_inflate_fits(qint64 size, qint64 compressed_size);
// Inflates raw into *out, at most size bytes (what comes out beyond is
// dropped, and shows as a wrong size). False when the data is damaged.
bool inflate_whole(const QByteArray &raw, qint64 size, QByteArray *out);
