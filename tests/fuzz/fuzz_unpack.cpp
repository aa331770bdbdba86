// SPDX-License-Identifier: GPL-3.0-or-later
// libFuzzer harness for the unpack path: the input is a container's bytes, run
// through run_decryption in a fresh scratch folder. Beyond "no crash" it
// aborts (so libFuzzer keeps the input) when an unpack breaks a promise:
// a write outside the destination, anything left beside the container but the
// destination, a link in the destination that leads out of it, a changed
// container, is_ok disagreeing with the errors, a failure without a reason,
// or a success for a container that test refuses.

#include "container/kvx_cipher.h"
#include "container_reader.h"
#include "remove_tree.h"
#include "package_pipeline.h"

#include <QByteArray>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/resource.h>
#include <unistd.h>

extern "C" size_t LLVMFuzzerMutate(uint8_t *data, size_t size, size_t max_size);

namespace {

// <root>/outer is the only thing in root; <root>/outer/box holds the container.
// "../.." from the destination thus still lands inside root, where it shows.
QString root;

[[noreturn]] void fail(const QString &what)
{
    std::fprintf(stderr, "\n*** unpack check failed: %s\n", qPrintable(what));
    if (!root.isEmpty())
        remove_tree(root);
    std::abort();
}

QStringList entries(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                                  QDir::Name);
}

bool is_inside(const QString &folder, const QString &path)
{
    const QString clean = QDir::cleanPath(path);
    return clean == folder || clean.startsWith(folder + QLatin1Char('/'));
}

// Every link below destination must lead into it, both by its written target
// and, when that exists, by the path the kernel resolves.
void check_links(const QString &destination)
{
    QDirIterator it(destination, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo info(it.next());
        if (!info.isSymLink())
            continue;
        const QString written = QFile::symLinkTarget(info.filePath());
        const QString resolved = info.canonicalFilePath();
        if (!is_inside(destination, written) || (!resolved.isEmpty() && !is_inside(destination, resolved)))
            fail(QStringLiteral("link %1 leads out of the destination (to %2)").arg(info.filePath(), written));
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // /dev/shm for speed; named by process so that a run can sweep away what
    // runs that died on a sanitizer report left behind.
    const QString base = QFileInfo(QStringLiteral("/dev/shm")).isWritable() ? QStringLiteral("/dev/shm")
                                                                             : QDir::tempPath();
    const QString prefix = QStringLiteral("corvanta-fuzz-");
    for (const QString &name : QDir(base).entryList({prefix + QLatin1Char('*')}, QDir::Dirs)) {
        bool is_pid = false;
        const int pid = name.mid(prefix.size()).toInt(&is_pid);
        if (is_pid && kill(pid, 0) != 0 && errno == ESRCH)
            remove_tree(base + QLatin1Char('/') + name);
    }
    root = base + QLatin1Char('/') + prefix + QString::number(getpid());
    if (!QDir().mkpath(root))
        fail(QStringLiteral("cannot make the scratch folder %1").arg(root));
    root = QFileInfo(root).canonicalFilePath();
    // A bomb fails with "file too large" instead of filling memory-backed /dev/shm.
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit cap{256 << 20, 256 << 20};
    setrlimit(RLIMIT_FSIZE, &cap);
    std::atexit([] { remove_tree(root); });
    return 0;
}

// Mutations act on the archive inside the container, so an inserted byte does
// not scramble every chunk after it and the dictionary holds plain zip tokens.
extern "C" size_t LLVMFuzzerCustomMutator(uint8_t *data, size_t size, size_t max_size, unsigned int)
{
    transform_chunks(data, qint64(size), Cipher_Direction::Decrypt);
    size = LLVMFuzzerMutate(data, size, max_size);
    transform_chunks(data, qint64(size), Cipher_Direction::Encrypt);
    return size;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const QString outer = root + QStringLiteral("/outer");
    const QString box = outer + QStringLiteral("/box");
    const QString container = box + QStringLiteral("/c.kvxdata");
    const QString destination = box + QStringLiteral("/c");
    if (!QDir().mkpath(box))
        fail(QStringLiteral("cannot make %1").arg(box));
    QFile file(container);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.flush())
        fail(QStringLiteral("cannot write %1").arg(container));
    file.close();

    QStringList damaged;
    QString refused;
    const bool judged_sound = test_container(QFile::encodeName(container), &damaged, &refused) && damaged.isEmpty();
    const QString home = QDir::currentPath();
    // Salvage keeps every promise of an ordinary unpack, and never succeeds on damage.
    const auto check_run = [&](const Unpack_Options &options) {
        // Relative writes land in root too, where the checks see them; libFuzzer
        // itself keeps its own working folder for the paths it was given.
        if (!QDir::setCurrent(root))
            fail(QStringLiteral("cannot enter %1").arg(root));
        const Package_Result result = run_decryption({container}, nullptr, options);
        QDir::setCurrent(home);

        // One judgement: what test refuses never unpacks as a success.
        if (result.is_ok && !judged_sound)
            fail(QStringLiteral("%1 succeeded where test refuses: %2")
                     .arg(options.salvage ? QStringLiteral("salvage") : QStringLiteral("decrypt"),
                          refused + damaged.join(QLatin1Char(';'))));
        if (result.is_ok != result.errors.isEmpty())
            fail(QStringLiteral("is_ok is %1 with %2 errors").arg(result.is_ok).arg(result.errors.size()));
        const QString prefix = container + QStringLiteral(": ");
        for (const QString &e : result.errors)
            if (!e.startsWith(prefix) || e.size() == prefix.size())
                fail(QStringLiteral("a failure without its file or reason: \"%1\"").arg(e));
        if (entries(root) != QStringList{QStringLiteral("outer")} || entries(outer) != QStringList{QStringLiteral("box")})
            fail(QStringLiteral("something was written outside the destination: %1 | %2")
                     .arg(entries(root).join(QLatin1Char(' ')), entries(outer).join(QLatin1Char(' '))));
        const QStringList left = entries(box);
        if (left != QStringList{QStringLiteral("c"), QStringLiteral("c.kvxdata")}
            && left != QStringList{QStringLiteral("c.kvxdata")})
            fail(QStringLiteral("beside the container: %1").arg(left.join(QLatin1Char(' '))));
        const QFileInfo kept(container);
        QFile again(container);
        if (kept.isSymLink() || !again.open(QIODevice::ReadOnly) || again.readAll() != bytes)
            fail(QStringLiteral("the container changed"));
        const QFileInfo dest_info(destination);
        if (dest_info.exists()) {
            if (dest_info.isSymLink() || !dest_info.isDir())
                fail(QStringLiteral("the destination is not a real folder"));
            check_links(destination);
        }
        if (result.is_ok && !result.output_folders.contains(destination))
            fail(QStringLiteral("success without the destination in output_folders"));
    };
    check_run(Unpack_Options());
    if (!judged_sound) {
        remove_tree(destination);
        Unpack_Options salvage;
        salvage.salvage = true;
        check_run(salvage);
    }

    remove_tree(outer);
    if (!entries(root).isEmpty())
        fail(QStringLiteral("cannot clear the scratch folder %1").arg(root));
    return 0;
}
