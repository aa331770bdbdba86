// SPDX-License-Identifier: GPL-3.0-or-later
#include "container/sealed_chunks.h"

#include "password.h"

#include <QtEndian>

#include <sodium.h>

#include <cstring>
#include <new>

namespace sealed {

namespace {

constexpr quint8 format_version = 1;
constexpr quint8 argon2id13 = 1;
// Costs a header may ask for: enough for years to come, never enough to hang the machine.
constexpr quint32 most_operations = 64;
constexpr quint64 most_memory = 4ull * 1024 * 1024 * 1024;

} // namespace

QByteArray Header::bytes() const
{
    QByteArray out(header_size, '\0');
    char *p = out.data();
    std::memcpy(p, magic, sizeof magic);
    p[8] = char(format_version);
    p[9] = char(argon2id13);
    qToLittleEndian<quint32>(chunk, p + 10);
    qToLittleEndian<quint32>(operations, p + 14);
    qToLittleEndian<quint64>(memory, p + 18);
    std::memcpy(p + 26, salt.constData(), size_t(salt_size));
    return out;
}

bool Header::parse(const QByteArray &data, Header *out, QString *reason)
{
    if (data.size() < header_size || !is_sealed(data)) {
        *reason = QStringLiteral("not a container, or damaged (no password header)");
        return false;
    }
    const char *p = data.constData();
    if (quint8(p[8]) != format_version || quint8(p[9]) != argon2id13) {
        *reason = QStringLiteral("protected in a way this version does not know (format %1, key derivation %2)")
                      .arg(quint8(p[8]))
                      .arg(quint8(p[9]));
        return false;
    }
    out->chunk = qFromLittleEndian<quint32>(p + 10);
    out->operations = qFromLittleEndian<quint32>(p + 14);
    out->memory = qFromLittleEndian<quint64>(p + 18);
    out->salt = data.mid(26, salt_size);
    if (out->chunk != chunk_size || out->operations < crypto_pwhash_OPSLIMIT_MIN || out->operations > most_operations
        || out->memory < crypto_pwhash_MEMLIMIT_MIN || out->memory > most_memory) {
        *reason = QStringLiteral("not a container, or damaged (its password header is out of bounds)");
        return false;
    }
    return true;
}

Header Header::fresh()
{
    if (sodium_init() < 0)
        throw std::bad_alloc();
    Header h;
    h.salt.resize(salt_size);
    randombytes_buf(h.salt.data(), size_t(salt_size));
    return h;
}

bool is_sealed(const QByteArray &start)
{
    return start.size() >= qsizetype(sizeof magic) && std::memcmp(start.constData(), magic, sizeof magic) == 0;
}

qint64 stored_offset(qint64 chunk)
{
    return header_size + chunk * stored_chunk_size;
}

qint64 plain_size(qint64 stored)
{
    if (stored <= 0)
        return stored == 0 ? 0 : -1;
    const qint64 whole = (stored - 1) / stored_chunk_size; // chunks before the last
    const qint64 last = stored - whole * stored_chunk_size;
    if (last <= nonce_size + tag_size)
        return -1;
    return whole * chunk_size + last - nonce_size - tag_size;
}

bool Key::derive(const Password &password, const Header &header, Key *out)
{
    if (sodium_init() < 0)
        return false;
    auto *bytes = static_cast<unsigned char *>(sodium_malloc(size_t(key_size)));
    if (!bytes)
        return false;
    std::shared_ptr<unsigned char> key(bytes, [](unsigned char *k) { sodium_free(k); });
    if (crypto_pwhash(key.get(), key_size, password.data(), quint64(password.size()),
                      reinterpret_cast<const unsigned char *>(header.salt.constData()), header.operations,
                      size_t(header.memory), crypto_pwhash_ALG_ARGON2ID13)
        != 0)
        return false;
    out->key = std::move(key);
    out->header = header.bytes();
    out->memory = header.memory;
    return true;
}

QByteArray Key::extra(qint64 index, bool last) const
{
    QByteArray ad = header;
    ad.resize(header_size + 9);
    qToLittleEndian<quint64>(quint64(index), ad.data() + header_size);
    ad[header_size + 8] = last ? 1 : 0;
    return ad;
}

void Key::seal(qint64 index, bool last, const char *plain, qint64 length, char *stored) const
{
    char nonce[nonce_size];
    randombytes_buf(nonce, sizeof nonce);
    seal_with_nonce(index, last, plain, length, nonce, stored);
}

void Key::seal_with_nonce(qint64 index, bool last, const char *plain, qint64 length, const char *nonce,
                          char *stored) const
{
    auto *out = reinterpret_cast<unsigned char *>(stored);
    std::memcpy(out, nonce, size_t(nonce_size));
    const QByteArray ad = extra(index, last);
    crypto_aead_xchacha20poly1305_ietf_encrypt(out + nonce_size, nullptr, reinterpret_cast<const unsigned char *>(plain),
                                               quint64(length), reinterpret_cast<const unsigned char *>(ad.constData()),
                                               quint64(ad.size()), nullptr, out, key.get());
}

bool Key::open(qint64 index, bool last, const char *stored, qint64 stored_length, char *plain) const
{
    if (stored_length < nonce_size + tag_size)
        return false;
    const auto *in = reinterpret_cast<const unsigned char *>(stored);
    const QByteArray ad = extra(index, last);
    return crypto_aead_xchacha20poly1305_ietf_decrypt(
               reinterpret_cast<unsigned char *>(plain), nullptr, nullptr, in + nonce_size,
               quint64(stored_length - nonce_size), reinterpret_cast<const unsigned char *>(ad.constData()),
               quint64(ad.size()), in, key.get())
           == 0;
}

bool Key::check(qint64 index, bool last, const char *stored, qint64 stored_length) const
{
    if (stored_length < nonce_size + tag_size)
        return false;
    const auto *in = reinterpret_cast<const unsigned char *>(stored);
    const QByteArray ad = extra(index, last);
    // Given nowhere to put the bytes, libsodium computes and compares the tag and stops there.
    return crypto_aead_xchacha20poly1305_ietf_decrypt_detached(
               nullptr, nullptr, in + nonce_size, quint64(stored_length - nonce_size - tag_size),
               in + stored_length - tag_size, reinterpret_cast<const unsigned char *>(ad.constData()),
               quint64(ad.size()), in, key.get())
           == 0;
}

} // namespace sealed
