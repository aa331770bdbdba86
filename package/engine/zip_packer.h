#pragma once

#include <QString>

// Packing: the plan of what goes into the archive, and the writer of it.
#include "archive_writer.h"
#include "pack_planner.h"

// "name.ext" -> "name (n).ext"; folders and names without an extension get " (n)" at the end.
QString numbered_name(const QString &name, int n, bool is_dir);
