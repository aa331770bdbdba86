// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <zip.h>

struct Archive_Entry;
class Extract_Folders;
class Extract_Log;

// Makes the link entry e in its folder, made relative to the folder's
// handle, its target read from the archive za. A link already there with the
// same target counts as already there; a name taken by anything else gets
// the next free number. What happens goes into log.
void extract_link(zip_t *za, const Archive_Entry &e, Extract_Folders &folders, Extract_Log &log);
