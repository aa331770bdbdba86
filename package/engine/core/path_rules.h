// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "package_pipeline.h" // display_path()

#include <QByteArray>
#include <QString>

// The rules for paths inside an archive, shared by packing (which warns
// about what unpacking would refuse), testing (which judges by them) and
// unpacking (which refuses). Paths are bytes, "/" separated.

bool is_valid_utf8(const QByteArray &bytes);

// A name stored by a DOS or Windows tool without the UTF-8 flag: UTF-8 when
// it is valid UTF-8, else GBK, the code page of Chinese-language Windows.
// Backslashes become separators only after decoding, since a GBK character
// may end in 0x5C. The result is the UTF-8 bytes the file system gets.
QByteArray windows_name_to_path(const QByteArray &raw);

// The entry's path below the destination with "." and empty parts dropped,
// or an empty path when the name must not be extracted: absolute, or
// climbing out with "..".
QByteArray safe_relative_path(const QByteArray &name);

// A link at link_path (relative to the destination) may point anywhere
// inside the destination: its target, resolved lexically from the link's
// folder, must name something below the destination. A ".." after a name is
// refused: the name may be another link, and climbing out of a link's target
// is not what the lexical reading assumes. Absolute targets are refused.
bool link_target_is_safe(const QByteArray &link_path, const QByteArray &target);

// A spelling of name that FAT and exFAT accept: their reserved characters,
// control characters and bytes that are not UTF-8 become "_", and so do
// trailing dots and spaces. The same name when there is nothing to change.
QByteArray portable_name(const QByteArray &name);

// The last part of a path, and the path before it (empty at the top).
QByteArray leaf_of(const QByteArray &path);
QByteArray parent_of(const QByteArray &path);
