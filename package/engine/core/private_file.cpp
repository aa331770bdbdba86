#include "core/private_file.h"

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

bool same_file(const os::File &file, const os::Path &path)
{
    os::Status a, b;
    return file.status(&a) == 0 && os::status(path, false, &b) == 0 && a.device == b.device && a.inode == b.inode;
}

// Each folder is swept once per process, when the fallback first writes there.
void sweep_once(const os::Path &folder)
{
    static QMutex mutex;
    static QSet<os::Path> swept;
    {
        QMutexLocker lock(&mutex);
        if (swept.contains(folder))
            return;
        swept.insert(folder);
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
    if (!hidden_path.isEmpty())
        os::remove_file(hidden_path);
    hidden_path.clear();
}

int Private_File::create(const os::Path &folder, const QByteArray &suffix)
{
    if (!named_only() && handle.create_unnamed(folder) == 0)
        return 0;
    sweep_once(folder);
    return create_hidden(folder, suffix);
}

int Private_File::create_hidden(const os::Path &folder, const QByteArray &suffix)
{
    for (int attempt = 0; attempt < temporary_name_attempts; ++attempt) {
        const os::Path path = folder + "/.corvanta-"
                              + QByteArray::number(QRandomGenerator::global()->generate64(), 16).rightJustified(16, '0')
                              + suffix;
        if (const int error = handle.create_new(path)) {
            if (error == EEXIST)
                continue;
            return error;
        }
        // The lock marks the file as alive until this process ends. Without it
        // another run's sweep could remove a live file; a sweep that got in
        // before the lock removed it: take another name.
        if (const int error = handle.lock(true)) {
            os::remove_file(path);
            handle.close();
            return error;
        }
        if (same_file(handle, path)) {
            hidden_path = path;
            return 0;
        }
        handle.close();
    }
    return EEXIST;
}

int Private_File::publish(const os::Path &path)
{
    if (hidden_path.isEmpty())
        return handle.link_unnamed(path);
    const int error = publish_hidden(path);
    if (error == 0)
        hidden_path.clear();
    return error;
}

int Private_File::publish_hidden(const os::Path &path)
{
    int error = os::link_file(hidden_path, path);
    // File systems without hard links may still rename without replacing.
    if (error != 0 && error != EEXIST)
        error = os::rename_no_replace(hidden_path, path);
    if (error == EINVAL || error == ENOSYS || error == EPERM || error == EOPNOTSUPP) {
        // Neither is there: claim the name with an empty file of our own, then
        // replace only that.
        os::File claim;
        error = claim.create_new(path);
        if (error == 0) {
            claim.close();
            error = os::rename_file(hidden_path, path);
            if (error != 0)
                os::remove_file(path);
        }
        return error;
    }
    if (error == 0)
        os::remove_file(hidden_path); // the link left the hidden name behind
    return error;
}

void remove_abandoned_temporaries(const os::Path &folder)
{
    static const QRegularExpression ours(QStringLiteral("^\\.corvanta-[0-9a-f]{16}\\."));
    std::vector<QByteArray> names;
    os::list_folder(folder, &names);
    for (const QByteArray &name : names) {
        if (!ours.match(QString::fromLatin1(name)).hasMatch())
            continue;
        const os::Path path = folder + '/' + name;
        os::File file;
        os::Status st;
        if (os::status(path, false, &st) != 0 || st.kind != os::Kind::File || file.open_read(path) != 0)
            continue;
        // A living run holds its lock; only an abandoned file can be locked.
        if (file.lock(false) == 0 && same_file(file, path))
            os::remove_file(path);
    }
}
