// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QtGlobal>

// Sizes the engine's readers and writers share.

// One read or write of file data: large enough that system calls cost
// little, small enough to keep two threads' buffers in the cache.
constexpr qint64 io_block = 256 * 1024;

// The most one call to zlib, libzip or the system is handed, so that every
// count fits the narrower types some of them use.
constexpr qint64 largest_call = qint64(1) << 30;
