// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QtGlobal>

// The container's keyless byte transform. A file is cut into chunks of
// kvx_chunk_size bytes from its first byte; each chunk is mirrored and every
// byte mapped, except the middle byte of an odd-length last chunk.
constexpr qint32 kvx_chunk_size = 5120;

void encrypt_chunk(unsigned char *buffer, qint32 length);
void decrypt_chunk(unsigned char *buffer, qint32 length);
inline void encrypt_chunk(char *buffer, qint32 length)
{
    encrypt_chunk(reinterpret_cast<unsigned char *>(buffer), length);
}
inline void decrypt_chunk(char *buffer, qint32 length)
{
    decrypt_chunk(reinterpret_cast<unsigned char *>(buffer), length);
}

enum class Cipher_Direction { Encrypt, Decrypt };

// Transforms a block that starts on a chunk boundary: whole chunks, then a
// shorter last chunk if the block is not a multiple of the chunk size.
void transform_chunks(unsigned char *data, qint64 length, Cipher_Direction direction);
