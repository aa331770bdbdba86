// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/system.h"

#include <zip.h>

class Extract_Log;
class Job_Control;
class Path_Patterns;

// What the check before unpacking learnt.
struct Unpack_Check
{
    bool resuming = false;        // the destination held something already
    qint64 compressed_total = 0;  // of the entries to unpack
};

// Every entry is judged before anything is written: what cannot be unpacked
// is named in log, and the whole must fit the destination's free space. A
// file already there with its size (a run started again) needs no more room.
// With chosen, only the entries it takes count, and a pattern that takes
// none refuses the whole. False when the whole is refused.
// destination is the open folder, display its path for messages.
bool check_before_unpacking(zip_t *za, const os::Folder &destination, const os::Path &display, Job_Control &control,
                            Extract_Log &log, Unpack_Check *check, const Path_Patterns *chosen = nullptr);
