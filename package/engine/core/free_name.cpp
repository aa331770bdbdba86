#include "core/free_name.h"

#include "core/path_rules.h"
#include "platform/system.h"

#include <cerrno>

namespace {

constexpr int max_numbered_names = 10000;

Claimed_Name claim_spelling(const QByteArray &folder, const QByteArray &name, bool is_dir,
                            const std::function<Name_Claim(const QByteArray &path)> &attempt)
{
    for (int n = 1; n <= max_numbered_names; ++n) {
        const QByteArray path = folder + '/' + (n == 1 ? name : numbered_name(name, n, is_dir));
        const Name_Claim outcome = attempt(path);
        if (outcome != Name_Claim::Taken)
            return {outcome, path, false};
    }
    return {Name_Claim::Failed, QByteArray(), false};
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

bool is_name_rejection(int error, const QByteArray &path)
{
    if (error == EINVAL || error == EILSEQ)
        return true;
    // ENOENT is a rejection only where the folder itself is there.
    os::Status folder;
    return error == ENOENT && os::status(parent_of(path), true, &folder) == 0 && folder.kind == os::Kind::Folder;
}

Claimed_Name claim_free_name(const QByteArray &folder, const QByteArray &name, bool is_dir,
                             const std::function<Name_Claim(const QByteArray &path)> &attempt)
{
    const Claimed_Name claimed = claim_spelling(folder, name, is_dir, attempt);
    const QByteArray portable = portable_name(name);
    if (claimed.outcome != Name_Claim::Rejected || portable == name)
        return claimed;
    Claimed_Name respelled = claim_spelling(folder, portable, is_dir, attempt);
    respelled.portable = true;
    if (respelled.outcome == Name_Claim::Rejected)
        respelled.outcome = Name_Claim::Failed;
    return respelled;
}

Claimed_Name claim_folder(const QByteArray &parent, const QByteArray &name, bool *created, int *error)
{
    *created = false;
    *error = 0;
    const Claimed_Name claimed = claim_free_name(parent, name, true, [&](const QByteArray &candidate) {
        os::Status st;
        os::status(candidate, false, &st);
        if (st.kind == os::Kind::Folder)
            return Name_Claim::Claimed;
        if (st.kind != os::Kind::Missing)
            return Name_Claim::Taken;
        *error = os::make_folder(candidate);
        if (*error == 0) {
            *created = true;
            return Name_Claim::Claimed;
        }
        if (*error == EEXIST) {
            // Another run made it just now: shared like any existing folder.
            os::status(candidate, false, &st);
            return st.kind == os::Kind::Folder ? Name_Claim::Claimed : Name_Claim::Taken;
        }
        return is_name_rejection(*error, candidate) ? Name_Claim::Rejected : Name_Claim::Failed;
    });
    if (claimed.outcome == Name_Claim::Claimed)
        *error = 0;
    return claimed;
}
