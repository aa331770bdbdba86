// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

#include <memory>

class Password;

// A container protected by a password holds, inside the keyless cipher, a
// short header and the archive sealed in chunks:
//
//   header  "KVXSEAL" 0x00, version 1, key derivation 1 (Argon2id v1.3),
//           chunk size (u32), Argon2id's operations (u32) and memory in bytes
//           (u64), the salt (16 bytes): 42 bytes, integers little-endian
//   chunks  each a fresh random nonce (24 bytes), then the chunk's bytes
//           sealed by XChaCha20-Poly1305 (the bytes, then a 16-byte tag);
//           every chunk holds chunk-size bytes of the archive but the last,
//           which holds 1 to chunk-size bytes
//
// The key is Argon2id's 32 bytes from the password and salt. What each chunk
// authenticates besides its bytes is the header, the chunk's number (u64,
// from 0) and a byte that is 1 on the last chunk and 0 elsewhere: a changed
// bit, a wrong password, a chunk moved, dropped or repeated, and a cut at a
// chunk boundary all fail to open. Each sealing draws a new nonce, also
// when a chunk is sealed again after a change.
namespace sealed {

constexpr char magic[8] = {'K', 'V', 'X', 'S', 'E', 'A', 'L', '\0'};
constexpr qint64 header_size = 42;
constexpr qint64 chunk_size = 64 * 1024;
constexpr qint64 nonce_size = 24;
constexpr qint64 tag_size = 16;
constexpr qint64 stored_chunk_size = nonce_size + chunk_size + tag_size;
constexpr qint64 key_size = 32;
constexpr qint64 salt_size = 16;

// The cost of deriving a key: about half a second here, 256 MiB.
constexpr quint32 default_operations = 3;
constexpr quint64 default_memory = 256ull * 1024 * 1024;

struct Header
{
    quint32 chunk = quint32(chunk_size);
    quint32 operations = default_operations;
    quint64 memory = default_memory;
    QByteArray salt; // salt_size bytes

    QByteArray bytes() const;
    // False with a reason when data (the container's first bytes) is not a
    // header this program can use (unknown version, costs out of bounds).
    static bool parse(const QByteArray &data, Header *out, QString *reason);
    static Header fresh(); // a new random salt
};

// Whether data, the start of a deciphered container, begins with the header's magic.
bool is_sealed(const QByteArray &start);

// Where the archive's bytes are: chunk n starts at header_size + n * stored_chunk_size.
qint64 stored_offset(qint64 chunk);
// The archive's size inside a sealed region of stored bytes (after the
// header), or -1 when no chunk layout ends there.
qint64 plain_size(qint64 stored);

class Key
{
public:
    Key() = default;
    // Argon2id from the password and the header's salt and costs; false
    // when the memory it needs cannot be had.
    static bool derive(const Password &password, const Header &header, Key *out);

    bool is_set() const { return bool(key); }
    // The memory the key's derivation took, in bytes.
    quint64 derivation_memory() const { return memory; }
    // stored receives nonce_size + length + tag_size bytes, under a new random nonce.
    void seal(qint64 index, bool last, const char *plain, qint64 length, char *stored) const;
    // The same under the given nonce: only for checking the format against known bytes.
    void seal_with_nonce(qint64 index, bool last, const char *plain, qint64 length, const char *nonce,
                         char *stored) const;
    // plain receives stored_length - nonce_size - tag_size bytes; false when
    // the chunk does not open as chunk index (last or not) of this container.
    bool open(qint64 index, bool last, const char *stored, qint64 stored_length, char *plain) const;
    // Whether the chunk would open, at half the cost: only its tag is checked.
    bool check(qint64 index, bool last, const char *stored, qint64 stored_length) const;

private:
    std::shared_ptr<unsigned char> key; // locked memory, wiped when the last copy goes
    QByteArray header;                  // authenticated with every chunk
    quint64 memory = 0;

    QByteArray extra(qint64 index, bool last) const;
};

} // namespace sealed
