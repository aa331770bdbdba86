// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <zip.h>

#include <memory>
#include <new>
#include <system_error>

// Owners for libzip handles, so every return path releases them.
struct Zip_Discard { void operator()(zip_t *z) const { zip_discard(z); } };
struct Zip_Source_Free { void operator()(zip_source_t *s) const { zip_source_free(s); } };
struct Zip_File_Close { void operator()(zip_file_t *f) const { zip_fclose(f); } };
using Zip_Ptr = std::unique_ptr<zip_t, Zip_Discard>;
using Zip_Source_Ptr = std::unique_ptr<zip_source_t, Zip_Source_Free>;
using Zip_File_Ptr = std::unique_ptr<zip_file_t, Zip_File_Close>;

// libzip is C: nothing may be thrown through it. Running out of memory (or
// of threads) inside a callback becomes libzip's own error instead.
template <typename Answer>
zip_int64_t answer_without_throwing(zip_error_t *error, Answer &&answer) noexcept
{
    try {
        return answer();
    } catch (const std::bad_alloc &) {
        zip_error_set(error, ZIP_ER_MEMORY, 0);
    } catch (const std::system_error &) {
        zip_error_set(error, ZIP_ER_MEMORY, 0);
    }
    return -1;
}

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

// ZIP_SOURCE_STAT: an empty stat with the size (when known) filled in; the
// caller may add more. Null, with the error set, when data is too small.
inline zip_stat_t *answer_stat(void *data, zip_uint64_t length, zip_error_t *error, zip_int64_t size)
{
    zip_stat_t *st = ZIP_SOURCE_GET_ARGS(zip_stat_t, data, length, error);
    if (!st)
        return nullptr;
    zip_stat_init(st);
    if (size >= 0) {
        st->valid = ZIP_STAT_SIZE;
        st->size = zip_uint64_t(size);
    }
    return st;
}

// ZIP_SOURCE_SEEK and ZIP_SOURCE_SEEK_WRITE: moves *position within size.
inline zip_int64_t answer_seek(zip_int64_t *position, zip_int64_t size, void *data, zip_uint64_t length,
                               zip_error_t *error)
{
    const zip_int64_t to = zip_source_seek_compute_offset(zip_uint64_t(*position), zip_uint64_t(size), data, length,
                                                          error);
    if (to < 0)
        return -1;
    *position = to;
    return 0;
}
