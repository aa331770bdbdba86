// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/free_name.h"

#include "core/path_rules.h"
#include "platform/system.h"

#include <cerrno>

namespace {

constexpr int max_numbered_names = 10000;

Claimed_Name claim_spelling(const QByteArray &name, bool is_dir,
                            const std::function<Name_Claim(const QByteArray &name)> &attempt)
{
    for (int n = 1; n <= max_numbered_names; ++n) {
        const QByteArray candidate = n == 1 ? name : numbered_name(name, n, is_dir);
        const Name_Claim outcome = attempt(candidate);
        if (outcome != Name_Claim::Taken)
            return {outcome, candidate, false};
    }
    return {Name_Claim::Failed, QByteArray(), false};
}

// The folder candidate in parent, made when missing; Taken where a file, a
// link or another user's folder stands.
Name_Claim open_or_make(const os::Folder &parent, const QByteArray &candidate, os::Folder *folder, bool *created,
                        int *error)
{
    bool made = false;
    // A third look only when others keep making and removing the name.
    for (int look = 0; look < 3; ++look) {
        *error = folder->open_in(parent, candidate);
        if (*error == 0) {
            os::Status st;
            if (folder->status(&st) != 0 || st.owner != os::user_id()) {
                folder->close();
                *error = 0;
                return Name_Claim::Taken;
            }
            *created = made;
            return Name_Claim::Claimed;
        }
        if (*error == ELOOP || *error == ENOTDIR) {
            *error = 0;
            return Name_Claim::Taken;
        }
        if (made)
            return Name_Claim::Failed; // removed as soon as it was made
        if (*error != ENOENT)
            break;
        *error = parent.make_folder(candidate);
        // EEXIST: another run made it just now, shared like any existing folder of ours.
        if (*error != 0 && *error != EEXIST)
            break;
        made = *error == 0;
    }
    return is_name_rejection(*error, parent) ? Name_Claim::Rejected : Name_Claim::Failed;
}

} // namespace

QByteArray numbered_name(const QByteArray &name, int n, bool is_dir)
{
    const QByteArray suffix = " (" + QByteArray::number(n) + ')';
    const qsizetype dot = is_dir ? -1 : name.lastIndexOf('.');
    if (dot <= 0)
        return name + suffix;
    return name.left(dot) + suffix + name.mid(dot);
}

bool is_name_rejection(int error, const os::Folder &folder)
{
    if (error == EINVAL || error == EILSEQ)
        return true;
    // ENOENT is a rejection only while the folder itself is still there.
    os::Status st;
    return error == ENOENT && folder.status(&st) == 0 && st.links > 0;
}

Claimed_Name claim_free_name(const QByteArray &name, bool is_dir,
                             const std::function<Name_Claim(const QByteArray &name)> &attempt)
{
    const Claimed_Name claimed = claim_spelling(name, is_dir, attempt);
    const QByteArray portable = portable_name(name);
    if (claimed.outcome != Name_Claim::Rejected || portable == name)
        return claimed;
    Claimed_Name respelled = claim_spelling(portable, is_dir, attempt);
    respelled.portable = true;
    if (respelled.outcome == Name_Claim::Rejected)
        respelled.outcome = Name_Claim::Failed;
    return respelled;
}

Claimed_Name claim_folder(const os::Folder &parent, const QByteArray &name, os::Folder *folder, bool *created,
                          int *error)
{
    *created = false;
    *error = 0;
    const Claimed_Name claimed = claim_free_name(name, true, [&](const QByteArray &candidate) {
        return open_or_make(parent, candidate, folder, created, error);
    });
    if (claimed.outcome == Name_Claim::Claimed)
        *error = 0;
    return claimed;
}
