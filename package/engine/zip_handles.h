#pragma once

#include <memory>

#include <zip.h>

// Owners for libzip's handles, so every early return releases them.
struct Zip_Discard
{
    void operator()(zip_t *archive) const { zip_discard(archive); }
};

struct Zip_Source_Free
{
    void operator()(zip_source_t *source) const { zip_source_free(source); }
};

struct Zip_File_Close
{
    void operator()(zip_file_t *file) const { zip_fclose(file); }
};

using Zip_Ptr = std::unique_ptr<zip_t, Zip_Discard>;
using Zip_Source_Ptr = std::unique_ptr<zip_source_t, Zip_Source_Free>;
using Zip_File_Ptr = std::unique_ptr<zip_file_t, Zip_File_Close>;
