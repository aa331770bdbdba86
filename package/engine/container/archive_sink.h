// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include "core/zip_handles.h"

class Archive_Target;

// A new archive that libzip writes through output, straight into the
// caller's file: libzip makes no temporary file of its own. Null with *error
// (naming archive_name) when libzip cannot start.
Zip_Ptr create_archive(Archive_Target &output, const QString &archive_name, QString *error);
