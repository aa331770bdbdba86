// SPDX-License-Identifier: GPL-3.0-or-later
#include "package_pipeline.h"

#include "container/container_source.h"
#include "core/guarded.h"
#include "core/path_patterns.h"
#include "core/path_rules.h"
#include "core/pipeline_steps.h"
#include "core/private_file.h"
#include "job_control.h"
#include "pack/archive_writer.h"
#include "pack/pack_planner.h"

#include <QDateTime>
#include <QFile>
#include <QLocale>

#include <cerrno>
#include <deque>

using namespace pipeline;

namespace {

// How many seconds' names a container may wait for when the time stamp's is taken.
constexpr int publish_attempts = 30;

// "yyyyMMdd__hhmmss_ddd" with ASCII digits whatever the locale, and the
// system locale's abbreviated day name.
QString time_stamp(const QDateTime &t)
{
    return t.toString(QStringLiteral("yyyyMMdd__hhmmss_"))
           + QLocale::system().dayName(t.date().dayOfWeek(), QLocale::ShortFormat);
}

// Makes folder and its missing parents; 0 or the errno value. *made lists
// the folders made here, deepest last.
int make_folder(const os::Path &folder, QList<os::Path> *made)
{
    for (qsizetype at = 1; at <= folder.size(); ++at) {
        if (at < folder.size() && folder[at] != '/')
            continue;
        const os::Path part = folder.left(at);
        const int error = os::make_folder(part);
        if (error == 0)
            made->append(part);
        else if (error != EEXIST)
            return error;
    }
    os::Status st;
    if (const int error = os::status(folder, true, &st))
        return error;
    return st.kind == os::Kind::Folder ? 0 : ENOTDIR;
}

// One encryption run, phase by phase: prepare the working folder and a
// private file, walk the chosen items while their entries go into the archive
// (and their files into the deflating threads), write the archive enciphered,
// publish the container. A phase that fails leaves its reason in `failure`
// (empty when the errors or a cancel already say it).
class Encryption
{
public:
    Encryption(Job_Control &control, const Pack_Options &options) : control(control), options(options)
    {
        result.is_encryption = true;
    }

    Package_Result run(const QList<QByteArray> &files, const QList<QByteArray> &folders, const os::Path &base_dir);

private:
    Job_Control &control;
    const Pack_Options &options;
    Package_Result result;
    QString stamp = time_stamp(control.clock().now());
    os::Path work;
    os::Path chosen_file; // the container's path the user gave, or empty for a time stamp
    QList<os::Path> made_folders; // the working folder and its parents, where this run made them
    QString failure;
    Archive_Sealing sealing; // with a password

    bool failed(const QString &reason)
    {
        failure = reason;
        return false;
    }
    QString work_name() const { return display_path(work); }
    bool prepare(const QList<QByteArray> &files, const QList<QByteArray> &folders, const os::Path &base_dir,
                 Private_File &part);
    bool prepare_chosen_file(Private_File &part);
    bool pack(const QList<QByteArray> &files, const QList<QByteArray> &folders, Private_File &part);
    bool read_back(Private_File &part);
    bool publish(Private_File &part);
    void remove_made_folders();
};

Package_Result Encryption::run(const QList<QByteArray> &files, const QList<QByteArray> &folders,
                               const os::Path &base_dir)
{
    // Private until the container is published complete.
    Private_File part;
    bool done = false;
    guarded(control, [&] {
        done = prepare(files, folders, base_dir, part) && pack(files, folders, part) && read_back(part) && publish(part);
    });
    if (!done) {
        // A hidden temporary would keep the working folder from going.
        part.discard();
        remove_made_folders();
        return fail(result, failure, control);
    }
    result.is_ok = true;
    result.is_protected = sealing.key.is_set();
    finish_progress(control);
    return result;
}

bool Encryption::prepare(const QList<QByteArray> &files, const QList<QByteArray> &folders, const os::Path &base_dir,
                         Private_File &part)
{
    if (files.isEmpty() && folders.isEmpty())
        return failed(QStringLiteral("Nothing to pack: no files or folders were chosen"));
    if (options.level < Pack_Options::default_level || options.level > 9)
        return failed(QStringLiteral("the compression level %1 is not one of 0 to 9").arg(options.level));
    if (!options.output_file.isEmpty())
        return prepare_chosen_file(part);
    work = os::absolute_path(base_dir.isEmpty() ? QByteArray(".") : base_dir) + '/'
           + QFile::encodeName(working_folder_name());
    if (const int error = make_folder(work, &made_folders))
        return failed(QStringLiteral("%1: cannot create the working folder: %2").arg(work_name(), os::reason(error)));
    // Temporaries of runs that ended without cleaning up (killed, power lost).
    remove_abandoned_temporaries(work);
    if (const int error = part.create(work, container_suffix().toUtf8() + ".part"))
        return failed(QStringLiteral("%1: cannot create a temporary file: %2").arg(work_name(), os::reason(error)));
    return true;
}

// A name the user chose: its folder must be there, and the name free, which
// is checked here so that a long run does not end in that failure; publish()
// checks again without replacing whatever came meanwhile.
bool Encryption::prepare_chosen_file(Private_File &part)
{
    chosen_file = os::absolute_path(options.output_file);
    const QByteArray suffix = container_suffix().toUtf8();
    if (!chosen_file.toLower().endsWith(suffix))
        chosen_file += suffix;
    work = parent_of(chosen_file);
    const QString name = display_path(chosen_file);
    os::Status st;
    if (const int error = os::status(work, true, &st); error || st.kind != os::Kind::Folder)
        return failed(QStringLiteral("%1: cannot save the container there: %2").arg(name, os::reason(error ? error : ENOTDIR)));
    if (os::status(chosen_file, false, &st) == 0)
        return failed(QStringLiteral("%1: cannot save the container: %2").arg(name, os::reason(EEXIST)));
    if (const int error = part.create(work, suffix + ".part"))
        return failed(QStringLiteral("%1: cannot create a temporary file: %2").arg(work_name(), os::reason(error)));
    return true;
}

// The archive is enciphered on its way into the file: no plain copy is ever
// written. Entries go into it as the walk finds them.
bool Encryption::pack(const QList<QByteArray> &files, const QList<QByteArray> &folders, Private_File &part)
{
    // Before the writer: its deflating threads read the roots until it is gone.
    std::deque<Pack_Root> roots;
    Plan_Totals totals;
    if (!options.password.is_empty()) {
        // A new salt for every container: the same password never gives the same key twice.
        sealing.header = sealed::Header::fresh();
        if (!sealed::Key::derive(options.password, sealing.header, &sealing.key))
            return failed(QStringLiteral("out of memory for the password's key"));
    }
    Archive_Writer writer(part.file(), work_name(), Archive_Form::Enciphered, control,
                          sealing.key.is_set() ? &sealing : nullptr);
    if (options.level > 0)
        writer.set_level(options.level);
    if (!writer.open())
        return failed(writer.error());
    control.reached(Run_Point::Archive_Opened);
    bool written = true;
    const Path_Patterns excluded(options.exclude);
    plan_pack(files, folders, &result.errors, control, &roots, &totals, [&](const Pack_Entry &e) {
        if (excluded.take(e.name)) {
            ++result.excluded_count;
            return true;
        }
        control.add_total(e.size);
        if (options.level == 0 && e.deflate) {
            Pack_Entry stored = e;
            stored.deflate = false;
            return written = writer.add(stored);
        }
        return written = writer.add(e);
    });
    result.warnings = totals.warnings;
    if (!written)
        return failed(writer.error());
    if (!result.errors.isEmpty() || control.is_cancelled())
        return false;
    if (totals.entries == result.excluded_count)
        return failed(result.excluded_count > 0
                          ? QStringLiteral("Nothing to pack: everything chosen matches a pattern left out")
                          : QStringLiteral("Nothing to pack: the chosen items hold no files or folders"));
    if (!writer.finish())
        return failed(writer.error());
    // On disk before it has a name: after a power cut no container stands short or empty.
    if (const int error = part.file().sync_data())
        return failed(QStringLiteral("%1: cannot write the container to disk: %2").arg(work_name(), os::reason(error)));
    return true;
}

// A container this program could not read again never gets a name: the
// headers and directory are read back as list and test read them, and with
// verify every entry's data too.
bool Encryption::read_back(Private_File &part)
{
    const auto open_source = [&](QString *why) -> zip_source_t * {
        os::File reader;
        if (const int error = part.file().duplicate(&reader)) {
            *why = os::reason(error);
            return nullptr;
        }
        return create_container_source(std::move(reader), sealing.key, why);
    };
    QString reason;
    QStringList damaged;
    const bool sound = options.verify ? test_archive(open_source, &damaged, &reason) && damaged.isEmpty()
                                      : bool(open_checked_archive(open_source, &reason));
    if (sound)
        return true;
    if (reason.isEmpty())
        reason = damaged.join(QStringLiteral("; "));
    return failed(QStringLiteral("%1: the container written does not read back: %2").arg(work_name(), reason));
}

// The container appears under its final name only when complete, and never
// in place of another: a name taken (by a user or by a run at the same
// moment) waits for the next second's time stamp.
bool Encryption::publish(Private_File &part)
{
    for (int attempt = 0;; ++attempt) {
        const os::Path container = !chosen_file.isEmpty() ? chosen_file : work + '/' + QFile::encodeName(stamp + container_suffix());
        const int error = part.publish(container);
        if (error == 0) {
            result.container_path = display_path(container);
            break;
        }
        if (error != EEXIST || attempt >= publish_attempts || !chosen_file.isEmpty())
            return failed(QStringLiteral("%1: cannot save the container: %2").arg(display_path(container), os::reason(error)));
        if (control.is_cancelled())
            return false;
        control.clock().wait_for_next_second();
        stamp = time_stamp(control.clock().now());
    }
    // The name itself on disk too.
    os::File folder;
    int error = folder.open_folder(work);
    if (error == 0)
        error = folder.sync_all();
    if (error != 0)
        result.warnings.append(QStringLiteral("%1: the folder could not be written to disk: %2").arg(work_name(), os::reason(error)));
    return true;
}

// What a failed run made stays only if something else is in it now.
void Encryption::remove_made_folders()
{
    for (auto it = made_folders.crbegin(); it != made_folders.crend(); ++it)
        os::remove_folder(*it);
}

} // namespace

Package_Result run_encryption(const QList<QByteArray> &files, const QList<QByteArray> &folders,
                              const QByteArray &base_dir, Job_Control *given_control, const Pack_Options &options)
{
    Job_Control idle;
    return Encryption(given_control ? *given_control : idle, options).run(files, folders, base_dir);
}

Package_Result run_encryption(const QStringList &files, const QStringList &folders, const QString &base_dir,
                              Job_Control *control, const Pack_Options &options)
{
    return run_encryption(native_paths(files), native_paths(folders), QFile::encodeName(base_dir), control, options);
}
