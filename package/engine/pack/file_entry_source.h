#pragma once

#include <QString>

#include <memory>

#include "core/zip_handles.h"

class Deflate_Pool;
class Input_File;
class Job_Control;
struct Planned_File;

// What the file sources of one archive share. libzip's writer reads one
// entry at a time, so the reading of a stored file and the last error live
// here, not in every source: an archive may hold millions of files. A source
// keeps nothing but its planned file, which the deflate pool holds.
struct File_Sources
{
    File_Sources(Deflate_Pool &pool, Job_Control &control);
    ~File_Sources();

    Deflate_Pool &pool;
    Job_Control &control;
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
// done. Null when libzip cannot make the source; *planned is then the kept
// planned file, whose name the caller sets to libzip's copy once libzip holds
// the entry.
Zip_Source_Ptr make_file_entry_source(File_Sources &shared, const Planned_File &file, Planned_File **planned);
