// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

#include <vector>

// The system calls the engine makes, behind one small interface. Paths are
// the system's own bytes, never decoded: a name that is not valid UTF-8 must
// survive packing and unpacking unchanged. Failures come back as errno
// values, so every message can carry the system's own reason.
//
// The engine supports Linux (system_linux.cpp for paths, file_linux.cpp for
// descriptors, folder_linux.cpp for folder handles). Another system gets
// files of its own beside them; nothing else in the engine calls the system
// directly.
namespace os {

using Path = QByteArray;

// The system's text for an errno value.
QString reason(int error);

// The longest path the system's calls take, in bytes.
constexpr qsizetype longest_path = 4095;

enum class Kind { Missing, File, Folder, Link, Socket, Pipe, Device };

struct Status
{
    Kind kind = Kind::Missing;
    qint64 size = 0;
    qint64 mtime_ns = 0;   // since the epoch, UTC
    qint64 ctime_ns = 0;
    quint32 permissions = 0; // the mode's low twelve bits
    quint64 inode = 0;
    quint64 device = 0;
    quint32 owner = 0;       // user id
    quint64 links = 0;       // 0 once removed, while still open
};

// The user this process acts as (the effective user id).
quint32 user_id();

// 0 or the errno value; follow_link decides whether a link or its target is looked at.
int status(const Path &path, bool follow_link, Status *out);
int read_link(const Path &path, QByteArray *target);
// Whether files on path's file system report sizes that are not their
// content's (proc, sysfs and their kin: 0 or a page, whatever reading gives).
bool sizes_unknown(const Path &path);
// The names in a folder, without "." and "..", in no particular order.
int list_folder(const Path &path, std::vector<QByteArray> *names);
int make_folder(const Path &path);
int remove_folder(const Path &path); // only an empty one
int remove_file(const Path &path);
// Under a limit on the address space, the C library keeps one heap and
// threads get small stacks: otherwise each thread's own heap and stack would
// use up the limit and make allocations fail or crawl. Once per process;
// nothing without a limit.
void adapt_to_memory_limit();
// How many files this process may hold open, after raising its own limit as
// far as the system lets it (once); nothing here uses select(), which would
// not cope with more than 1024.
int open_files_allowed();
// The canonical absolute form of an existing path.
int canonical(const Path &path, Path *out);
// path when it is absolute, else the current folder's path joined with it.
Path absolute_path(const Path &path);

// An open folder, closed with the object. Everything it does is relative to
// it: names are one name inside it, never a path, and no link is followed.
// What is made through it lands in this folder, wherever the folder is moved
// meanwhile and whatever is put under its old name. Each gives 0 or the
// errno value.
class Folder
{
public:
    Folder() = default;
    ~Folder() { close(); }
    Folder(const Folder &) = delete;
    Folder &operator=(const Folder &) = delete;
    Folder(Folder &&other) noexcept : fd(other.fd) { other.fd = -1; }
    Folder &operator=(Folder &&other) noexcept;

    bool is_open() const { return fd >= 0; }
    void close();

    // By path, following links on the way: only for a folder the user named.
    int open(const Path &path);
    // The folder name in parent; ELOOP or ENOTDIR where name is a link.
    int open_in(const Folder &parent, const QByteArray &name);

    int status(Status *out) const;
    // Of name itself, a link not followed.
    int status_of(const QByteArray &name, Status *out) const;
    // Of a path below this folder, following no link on the way or at its end.
    int status_below(const Path &relative, Status *out) const;
    int list(std::vector<QByteArray> *names) const;
    int make_folder(const QByteArray &name) const;
    int remove_folder(const QByteArray &name) const; // only an empty one
    int remove_file(const QByteArray &name) const;
    int make_symlink(const QByteArray &target, const QByteArray &name) const;
    int read_link(const QByteArray &name, QByteArray *target) const;
    // Modification and access time of name, a link itself rather than its target.
    int set_time_of(const QByteArray &name, qint64 mtime_s) const;
    // Of this folder itself.
    int set_permissions(quint32 permissions) const;
    int set_time(qint64 mtime_s) const;
    // Fails with EEXIST when `to` exists; never replaces anything.
    int link_file(const QByteArray &from, const QByteArray &to) const;
    // Without replacing `to`, where the file system can do that atomically;
    // EINVAL or EOPNOTSUPP where it cannot.
    int rename_no_replace(const QByteArray &from, const QByteArray &to) const;
    int rename_file(const QByteArray &from, const QByteArray &to) const;
    // Bytes free for an ordinary user on its file system.
    int free_space(qint64 *bytes) const;
    // Everything written to this folder's file system so far reaches its disk.
    int sync_file_system() const;
    // The folder's names on disk, with what the journal holds for them.
    int sync() const;

private:
    friend class File;
    int fd = -1;
};

// An open descriptor, closed with the object.
class File
{
public:
    File() = default;
    ~File() { close(); }
    File(const File &) = delete;
    File &operator=(const File &) = delete;
    File(File &&other) noexcept : fd(other.fd) { other.fd = -1; }
    File &operator=(File &&other) noexcept;

    bool is_open() const { return fd >= 0; }
    int close();
    // A second descriptor for the same open file (sharing its offset).
    int duplicate(File *out) const;

    // Each gives 0 or the errno value.
    // For reading; a pipe or device put in a file's place does not block.
    int open_read(const Path &path);
    int open_folder(const Path &path);
    // A new file named path, failing with EEXIST when the name is taken.
    int create_new(const Path &path);
    // The same relative to a folder: name is never followed where it is a link.
    int open_read_in(const Folder &folder, const QByteArray &name);
    // A new file without a name in folder (EOPNOTSUPP where the file system has none).
    int create_unnamed_in(const Folder &folder);
    int create_new_in(const Folder &folder, const QByteArray &name);

    // Bytes read, 0 at the end, -1 with *error.
    qint64 read(char *data, qint64 length, int *error);
    qint64 read_at(qint64 offset, char *data, qint64 length, int *error);
    // All of it, retrying short writes, so a full disk shows as ENOSPC.
    int write_all(const char *data, qint64 length);
    int write_all_at(qint64 offset, const char *data, qint64 length);
    int truncate(qint64 size);
    int status(Status *out) const;
    int sync_data();
    int sync_all();
    // Starts writing the file's data to disk, without waiting. With
    // CORVANTA_NO_FLUSH set (for the benchmarks' figure without any flush)
    // this, finish_write_back() and Folder::sync() do nothing.
    void start_write_back();
    // The file's data on disk, and its blocks allocated: waits for the
    // write-back started, without a journal commit of its own (the folders'
    // sync() at the end of a run commits them all at once). Where the file
    // system cannot do that, the file's data is synced as a whole.
    int finish_write_back();
    // Everything written to this file's file system so far reaches its disk.
    int sync_file_system();
    int set_permissions(quint32 permissions);
    int set_time(qint64 mtime_s);
    // An exclusive advisory lock; without wait, EWOULDBLOCK when another holds it.
    int lock(bool wait);
    // Gives an unnamed file the name `name` in folder; EEXIST when it is taken.
    int link_unnamed_in(const Folder &folder, const QByteArray &name);

private:
    int fd = -1;
};

} // namespace os
