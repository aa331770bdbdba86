#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>

#include <zip.h>

// Raw deflate for archive entries. libdeflate compresses and ISA-L inflates
// when the build has them; zlib (and libzip's own reading) otherwise. Both
// give plain deflate streams any zip reader opens.

// The largest piece of a file deflated in one go: big files are cut into
// pieces of this size, deflated side by side and joined into one stream.
constexpr qint64 deflate_piece_size = 4 * 1024 * 1024;

quint32 checksum_update(quint32 crc, const char *data, qint64 length);

// Compressed size of a sample at the fastest level: tells text from media.
qint64 quick_compressed_size(const char *data, qint64 length);

// Deflates one piece of a file. A piece that is not the file's last ends on a
// byte boundary without a final block, so the next piece's stream continues it.
class Piece_Deflater
{
public:
    // Hands a block of deflate data on; false stops the piece.
    using Sink = std::function<bool(QByteArray block)>;

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

// Reads one entry's data like zip_fread, checking its size and checksum. A
// deflated entry is inflated here from its raw data when a faster inflater is
// built in; anything else goes through libzip.
class Entry_Reader
{
public:
    Entry_Reader(zip_t *archive, zip_uint64_t index);
    ~Entry_Reader();
    Entry_Reader(const Entry_Reader &) = delete;
    Entry_Reader &operator=(const Entry_Reader &) = delete;

    bool is_open() const;
    // Bytes read, 0 at the end (after the checks passed), -1 with error().
    qint64 read(char *buffer, qint64 length);
    // Closes the entry; false with error() when libzip finds a fault.
    bool close();
    QString error() const { return reason; }

private:
    struct Fast;
    zip_t *archive;
    zip_file_t *file = nullptr;
    std::unique_ptr<Fast> fast;
    QString reason;
};
