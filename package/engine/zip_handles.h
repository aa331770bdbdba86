#pragma once

#include <zip.h>

#include <memory>

// Owners for libzip handles, so every return path releases them.
struct Zip_Discard { void operator()(zip_t *z) const { zip_discard(z); } };
struct Zip_Source_Free { void operator()(zip_source_t *s) const { zip_source_free(s); } };
struct Zip_File_Close { void operator()(zip_file_t *f) const { zip_fclose(f); } };
using Zip_Ptr = std::unique_ptr<zip_t, Zip_Discard>;
using Zip_Source_Ptr = std::unique_ptr<zip_source_t, Zip_Source_Free>;
using Zip_File_Ptr = std::unique_ptr<zip_file_t, Zip_File_Close>;
