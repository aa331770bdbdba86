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

// What every source callback of ours answers alike: its error, its end, and
// "not supported" for anything else. The state keeps its zip_error_t in `error`.
template <typename State>
zip_int64_t answer_common_command(State *state, void *data, zip_uint64_t length, zip_source_cmd_t command)
{
    switch (command) {
    case ZIP_SOURCE_ERROR:
        return zip_error_to_data(&state->error, data, length);
    case ZIP_SOURCE_FREE:
        delete state;
        return 0;
    default:
        zip_error_set(&state->error, ZIP_ER_OPNOTSUPP, 0);
        return -1;
    }
}
