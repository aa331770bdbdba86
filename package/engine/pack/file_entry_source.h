#pragma once

#include <QString>

#include <memory>

#include "core/zip_handles.h"

class Deflate_Pool;
class Input_File;
class Job_Control;
struct File_Entry;
struct Planned_File;

// What the file sources of one archive share. libzip's writer reads one
// entry at a time, so the reading of a stored file and the last error live
// here, not in every source: an archive may hold millions of files.
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

// libzip's source for one file entry: a stored file is read here, a deflated
// one comes from the pool with its compression already done. Null when libzip
// cannot make the source; otherwise *entry is the source's state, for
// attach_file_entry() once libzip holds the entry.
Zip_Source_Ptr make_file_entry_source(File_Sources &shared, const Planned_File &file, File_Entry **entry);
// The entry is in the archive under name (libzip's copy): a deflated file
// becomes a job of the pool.
void attach_file_entry(File_Entry *entry, const char *name);
