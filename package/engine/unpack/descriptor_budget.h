// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <algorithm>
#include <cstddef>

// What an unpacking spends the descriptors the process may hold on: folders
// kept open and files waiting to be named. Set aside first: standard
// streams, the container, the signal pipe and what the libraries keep; for
// each unpacking thread a file being written, one being compared and its
// folder; as much for the naming thread and for the thread that makes
// folders. However low the limit, two of each: slower, never stopped.
struct Descriptor_Budget
{
    size_t folders;
    size_t waiting_files;
};

inline Descriptor_Budget budget_for(int allowed, int unpacking_threads)
{
    const int spare = allowed - 12 - 3 * (unpacking_threads + 2);
    const int folders = std::clamp(spare / 4, 2, 256);
    return {size_t(folders), size_t(std::clamp(spare - folders, 2, 4096))};
}
