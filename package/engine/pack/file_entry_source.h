// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <deque>
#include <memory>

#include "core/zip_handles.h"
#include "pack/input_file.h"

class Deflate_Pool;
class Job_Control;

// What the file sources of one archive share. libzip's writer reads one
// entry at a time, so the reading of a stored file and the last error live
// here, not in every source: an archive may hold millions of files. A source
// keeps nothing but its planned file, which lives here too.
struct File_Sources
{
    File_Sources(Deflate_Pool &pool, Job_Control &control);
    ~File_Sources();

    Deflate_Pool &pool;
    Job_Control &control;
    // Every file entry's plan, stored or deflated, in archive order: the one
    // thing kept per file while the archive is written (48 bytes each). Each
    // stays put, for its source and the pool, until these sources go.
    std::deque<Planned_File> planned;
    QString first_error; // the first failure's reason
    zip_error_t error;
    std::unique_ptr<Input_File> input; // the stored file being read
    qint64 read_so_far = 0;
};

// libzip calls the sources on the thread that adds the entries and writes
// the archive; while this lives there, they use these shared parts.
class File_Sources_In_Use
{
public:
    explicit File_Sources_In_Use(File_Sources &sources);
    ~File_Sources_In_Use();

private:
    File_Sources *previous;
};

// libzip's source for one file entry, planned as file: a stored file is read
// here, a deflated one comes from the pool with its compression already
// done. *planned is the kept planned file, whose name the caller sets to
// libzip's copy once libzip holds the entry. Null when libzip cannot make the
// source.
Zip_Source_Ptr make_file_entry_source(File_Sources &shared, const Planned_File &file, Planned_File **planned);
