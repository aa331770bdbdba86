#pragma once

#include <QString>

#include "core/zip_handles.h"

// A libzip source that reads a container and deciphers it on the fly, so a
// container opens as the zip archive it holds without a temporary archive on
// disk. The transform is local to each chunk, so any offset can be served.
// Returns nullptr with a reason when the container cannot be opened.
zip_source_t *create_container_source(const QString &container_path, QString *reason);

// The archive over source, which this takes over (freed on failure too), or
// nullptr with "not a container, or damaged (...)" when libzip cannot read it.
Zip_Ptr open_zip_source(zip_source_t *source, int flags, QString *reason);
