// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <filesystem>

// Removes folder and everything in it, names that are not UTF-8 and folders
// without write permission too (QDir leaves those): an archive may set any
// name and any permission bits on what it made.
inline void remove_tree(const QString &folder)
{
    namespace fs = std::filesystem;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(folder.toStdString(), ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
        if (!it->is_symlink(ec) && it->is_directory(ec))
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(folder.toStdString(), ec);
}
