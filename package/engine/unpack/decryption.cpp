// SPDX-License-Identifier: GPL-3.0-or-later
#include "package_pipeline.h"

#include "container/container_source.h"
#include "container/salvage_source.h"
#include "core/free_name.h"
#include "core/guarded.h"
#include "core/path_patterns.h"
#include "core/path_rules.h"
#include "core/pipeline_steps.h"
#include "job_control.h"
#include "unpack/zip_extractor.h"

#include <algorithm>
#include <memory>

using namespace pipeline;

namespace {

// The folder a container unpacks into: beside it, named by its file name up
// to the first ".". A name without a usable base (".kvxdata", or no "." at
// all, which would be the container itself) gets "<name> contents" instead.
QByteArray destination_name(const QByteArray &file_name)
{
    const QByteArray base = file_name.left(file_name.indexOf('.'));
    if (!base.isEmpty() && base != file_name && file_name.contains('.'))
        return base;
    QByteArray stem = file_name;
    while (stem.startsWith('.'))
        stem.remove(0, 1);
    if (stem.isEmpty())
        stem = "container";
    return stem + " contents";
}

// Whether name in parent is still the folder held open.
bool is_named(const os::Folder &parent, const QByteArray &name, const os::Folder &folder)
{
    os::Status there, held;
    return parent.status_of(name, &there) == 0 && folder.status(&held) == 0 && there.device == held.device
        && there.inode == held.inode;
}

// Unpacks one container into its destination folder, adding to result what
// went wrong and the folder it filled.
class Decryption
{
public:
    Decryption(Job_Control &control, const Unpack_Options &options, Package_Result *result)
        : control(control), options(options), result(*result), chosen(options.include)
    {
    }

    void unpack(const os::Path &container);

private:
    Job_Control &control;
    const Unpack_Options &options;
    Package_Result &result;
    const Path_Patterns chosen;

    void failed(const os::Path &container, const QString &reason)
    {
        result.errors.append(QStringLiteral("%1: %2").arg(display_path(container), reason));
    }
    void take(const os::Path &container, const Extract_Report &report);
    bool fill_folder(const os::Path &path, const os::Path &container, qint64 share, const Archive_Opener &open);
    bool salvage(const os::Path &path, const os::Path &container, qint64 share);
};

void Decryption::take(const os::Path &container, const Extract_Report &report)
{
    for (const QString &e : report.errors)
        failed(container, e);
    for (const QString &w : report.warnings)
        result.warnings.append(QStringLiteral("%1: %2").arg(display_path(container), w));
    result.files_written += report.files_written;
    result.files_already_there += report.files_already_there;
    result.kept_beside += report.kept_beside;
    if (report.refused_as_damaged && !options.salvage)
        result.damaged_containers.append(display_path(container));
}

// Unpacks the archive open gives into the container's folder; true when all of it was.
bool Decryption::fill_folder(const os::Path &path, const os::Path &container, qint64 share, const Archive_Opener &open)
{
    // From here on everything is made relative to the folders opened, never
    // by a path that someone could meanwhile turn into a link.
    os::Folder parent;
    const os::Path parent_path = options.destination.isEmpty() ? parent_of(container) : os::absolute_path(options.destination);
    if (const int error = parent.open(parent_path)) {
        failed(path, QStringLiteral("cannot open the folder %1: %2").arg(display_path(parent_path), os::reason(error)));
        return false;
    }
    // An existing real folder of this user is shared (two containers with one
    // base name unpack into one folder); a name taken by a file, a link or
    // another user's folder gets a number.
    bool created = false;
    int error = 0;
    const auto destination = std::make_shared<os::Folder>();
    const Claimed_Name folder = claim_folder(parent, destination_name(leaf_of(container)), destination.get(), &created, &error);
    const os::Path folder_path = parent_path + '/' + folder.name;
    if (folder.outcome != Name_Claim::Claimed) {
        failed(path, folder.name.isEmpty() ? QStringLiteral("no free folder name")
                                           : QStringLiteral("cannot create the folder %1: %2")
                                                 .arg(display_path(folder_path), os::reason(error)));
        return false;
    }
    Extract_Report report;
    bool ok = extract_archive(open, destination, folder_path, control, share, &report, chosen.is_empty() ? nullptr : &chosen);
    take(path, report);
    // What was unpacked went with the folder, wherever it was moved; its old
    // name no longer leads there.
    const bool moved = !is_named(parent, folder.name, *destination);
    if (moved) {
        failed(path, QStringLiteral("the folder %1 was moved or replaced while it was unpacked into").arg(display_path(folder_path)));
        ok = false;
    }
    // The new folder's own name on disk too.
    if (ok && created)
        if (const int error = parent.sync()) {
            failed(path, QStringLiteral("cannot write to disk: %1").arg(os::reason(error)));
            ok = false;
        }
    // A folder made for a container that held nothing usable goes again.
    if (!(created && !ok && !moved && parent.remove_folder(folder.name) == 0)
        && !result.output_folders.contains(display_path(folder_path)))
        result.output_folders.append(display_path(folder_path));
    return ok;
}

// For a container refused as damaged: every entry still whole, and the names
// of those lost. Never a success, so that the damage is not overlooked.
bool Decryption::salvage(const os::Path &path, const os::Path &container, qint64 share)
{
    QString damage;
    if (open_checked_archive([&](QString *why) { return create_container_source(container, why); }, &damage))
        return false; // sound: unpacked as usual
    Salvage_Plan plan;
    QString reason;
    if (!plan_salvage(container, &plan, &reason)) {
        failed(path, QStringLiteral("%1; salvage: %2").arg(damage, reason));
        return true;
    }
    result.entries_recovered += plan.recovered;
    const bool ok = plan.recovered == 0
                    || fill_folder(path, container, share,
                                   [&](QString *why) { return create_salvage_source(container, plan, why); });
    QString line = QStringLiteral("%1; salvage recovered %2 %3").arg(damage).arg(plan.recovered)
                       .arg(plan.recovered == 1 ? QStringLiteral("entry") : QStringLiteral("entries"));
    if (!ok)
        line += QStringLiteral(" (not all of them could be written, see above)");
    // A few dozen names tell what was lost; a hostile archive may have thousands.
    constexpr qsizetype named_lost = 50;
    if (!plan.lost.isEmpty())
        line += QStringLiteral("; lost: %1").arg(plan.lost.mid(0, named_lost).join(QStringLiteral(", ")));
    if (plan.lost.size() > named_lost)
        line += QStringLiteral(" and %1 more").arg(plan.lost.size() - named_lost);
    line += QStringLiteral("; entries whose headers lay in the damage are lost unnamed");
    failed(path, line);
    if (plan.recovered > 0 && plan.modes_unknown > 0)
        result.warnings.append(
            QStringLiteral("%1: %2 recovered entries lost their Unix modes with the central directory: they get the "
                           "usual modes, and a link among them comes out as a file holding its target")
                .arg(display_path(path))
                .arg(plan.modes_unknown));
    return true;
}

void Decryption::unpack(const os::Path &path)
{
    const os::Path container = os::absolute_path(path);
    os::Status st;
    const int missing = os::status(container, true, &st);
    const qint64 share = missing ? 0 : st.size;
    const qint64 done_before = control.done();
    // Whatever happens, the container's share of the progress is spent.
    const auto settle_progress = [&] { control.advance(qMax<qint64>(0, share - (control.done() - done_before))); };
    if (missing || st.kind != os::Kind::File) {
        failed(path, missing ? os::reason(missing) : not_a_regular_file());
        return settle_progress();
    }
    // A password, when the container has one, before anything is written.
    sealed::Key key;
    // The archive's start as the check opened it, in as much memory as the
    // key's derivation took a moment before.
    Opened_Start opened;
    {
        os::File file;
        QString reason;
        if (const int error = file.open_read(container)) {
            failed(path, os::reason(error));
            return settle_progress();
        }
        if (!unlock_container(std::move(file), display_path(path), options.ask_password, &key, &reason)
            || (key.is_set()
                && !verify_sealed_chunks(container, key, [this] { return !control.is_cancelled(); }, &reason, &opened,
                                         qint64(key.derivation_memory())))) {
            if (!control.is_cancelled())
                failed(path, key.is_set() && options.salvage
                                 ? reason + QStringLiteral(" (salvage cannot open a container protected by a password)")
                                 : reason);
            return settle_progress();
        }
    }
    if (options.salvage && !key.is_set() && salvage(path, container, share))
        return settle_progress();
    if (fill_folder(path, container, share,
                    [&](QString *why) { return create_container_source(container, key, why, opened); }))
        ++result.containers_unpacked;
    settle_progress();
}

} // namespace

Package_Result run_decryption(const QList<QByteArray> &containers, Job_Control *given_control,
                              const Unpack_Options &options)
{
    Job_Control idle;
    Job_Control &control = given_control ? *given_control : idle;
    Package_Result result;
    result.is_encryption = false;

    QList<QByteArray> ordered = containers;
    std::sort(ordered.begin(), ordered.end());
    ordered.erase(std::unique(ordered.begin(), ordered.end()), ordered.end());
    result.containers_total = int(ordered.size());

    qint64 total = 0;
    for (const os::Path &c : std::as_const(ordered)) {
        os::Status st;
        total += os::status(c, true, &st) == 0 ? st.size : 0;
    }
    control.add_total(total);

    Decryption decryption(control, options, &result);
    for (const os::Path &path : std::as_const(ordered)) {
        if (control.is_cancelled())
            break;
        guarded(control, [&] { decryption.unpack(path); });
    }

    if (control.is_cancelled())
        return fail(result, QString(), control);
    result.is_ok = result.errors.isEmpty();
    if (result.is_ok)
        finish_progress(control);
    return result;
}

Package_Result run_decryption(const QStringList &containers, Job_Control *control, const Unpack_Options &options)
{
    return run_decryption(native_paths(containers), control, options);
}
