// corvanta-cli: packs files and folders into a container, or unpacks
// containers, from a terminal or a script.

#include "container_reader.h"
#include "job_control.h"
#include "package_pipeline.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QStringList>

#include <csignal>
#include <cstdio>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace {

Job_Control *running_job = nullptr;

extern "C" void on_interrupt(int)
{
    // Only an atomic store: safe in a signal handler. The run cleans up and ends.
    if (running_job)
        running_job->cancel();
}

const char usage_text[] =
    "Usage:\n"
    "  corvanta-cli encrypt [-C DIR] PATH...\n"
    "      Packs the given files and folders into one container\n"
    "      DIR/AddData/<time stamp>.kvxdata and prints its path.\n"
    "      DIR defaults to the current directory; AddData is created if missing.\n"
    "  corvanta-cli decrypt CONTAINER...\n"
    "      Unpacks each container into the folder beside it named by its file\n"
    "      name up to the first \".\". Existing files are never overwritten:\n"
    "      a name already taken gets a number, as in \"name (2).ext\".\n"
    "  corvanta-cli list CONTAINER...\n"
    "      Prints one line per entry: size in bytes, modification time, path\n"
    "      (last on the line; folders end in \"/\"). Writes no file.\n"
    "  corvanta-cli test CONTAINER...\n"
    "      Reads every entry through the decipher and checks its CRC, writing\n"
    "      no file. Prints \"CONTAINER: OK\" for each sound container.\n"
    "  corvanta-cli --help | --version\n"
    "\n"
    "The cipher has no key: anyone with this program, or who knows the\n"
    "container format, can open a container. It hides the content from a\n"
    "casual look and from tools that look inside zip files; it does not\n"
    "protect it from someone who wants to read it.\n"
    "\n"
    "Exit status: 0 on success, 1 when any item failed (one line per failure,\n"
    "or per damaged entry, on standard error), 2 on a usage error. Ctrl+C cancels and leaves no\n"
    "partial container or temporary file. What a successful run left out\n"
    "(sockets, pipes, devices) is named on standard error.\n";

int usage_error(const QString &message)
{
    std::fprintf(stderr, "corvanta-cli: %s\n\n%s", qPrintable(message), usage_text);
    return 2;
}

QString megabytes(qint64 bytes)
{
    return QString::number(double(bytes) / (1024.0 * 1024.0), 'f', 1) + QStringLiteral(" MB");
}

// list and test: read containers, write nothing.
int read_containers(const QString &command, const QStringList &containers)
{
    bool all_ok = true;
    for (const QString &path : containers) {
        QString reason;
        if (command == QLatin1String("list")) {
            QList<Container_Entry> entries;
            if (!list_container(path, &entries, &reason)) {
                std::fprintf(stderr, "corvanta-cli: %s: %s\n", qPrintable(path), qPrintable(reason));
                all_ok = false;
                continue;
            }
            // Several containers are told apart as ls tells folders apart.
            if (containers.size() > 1)
                std::printf("%s%s:\n", path == containers.first() ? "" : "\n", qPrintable(path));
            for (const Container_Entry &e : entries) {
                const QString when = e.modified.isValid()
                    ? e.modified.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"))
                    : QStringLiteral("-------------------");
                std::printf("%12lld  %s  %s\n", static_cast<long long>(e.size), qPrintable(when),
                            qPrintable(e.name));
            }
        } else {
            QStringList damaged;
            if (!test_container(path, &damaged, &reason)) {
                std::fprintf(stderr, "corvanta-cli: %s: %s\n", qPrintable(path), qPrintable(reason));
                all_ok = false;
                continue;
            }
            for (const QString &line : std::as_const(damaged))
                std::fprintf(stderr, "corvanta-cli: %s: %s\n", qPrintable(path), qPrintable(line));
            if (damaged.isEmpty())
                std::printf("%s: OK\n", qPrintable(path));
            all_ok = all_ok && damaged.isEmpty();
        }
    }
    return all_ok ? 0 : 1;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationVersion(QStringLiteral(CORVANTA_VERSION));
    QStringList args = app.arguments().mid(1);

    if (args.isEmpty())
        return usage_error(QStringLiteral("missing command"));
    if (args.contains(QStringLiteral("--help")) || args.contains(QStringLiteral("-h"))) {
        std::fputs(usage_text, stdout);
        return 0;
    }
    if (args.first() == QLatin1String("--version")) {
        std::printf("corvanta-cli %s\n", CORVANTA_VERSION);
        return 0;
    }

    const QString command = args.takeFirst();
    QString base_dir;
    if (command == QLatin1String("encrypt")) {
        if (!args.isEmpty() && args.first() == QLatin1String("-C")) {
            if (args.size() < 2)
                return usage_error(QStringLiteral("-C needs a folder"));
            args.removeFirst();
            base_dir = args.takeFirst();
        }
    } else if (command != QLatin1String("decrypt") && command != QLatin1String("list")
               && command != QLatin1String("test")) {
        return usage_error(QStringLiteral("unknown command \"%1\"").arg(command));
    }
    if (!args.isEmpty() && args.first() == QLatin1String("--"))
        args.removeFirst();
    else
        for (const QString &a : args)
            if (a.startsWith(QLatin1Char('-')) && a.size() > 1)
                return usage_error(QStringLiteral("unknown option \"%1\"").arg(a));
    if (args.isEmpty())
        return usage_error(command == QLatin1String("encrypt") ? QStringLiteral("no files or folders given")
                                                                : QStringLiteral("no containers given"));
    if (command == QLatin1String("list") || command == QLatin1String("test"))
        return read_containers(command, args);

    Job_Control control;
    bool show_progress = false;
#ifdef Q_OS_UNIX
    show_progress = ::isatty(STDERR_FILENO) == 1;
#endif
    if (show_progress) {
        control.set_progress_handler([](qint64 done, qint64 total) {
            const int percent = total > 0 ? int(qMin(done, total) * 100 / total) : 0;
            std::fprintf(stderr, "\r%3d%%  %s of %s   ", percent, qPrintable(megabytes(done)),
                         qPrintable(megabytes(total)));
            std::fflush(stderr);
        });
    }
    running_job = &control;
    std::signal(SIGINT, on_interrupt);
    std::signal(SIGTERM, on_interrupt);

    Package_Result result;
    if (command == QLatin1String("encrypt")) {
        QStringList files, folders;
        for (const QString &a : args)
            (QFileInfo(a).isDir() ? folders : files).append(a);
        result = run_encryption(files, folders, base_dir.isEmpty() ? QStringLiteral(".") : base_dir, &control);
    } else {
        result = run_decryption(args, &control);
    }
    running_job = nullptr;
    if (show_progress)
        std::fputs("\n", stderr);

    for (const QString &line : result.warnings)
        std::fprintf(stderr, "corvanta-cli: warning: %s\n", qPrintable(line));
    if (result.is_ok) {
        if (!result.container_path.isEmpty())
            std::printf("%s\n", qPrintable(QFileInfo(result.container_path).absoluteFilePath()));
        for (const QString &folder : result.output_folders)
            std::printf("%s\n", qPrintable(folder));
        return 0;
    }
    for (const QString &line : result.errors)
        std::fprintf(stderr, "corvanta-cli: %s\n", qPrintable(line));
    if (result.errors.isEmpty())
        std::fprintf(stderr, "corvanta-cli: failed\n");
    return 1;
}
