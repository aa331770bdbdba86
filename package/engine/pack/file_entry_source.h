#pragma once

#include "core/zip_handles.h"

class Deflate_Pool;
class Job_Control;
class QString;
struct Pack_Entry;

// libzip's source for one file entry: a stored file is read here, a deflated
// one (pool given) comes from the pool with its compression already done, as
// job's stream. The first failure's reason goes to first_error. Null when
// libzip cannot make the source.
Zip_Source_Ptr make_file_entry_source(const Pack_Entry &entry, Deflate_Pool *pool, int job, Job_Control &control,
                                 QString *first_error);
