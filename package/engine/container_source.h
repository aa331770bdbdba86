#pragma once

#include <QString>

#include <zip.h>

// A libzip source that reads a container and deciphers it on the fly, so a
// container opens as the zip archive it holds without a temporary archive on
// disk. The transform is local to each chunk, so any offset can be served.
// Returns nullptr with a reason when the container cannot be opened.
zip_source_t *create_container_source(const QString &container_path, QString *reason);
