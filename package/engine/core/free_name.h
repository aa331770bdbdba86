// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>

#include <functional>

namespace os {
class Folder;
}

// "name.ext" -> "name (n).ext"; folders and names without an extension get " (n)" at the end.
QByteArray numbered_name(const QByteArray &name, int n, bool is_dir);

// What one attempt at a name found.
enum class Name_Claim {
    Claimed,  // the name is ours now
    Taken,    // something else stands there: try the next number
    Same,     // what stands there is what we would have put there
    Rejected, // the file system cannot hold this spelling
    Failed    // give up, with the reason the attempt recorded
};

// Where claim_free_name ended.
struct Claimed_Name
{
    Name_Claim outcome = Name_Claim::Failed;
    QByteArray name;         // the name claimed, found the same, or whose attempt failed; empty when none was free
    bool portable = false;   // the name was respelled for the file system
};

// Tries name, "name (2).ext", ... up to one limit for all callers, asking
// attempt to claim each in the folder the caller holds; stops at the first
// Claimed, Same or Failed. When the file system rejects the name, the same is
// tried with its portable spelling (see portable_name()).
Claimed_Name claim_free_name(const QByteArray &name, bool is_dir,
                             const std::function<Name_Claim(const QByteArray &name)> &attempt);

// A real folder named name in parent, opened as *folder: an existing one of
// this user is shared; a name taken by a file, a link or another user's folder
// gets a numbered name, so nothing is overwritten, written through a link or
// written where someone else can swap what lies below. *created tells whether
// it was made here; on failure *error is the errno value, or 0 when no free
// name was left.
Claimed_Name claim_folder(const os::Folder &parent, const QByteArray &name, os::Folder *folder, bool *created,
                          int *error);

// Whether an attempt's errno in folder means the file system cannot hold the
// name (exFAT over FUSE says "No such file or directory" for reserved characters).
bool is_name_rejection(int error, const os::Folder &folder);
