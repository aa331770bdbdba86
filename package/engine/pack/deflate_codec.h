// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>

// Raw deflate for archive entries. libdeflate compresses when the build has
// it, zlib otherwise; both give plain deflate streams any zip reader opens.
// The inflating side is Entry_Data_Reader.

// The largest piece of a file deflated in one go: big files are cut into
// pieces of this size, deflated side by side and joined into one stream.
constexpr qint64 deflate_piece_size = 4 * 1024 * 1024;

// Compressed size of a sample at the fastest level: tells text from media.
qint64 quick_compressed_size(const char *data, qint64 length);

// Deflates one piece of a file. A piece that is not the file's last ends on a
// byte boundary without a final block, so the next piece's stream continues it.
class Piece_Deflater
{
public:
    // Hands a block of deflate data on; false stops the piece.
    using Sink = std::function<bool(QByteArray block)>;

    // level 1 to 9, as zlib counts. libdeflate has 12: 1 to 6 are zlib's,
    // 7, 8 and 9 take its 8, 10 and 12 (its slowest, smallest).
    explicit Piece_Deflater(int level);
    ~Piece_Deflater();
    Piece_Deflater(const Piece_Deflater &) = delete;
    Piece_Deflater &operator=(const Piece_Deflater &) = delete;

    bool is_ready() const;
    // Takes the piece's data in order; end marks its last part, last_piece
    // that the piece ends the file.
    bool add(const char *data, qint64 length, bool end, bool last_piece, const Sink &sink);

private:
    struct State;
    std::unique_ptr<State> state;
};
