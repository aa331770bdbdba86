#pragma once

#include <QString>
#include <QtGlobal>

class QIODevice;
class Job_Control;

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

// Copies source to destination through the transform, from the current
// positions to the source's end. Reads and writes in large blocks but keeps
// chunk boundaries at multiples of kvx_chunk_size from the source's start.
// Returns false with a reason on a read error, a short write or a cancel.
bool run_chunk_loop(QIODevice &source, QIODevice &destination, Cipher_Direction direction,
                    Job_Control *control, QString *error);
