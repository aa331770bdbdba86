// SPDX-License-Identifier: GPL-3.0-or-later
#include "unpack/extract_links.h"

#include "container/archive_entries.h"
#include "container/entry_data_reader.h"
#include "core/free_name.h"
#include "core/path_rules.h"
#include "unpack/extract_folders.h"
#include "unpack/extract_log.h"

#include <cerrno>

void extract_link(zip_t *za, const Archive_Entry &e, Extract_Folders &folders, Extract_Log &log)
{
    const Extract_Folders::Id id = folders.folder_for(parent_of(e.path));
    if (id == Extract_Folders::none)
        return;
    int failure = 0;
    const std::shared_ptr<const os::Folder> folder = folders.open_for(id, leaf_of(e.path), &failure);
    if (!folder) {
        log.error(QStringLiteral("%1: cannot create the link: %2").arg(e.display(), os::reason(failure)), parent_of(e.path));
        return;
    }
    QByteArray target;
    QString problem;
    if (!read_link_target(za, e, nullptr, &target, &problem)) {
        log.error(QStringLiteral("%1: %2").arg(e.display(), problem), parent_of(e.path));
        return;
    }
    const Claimed_Name made = claim_free_name(leaf_of(e.path), false, [&](const QByteArray &name) {
        failure = folder->make_symlink(target, name);
        if (failure == 0)
            return Name_Claim::Claimed;
        QByteArray existing;
        if (failure == EEXIST)
            return folder->read_link(name, &existing) == 0 && existing == target ? Name_Claim::Same : Name_Claim::Taken;
        return is_name_rejection(failure, *folder) ? Name_Claim::Rejected : Name_Claim::Failed;
    });
    if (made.outcome == Name_Claim::Same) {
        log.already_there();
        return;
    }
    if (made.outcome != Name_Claim::Claimed) {
        log.error(QStringLiteral("%1: cannot create the link: %2").arg(e.display(), os::reason(failure)), parent_of(e.path));
        return;
    }
    log.written();
    if (made.portable)
        log.respelled(e.display(), made.name);
    if (e.has_time)
        if (const int error = folder->set_time_of(made.name, e.mtime))
            log.warning(QStringLiteral("%1: cannot set its time: %2").arg(e.display(), os::reason(error)));
}
