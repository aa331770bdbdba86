// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QtGlobal>

// CRC-32 as zip uses it: libdeflate's when the build has it, zlib's otherwise.
quint32 checksum_update(quint32 crc, const char *data, qint64 length);
