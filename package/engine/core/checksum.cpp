// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/checksum.h"

#include "core/sizes.h"

#ifdef CORVANTA_HAVE_LIBDEFLATE
#include <libdeflate.h>
#else
#include <zlib.h>
#endif

quint32 checksum_update(quint32 crc, const char *data, qint64 length)
{
#ifdef CORVANTA_HAVE_LIBDEFLATE
    return libdeflate_crc32(crc, data, size_t(length));
#else
    // zlib takes at most 4 GiB a call.
    while (length > 0) {
        const uInt n = uInt(qMin<qint64>(length, largest_call));
        crc = quint32(crc32(crc, reinterpret_cast<const Bytef *>(data), n));
        data += n;
        length -= n;
    }
    return crc;
#endif
}
