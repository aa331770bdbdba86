#pragma once

#include <QString>

#include "pack/pack_planner.h"
#include "platform/system.h"

class Deflate_Pool;
class Job_Control;

// Writes the plan as a zip archive to archive_path (replacing that file,
// which the caller owns). Deflates on worker threads ahead of libzip's writer.
// A file that differs from the plan while it is read fails the run.
bool write_archive(const Pack_Plan &plan, const os::Path &archive_path, Job_Control &control, QString *error);
enum class Archive_Form { Plain, Enciphered };
// The same into a file the caller has open read-write, as a plain zip or
// enciphered as a container; libzip makes no temporary file of its own.
// The pool holds the plan's deflated files as its jobs, in plan order, and
// may have started on them while the plan was made. archive_name names the
// file in errors.
//
// Each entry carries what unpacking needs to give it back exactly: its name
// in bytes (flagged UTF-8 when it is valid UTF-8), its time in UTC seconds
// (extended timestamp, or the NTFS field for times before 1970 or past 2038)
// beside a DOS time clamped to what DOS can hold, and its Unix type and mode,
// repeated with a checksum in the local header so damage to either shows.
bool write_archive(const Pack_Plan &plan, Deflate_Pool &pool, os::File &archive, const QString &archive_name,
                   Archive_Form form, Job_Control &control, QString *error);
