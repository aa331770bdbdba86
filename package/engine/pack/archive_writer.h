// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <memory>
#include <utility>

#include "container/archive_output.h"
#include "container/sealed_output.h"
#include "core/zip_handles.h"
#include "pack/deflate_pool.h"
#include "pack/file_entry_source.h"
#include "pack/pack_planner.h"
#include "platform/system.h"

class Job_Control;

enum class Archive_Form { Plain, Enciphered };

// A password's key and the header it goes with, for a protected container.
struct Archive_Sealing
{
    sealed::Header header;
    sealed::Key key;
};

// Writes a zip archive into a file the caller has open read-write, as a plain
// zip or enciphered as a container. Entries are added as the walk finds them;
// files are deflated on worker threads from then on, ahead of libzip's
// writer, which writes everything when the archive is finished. A file that
// differs from the plan while it is read fails the writing.
//
// Each entry carries what unpacking needs to give it back exactly: its name
// in bytes (flagged UTF-8 when it is valid UTF-8), its time in UTC seconds
// (extended timestamp, or the NTFS field for times before 1970 or past 2038)
// in the local header and the central directory, beside a DOS time clamped to
// what DOS can hold, and its Unix type and mode with the DOS attributes that
// name the same type, so damage to either shows.
class Archive_Writer
{
public:
    // archive_name names the file in errors; with sealing the archive is
    // sealed under its key inside the container.
    Archive_Writer(os::File &archive, const QString &archive_name, Archive_Form form, Job_Control &control,
                   const Archive_Sealing *sealing = nullptr);
    ~Archive_Writer();

    // Each is false with error() on a failure.
    bool open();
    // 1 to 9 for every deflated file instead of the pool's own choice; before open().
    void set_level(int level) { pool.set_level(level); }
    bool add(const Pack_Entry &entry);
    // Writes the archive whole.
    bool finish();
    QString error() const { return failure; }

private:
    QString archive_name;
    Job_Control &control;
    Archive_Output output;
    std::unique_ptr<Sealed_Output> sealed_output;
    Deflate_Pool pool;
    File_Sources sources{pool, control};
    Zip_Ptr za;
    QString failure;
    std::pair<qint64, qint64> dos_times; // what DOS's time field can hold

    bool failed(const QString &what);
    zip_int64_t add_file(const Pack_Entry &e);
    zip_int64_t add_link(const Pack_Entry &e);
};

// The plan as a plain zip at archive_path (replacing that file, which the caller owns).
bool write_archive(const Pack_Plan &plan, const os::Path &archive_path, Job_Control &control, QString *error);
