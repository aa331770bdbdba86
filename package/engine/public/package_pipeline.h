// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include "password.h"

class Job_Control;

// Names the engine, the window and the command-line program share.
QString working_folder_name();  // "AddData": where containers are made, inside the chosen folder
QString container_suffix();     // ".kvxdata"
QString container_filter();     // the file dialog's filter for containers

// A name or path for messages and listings: UTF-8 where it is valid, "\xNN"
// for bytes that are not, control characters escaped ("\n", "\r", "\x1b")
// so that a name can neither steer a terminal nor span lines.
QString display_path(const QByteArray &path);

// What one encryption or decryption run did.
struct Package_Result
{
    bool is_encryption = false;
    bool is_ok = false;
    bool is_cancelled = false;
    QStringList errors;          // one line per failure: which file, what went wrong
    QStringList warnings;        // one line per item left out of a run that still succeeds
    QString container_path;      // encryption: the container that was made
    QStringList output_folders;  // decryption: each destination folder once, in the order filled
    // Decryption: containers asked for, and those unpacked without a failure.
    int containers_total = 0;
    int containers_unpacked = 0;
    // Decryption: files written, files found already there with the entry's
    // content (a run started again), and files kept beside a different file
    // under a numbered name (their paths).
    qint64 files_written = 0;
    qint64 files_already_there = 0;
    QStringList kept_beside;
    // Decryption: containers refused as damaged, whose intact entries a run
    // with Unpack_Options::salvage may still recover.
    QStringList damaged_containers;
    // Decryption with salvage: whole entries found in damaged containers.
    qint64 entries_recovered = 0;
    // Encryption: the container made is sealed under a password.
    bool is_protected = false;
    // Encryption: entries left out because they matched an excluded pattern.
    qint64 excluded_count = 0;
};

// Paths in the system's own bytes: a name that is not valid UTF-8 must reach
// the file system unchanged. The QString forms are for paths that came
// through Qt (dialogs, drops) and are encoded as the system names files.
QList<QByteArray> native_paths(const QStringList &paths);

// How a packing run goes beyond what it always does.
struct Pack_Options
{
    // Read every entry of the new container back through the decipher and
    // check its checksum before it gets its name, as `test` does. Without it
    // only the headers and the directory are read back.
    bool verify = false;
    // With a password the archive is sealed inside the container (Argon2id
    // and XChaCha20-Poly1305): without the password nothing in it can be read.
    Password password;
    // The container's path ("<name>.kvxdata" when the suffix is missing),
    // instead of a time stamp in the working folder. A file already there is
    // never replaced: the run fails with the reason.
    QByteArray output_file;
    // Entries whose path in the container matches one of these (see
    // path_pattern_help()) are left out, and counted in excluded_count.
    QList<QByteArray> exclude;
    // 0 stores every file as it is, 1 is fastest and 9 smallest; -1 keeps
    // the program's own choice.
    int level = default_level;
    static constexpr int default_level = -1;
};

// How a decryption run goes beyond what it always does.
struct Unpack_Options
{
    // Asked for the password of each protected container when the run reaches it.
    Password_Provider ask_password;
    // A container refused as damaged (most often cut short) gives up every
    // entry that is still whole instead; the run never counts as a success.
    bool salvage = false;
    // Each container unpacks into "<destination>/<name>/" instead of beside
    // itself; the container's own folder need not be writable.
    QByteArray destination;
    // Only entries whose path matches one of these are unpacked (with the
    // folders leading to them); a pattern that matches nothing fails the
    // container before anything is written.
    QList<QByteArray> include;
};

// Packs the files and folders into "<base_dir>/AddData/<time stamp>.kvxdata".
// "AddData" is created when missing. Never overwrites or removes a file it did
// not create; on failure or cancel no container and no temporary file remain.
// The container is on disk before its name appears, and gets its name only
// once it reads back as a sound container.
Package_Result run_encryption(const QList<QByteArray> &files, const QList<QByteArray> &folders,
                              const QByteArray &base_dir, Job_Control *control = nullptr,
                              const Pack_Options &options = {});
Package_Result run_encryption(const QStringList &files, const QStringList &folders, const QString &base_dir,
                              Job_Control *control = nullptr, const Pack_Options &options = {});

// Unpacks each container, in ascending order, into the folder beside it named
// by its base name (file name up to its first "."). Containers are kept.
// Started again after a cancel or a crash, it completes the job: files that
// already hold their entry's content stay as they are. What it unpacked is on
// disk before it reports success.
Package_Result run_decryption(const QList<QByteArray> &containers, Job_Control *control = nullptr,
                              const Unpack_Options &options = {});
Package_Result run_decryption(const QStringList &containers, Job_Control *control = nullptr,
                              const Unpack_Options &options = {});
