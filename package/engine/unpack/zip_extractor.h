// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "container/container_source.h"
#include "platform/system.h"
#include "unpack/extract_log.h"

#include <memory>

class Job_Control;
class Path_Patterns;

// Extracts every entry of the archive into destination, an open folder
// (display is its path, for messages): everything is made relative to it.
// The archive is judged first (container_source.h) and refused whole, before
// anything is written, when its structure is damaged or its files do not fit
// the free space. Then every sound entry is unpacked and each damaged one
// named. Nothing in the destination is overwritten: a name taken by a
// different file gets "name (2).ext", one taken by the same content counts
// as already there. Each file appears under its final name only when
// complete and on disk. Links are made last, and only when their target
// stays inside the destination. progress_budget bytes are advanced on
// control across the extraction. With chosen, only the entries it takes are
// unpacked, and a pattern that takes none fails it before anything is written.
// False when anything failed or the run was cancelled.
bool extract_archive(const Archive_Opener &open_source, const std::shared_ptr<const os::Folder> &destination,
                     const os::Path &display, Job_Control &control, qint64 progress_budget, Extract_Report *report,
                     const Path_Patterns *chosen = nullptr);
