// SPDX-License-Identifier: GPL-3.0-or-later
#include "container_reader.h"

#include "container/archive_entries.h"
#include "container/container_source.h"
#include "container/entry_data_reader.h"
#include "core/sizes.h"

#include <QFile>

#include <vector>

namespace {

// A container protected by a password opens with the key its password gives.
bool unlock(const QByteArray &path, const Password_Provider &ask, sealed::Key *key, QString *reason)
{
    os::File file;
    if (const int error = file.open_read(path)) {
        *reason = QStringLiteral("cannot open: %1").arg(os::reason(error));
        return false;
    }
    return unlock_container(std::move(file), QFile::decodeName(path), ask, key, reason);
}

Zip_Ptr open_container(const QByteArray &path, const Password_Provider &ask, QString *reason)
{
    sealed::Key key;
    if (!unlock(path, ask, &key, reason))
        return nullptr;
    return open_checked_archive([&](QString *why) { return create_container_source(path, key, why); }, reason);
}

QString line_for(const Archive_Entry &e, const QString &problem)
{
    return QStringLiteral("%1: %2").arg(e.display(), problem);
}

// Reads the entry's data to its end, where its size and checksum are checked.
QString judge_data(zip_t *za, const Archive_Entry &e, std::vector<char> &buffer)
{
    if (e.kind == Archive_Entry::Kind::Link) {
        QByteArray target;
        QString problem;
        return read_link_target(za, e, nullptr, &target, &problem) ? QString() : problem;
    }
    Entry_Data_Reader reader(za, e);
    qint64 n = 0;
    while (reader.is_open() && (n = reader.read(buffer.data(), qint64(buffer.size()))) > 0) {
    }
    return reader.is_open() && n == 0 ? QString() : reader.error();
}

} // namespace

bool list_container(const QByteArray &container_path, const Listed_Entry &on_entry, QStringList *refused,
                    QString *reason, const Password_Provider &ask)
{
    const Zip_Ptr za = open_container(container_path, ask, reason);
    if (!za)
        return false;
    const zip_int64_t count = zip_get_num_entries(za.get(), 0);
    for (zip_int64_t i = 0; i < count; ++i) {
        Archive_Entry e;
        QString problem;
        if (!read_archive_entry(za.get(), zip_uint64_t(i), &e, &problem)) {
            *reason = problem;
            return false;
        }
        Container_Entry listed;
        listed.is_dir = e.kind == Archive_Entry::Kind::Folder;
        listed.name = e.display();
        if (listed.is_dir && !listed.name.endsWith(QLatin1Char('/')))
            listed.name += QLatin1Char('/');
        listed.size = e.size;
        if (e.has_time)
            listed.modified = QDateTime::fromSecsSinceEpoch(e.mtime);
        on_entry(listed);
        problem = entry_problem(e);
        if (!problem.isEmpty())
            refused->append(line_for(e, problem));
    }
    return true;
}

bool test_container(const QByteArray &container_path, QStringList *damaged, QString *reason,
                    const Password_Provider &ask)
{
    sealed::Key key;
    if (!unlock(container_path, ask, &key, reason))
        return false;
    return test_archive([&](QString *why) { return create_container_source(container_path, key, why); }, damaged,
                        reason);
}

bool test_archive(const Archive_Opener &open_source, QStringList *damaged, QString *reason)
{
    const Zip_Ptr za = open_checked_archive(open_source, reason);
    if (!za)
        return false;
    std::vector<char> buffer(io_block);
    const zip_int64_t count = zip_get_num_entries(za.get(), 0);
    for (zip_int64_t i = 0; i < count; ++i) {
        Archive_Entry e;
        QString problem;
        if (!read_archive_entry(za.get(), zip_uint64_t(i), &e, &problem)) {
            damaged->append(problem);
            continue;
        }
        problem = entry_problem(e);
        if (problem.isEmpty() && !is_left_out(e) && e.kind != Archive_Entry::Kind::Folder)
            problem = judge_data(za.get(), e, buffer);
        if (!problem.isEmpty())
            damaged->append(line_for(e, problem));
    }
    return true;
}
