#pragma once

#include <QString>

#include <functional>

// "name.ext" -> "name (n).ext"; folders and names without an extension get " (n)" at the end.
QString numbered_name(const QString &name, int n, bool is_dir);

// What one attempt at a name found.
enum class Name_Claim { Claimed, Taken, Failed };

// Where claim_free_name ended: the claimed path, or the path whose attempt
// failed; empty when every name up to the limit was taken.
struct Claimed_Name
{
    bool ok = false;
    QString path;
};

// Tries folder/name, folder/"name (2).ext", ... up to one limit for all
// callers, asking attempt to claim each; stops at the first Claimed or Failed.
Claimed_Name claim_free_name(const QString &folder, const QString &name, bool is_dir,
                             const std::function<Name_Claim(const QString &path)> &attempt);

// A real folder named name in parent: an existing one is shared, a name taken
// by a file or a link gets a numbered name, so nothing is overwritten or
// written through a link. *created tells whether it was made here; on failure
// *reason is the system's reason, or "no free name" (the result's path empty).
Claimed_Name claim_folder(const QString &parent, const QString &name, bool *created, QString *reason);
