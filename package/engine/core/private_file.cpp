// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/private_file.h"

#include "core/path_rules.h"

#include <QMutex>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSet>

#include <cerrno>

namespace {

// How many random names to try before giving up on a folder.
constexpr int temporary_name_attempts = 100;

// Set in the environment, the named fallback is used even where unnamed
// files work: lets the fallback be checked on any system.
bool named_only()
{
    return qEnvironmentVariableIsSet("CORVANTA_NAMED_TEMPORARIES");
}

bool same_file(const os::File &file, const os::Folder &folder, const QByteArray &name)
{
    os::Status a, b;
    return file.status(&a) == 0 && folder.status_of(name, &b) == 0 && a.device == b.device && a.inode == b.inode;
}

// Each folder is swept once per process, when the fallback first writes there.
void sweep_once(const os::Folder &folder)
{
    static QMutex mutex;
    static QSet<std::pair<quint64, quint64>> swept;
    os::Status st;
    if (folder.status(&st) != 0)
        return;
    {
        QMutexLocker lock(&mutex);
        if (swept.contains({st.device, st.inode}))
            return;
        swept.insert({st.device, st.inode});
    }
    remove_abandoned_temporaries(folder);
}

} // namespace

Private_File::~Private_File()
{
    discard();
}

void Private_File::discard()
{
    handle.close();
    if (hidden_folder)
        hidden_folder->remove_file(hidden_name);
    hidden_folder.reset();
}

int Private_File::create(const std::shared_ptr<const os::Folder> &folder, const QByteArray &suffix)
{
    if (!named_only() && handle.create_unnamed_in(*folder) == 0)
        return 0;
    sweep_once(*folder);
    hidden_folder = folder;
    const int error = create_hidden(suffix);
    if (error != 0)
        hidden_folder.reset();
    return error;
}

int Private_File::create(const os::Path &folder, const QByteArray &suffix)
{
    auto opened = std::make_shared<os::Folder>();
    if (const int error = opened->open(folder))
        return error;
    return create(opened, suffix);
}

int Private_File::create_hidden(const QByteArray &suffix)
{
    const os::Folder &folder = *hidden_folder;
    for (int attempt = 0; attempt < temporary_name_attempts; ++attempt) {
        const QByteArray name = ".corvanta-"
                                + QByteArray::number(QRandomGenerator::global()->generate64(), 16).rightJustified(16, '0')
                                + suffix;
        if (const int error = handle.create_new_in(folder, name)) {
            if (error == EEXIST)
                continue;
            return error;
        }
        // The lock marks the file as alive until this process ends. Without it
        // another run's sweep could remove a live file; a sweep that got in
        // before the lock removed it: take another name.
        if (const int error = handle.lock(true)) {
            folder.remove_file(name);
            handle.close();
            return error;
        }
        if (same_file(handle, folder, name)) {
            hidden_name = name;
            return 0;
        }
        handle.close();
    }
    return EEXIST;
}

int Private_File::publish(const os::Folder &folder, const QByteArray &name)
{
    if (!hidden_folder)
        return handle.link_unnamed_in(folder, name);
    const int error = publish_hidden(name);
    if (error == 0)
        hidden_folder.reset();
    return error;
}

int Private_File::publish(const os::Path &path)
{
    if (hidden_folder)
        return publish(*hidden_folder, leaf_of(path));
    os::Folder folder;
    if (const int error = folder.open(parent_of(path)))
        return error;
    return publish(folder, leaf_of(path));
}

int Private_File::publish_hidden(const QByteArray &name)
{
    const os::Folder &folder = *hidden_folder;
    int error = folder.link_file(hidden_name, name);
    // File systems without hard links may still rename without replacing.
    if (error != 0 && error != EEXIST)
        error = folder.rename_no_replace(hidden_name, name);
    if (error == EINVAL || error == ENOSYS || error == EPERM || error == EOPNOTSUPP) {
        // Neither is there: claim the name with an empty file of our own, then
        // replace only that.
        os::File claim;
        error = claim.create_new_in(folder, name);
        if (error == 0) {
            claim.close();
            error = folder.rename_file(hidden_name, name);
            if (error != 0)
                folder.remove_file(name);
        }
        return error;
    }
    if (error == 0)
        folder.remove_file(hidden_name); // the link left the hidden name behind
    return error;
}

void remove_abandoned_temporaries(const os::Folder &folder)
{
    static const QRegularExpression ours(QStringLiteral("^\\.corvanta-[0-9a-f]{16}\\."));
    std::vector<QByteArray> names;
    folder.list(&names);
    for (const QByteArray &name : names) {
        if (!ours.match(QString::fromLatin1(name)).hasMatch())
            continue;
        os::File file;
        os::Status st;
        if (folder.status_of(name, &st) != 0 || st.kind != os::Kind::File || file.open_read_in(folder, name) != 0)
            continue;
        // A living run holds its lock; only an abandoned file can be locked.
        if (file.lock(false) == 0 && same_file(file, folder, name))
            folder.remove_file(name);
    }
}

void remove_abandoned_temporaries(const os::Path &folder)
{
    os::Folder opened;
    if (opened.open(folder) == 0)
        remove_abandoned_temporaries(opened);
}
