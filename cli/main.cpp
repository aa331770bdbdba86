// SPDX-License-Identifier: GPL-3.0-or-later
// corvanta-cli: packs files and folders into a container, or unpacks
// containers, from a terminal or a script.

#include "container_reader.h"
#include "job_control.h"
#include "package_pipeline.h"

#include <QCoreApplication>
#include <QFile>
#include <QStringList>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <system_error>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {

// The signal handler only records the signal and wakes the watcher through a
// pipe, both safe in a signal handler; the watcher thread turns it into a cancel.
std::atomic<bool> interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free);
int wake_pipe[2] = {-1, -1};

extern "C" void on_interrupt(int)
{
    const int saved_errno = errno;
    interrupted.store(true);
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(wake_pipe[1], &byte, 1);
    errno = saved_errno;
}

// Cancels the run on Ctrl+C, SIGTERM or SIGHUP (the terminal closed) while
// it lives. The pipe stays open to the end of the program: a late signal
// must not write to a reused descriptor.
class Interrupt_Watch
{
public:
    explicit Interrupt_Watch(Job_Control *control)
    {
        // Non-blocking, so a flood of signals never blocks the handler; the
        // watcher waits for the read end in poll().
        if (wake_pipe[0] < 0 && ::pipe2(wake_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
            std::fprintf(stderr, "corvanta-cli: Ctrl+C cannot cancel this run: %s\n", std::strerror(errno));
            return;
        }
        try {
            watcher = std::thread([control] {
                pollfd wake = {wake_pipe[0], POLLIN, 0};
                char byte;
                while (::poll(&wake, 1, -1) < 0 && errno == EINTR) {
                }
                [[maybe_unused]] const ssize_t taken = ::read(wake_pipe[0], &byte, 1);
                if (interrupted.load())
                    control->cancel();
            });
        } catch (const std::system_error &) {
            return; // no thread to spare under a memory limit: Ctrl+C then ends the program as it would
        }
        std::signal(SIGINT, on_interrupt);
        std::signal(SIGTERM, on_interrupt);
        std::signal(SIGHUP, on_interrupt);
    }

    ~Interrupt_Watch()
    {
        if (!watcher.joinable())
            return;
        const char byte = 0;
        [[maybe_unused]] const ssize_t written = ::write(wake_pipe[1], &byte, 1);
        watcher.join();
    }

private:
    std::thread watcher;
};

// The folder and suffix are the engine's own.
QString usage_text()
{
    return QStringLiteral(
        "Usage:\n"
        "  corvanta-cli encrypt [-C DIR | -o FILE] [-x PATTERN]... [-l LEVEL] [--verify] [PASSWORD] [--] PATH...\n"
        "      Packs the given files and folders into one container\n"
        "      DIR/%1/<time stamp>%2 and prints its path.\n"
        "      DIR defaults to the current directory; %1 is created if missing.\n"
        "      The container's headers are read back before it gets its name;\n"
        "      with --verify every entry is read back and checked, as test does.\n"
        "      -o FILE    write the container as FILE (%2 added when missing);\n"
        "                 a FILE that exists is never replaced: the run fails.\n"
        "      -x PATTERN leave out what matches PATTERN (repeatable), matched\n"
        "                 against the path as stored, as \"list\" shows it; the\n"
        "                 number left out is printed on standard error.\n"
        "      -l LEVEL   0 stores the files as they are (at the speed of copying),\n"
        "                 1 is fastest and 9 smallest. Levels are zlib's; with\n"
        "                 libdeflate 1-6 are its own, 7, 8 and 9 its 8, 10 and 12.\n"
        "                 Without -l: 6, and 4 for files under 4 KiB.\n"
        "  corvanta-cli decrypt [--salvage] [-C DIR] [-i PATTERN]... [PASSWORD] [--] CONTAINER...\n"
        "      Unpacks each container into the folder beside it named by its file\n"
        "      name up to the first \".\". Existing files are never overwritten:\n"
        "      one with the entry's content is left as it is (run again, decrypt\n"
        "      completes what a cancel or a crash left), a different one keeps\n"
        "      its name and the unpacked file gets a number, as in \"name (2).ext\".\n"
        "      -C DIR     unpack into DIR/<name>/ instead (DIR must exist); the\n"
        "                 container's own folder need not be writable.\n"
        "      -i PATTERN unpack only the entries that match (repeatable), with\n"
        "                 the folders leading to them. A pattern that matches no\n"
        "                 entry is an error, and nothing is written.\n"
        "      --salvage  from a container refused as damaged (a copy cut short),\n"
        "                 unpack every entry that is still whole and passes its\n"
        "                 checksum, and name those lost. Always exits 1. Entries\n"
        "                 whose central directory record was lost get the usual\n"
        "                 modes, a link a file holding its target. Not for a\n"
        "                 container protected by a password.\n"
        "  corvanta-cli list [PASSWORD] [--] CONTAINER...\n"
        "      Prints one line per entry: size in bytes, modification time, path\n"
        "      (last on the line; folders end in \"/\"). Writes no file.\n"
        "  corvanta-cli test [PASSWORD] [--] CONTAINER...\n"
        "      Reads every entry through the decipher and judges it as decrypt\n"
        "      would (headers, names, sizes, CRCs), writing no file. Prints\n"
        "      \"CONTAINER: OK\" for each sound container.\n"
        "  corvanta-cli --help | --version\n"
        "\n"
        "\"--\" ends the options: every word after it, \"-h\" too, is a path.\n"
        "\n"
        "Patterns match the whole path inside the container, as .gitignore's do:\n"
        "\"*\", \"?\" and \"[abc]\" never cross \"/\", \"**\" does (\"**/*.tmp\" is every\n"
        "*.tmp at any depth), \"\\\" takes the next character literally. A pattern\n"
        "that matches a folder takes everything under it (\"proj/.git\"). Quote\n"
        "patterns so that the shell does not expand them.\n"
        "\n"
        "Names are shown with control characters escaped (\"\\n\", \"\\x1b\"), as ls -b\n"
        "shows them; they are packed and unpacked with their real bytes.\n"
        "\n"
        "PASSWORD is -p, which asks on the terminal (twice for a new container),\n"
        "or --password-file FILE, which reads the first line of FILE (\"-\" for\n"
        "standard input). A password is never taken from the command line.\n"
        "\n"
        "Without a password a container is no protection: the cipher has no key,\n"
        "and anyone with this program, or who knows the container format, can\n"
        "open it. With a password the archive inside is sealed by\n"
        "XChaCha20-Poly1305 under a key Argon2id derives from the password:\n"
        "nothing in it, not even the names, can be read without the password,\n"
        "and any change to it is found. A forgotten password cannot be recovered.\n"
        "\n"
        "Exit status: 0 on success, 1 when any item failed (one line per failure,\n"
        "or per damaged entry, on standard error; or when standard output cannot be\n"
        "written), 2 on a usage error. Ctrl+C, SIGTERM and SIGHUP (the terminal\n"
        "closed) cancel: encrypt leaves no partial container, temporary file or\n"
        "AddData folder it made, decrypt keeps the files it finished. What a\n"
        "successful run left out or changed (sockets, pipes, links, names the\n"
        "disk cannot hold) is named on standard error.\n")
        .arg(working_folder_name(), container_suffix());
}

// The mistake and where to read more; the whole help would bury the mistake.
int usage_error(const QString &message)
{
    std::fprintf(stderr, "corvanta-cli: %s\nTry 'corvanta-cli --help' for more information.\n",
                 qPrintable(message));
    return 2;
}

QString megabytes(qint64 bytes)
{
    return QString::number(double(bytes) / (1024.0 * 1024.0), 'f', 1) + QStringLiteral(" MB");
}

void print_failure(const QByteArray &path, const QString &reason)
{
    std::fprintf(stderr, "corvanta-cli: %s: %s\n", qPrintable(display_path(path)), qPrintable(reason));
}

// Options that take the next word as their value, by command.
QList<QByteArray> valued_options(const QByteArray &command)
{
    if (command == "encrypt")
        return {"-C", "-o", "-x", "-l", "--password-file"};
    if (command == "decrypt")
        return {"-C", "-i", "--password-file"};
    return {"--password-file"};
}

// Help is asked for by -h or --help among the options: before "--", and not
// as the value of an option.
bool asks_for_help(const QList<QByteArray> &args)
{
    const QList<QByteArray> valued = valued_options(args.value(0));
    for (qsizetype i = 0; i < args.size() && args[i] != "--"; ++i) {
        if (args[i] == "-h" || args[i] == "--help")
            return true;
        if (i > 0 && valued.contains(args[i]))
            ++i;
    }
    return false;
}

// What was printed must have reached standard output, as coreutils check:
// a listing cut short by a full disk is a failure.
int flush_output(int status)
{
    // Output longer than the buffer fails while it is written: that reason counts.
    const int earlier = std::ferror(stdout) ? errno : 0;
    errno = 0;
    if (std::fflush(stdout) == 0 && !std::ferror(stdout))
        return status;
    const int error = errno ? errno : earlier;
    std::fprintf(stderr, "corvanta-cli: cannot write to standard output%s%s\n", error ? ": " : "",
                 error ? std::strerror(error) : "");
    return 1;
}

// The operands after a command's options: "--" ends the options, any other
// word before it starting with "-" is unknown. Empty, with the usage error, when unusable.
QList<QByteArray> take_operands(const QList<QByteArray> &args, const QString &none_given, QString *error)
{
    QList<QByteArray> operands;
    bool options = true;
    for (const QByteArray &a : args) {
        if (options && a == "--") {
            options = false;
        } else if (options && a.startsWith('-') && a.size() > 1) {
            *error = QStringLiteral("unknown option \"%1\"").arg(display_path(a));
            return {};
        } else {
            operands.append(a);
        }
    }
    if (operands.isEmpty())
        *error = none_given;
    return operands;
}

// Where a password comes from: the terminal (-p) or the first line of a file
// (--password-file FILE, "-" for standard input). Never the command line or
// the environment, which other users can read in /proc.
struct Password_Source
{
    bool ask = false;
    QByteArray file;
    bool given() const { return ask || !file.isEmpty(); }
};

// Takes -p and --password-file FILE off the front of args; false with a usage
// error when --password-file has no file.
bool take_password_option(QList<QByteArray> *args, Password_Source *source, QString *error)
{
    if (args->first() == "-p") {
        args->removeFirst();
        source->ask = true;
        return true;
    }
    args->removeFirst(); // --password-file
    if (args->isEmpty() || args->first().isEmpty()) {
        *error = QStringLiteral("--password-file needs a file (\"-\" for standard input)");
        return false;
    }
    source->file = args->takeFirst();
    return true;
}

bool is_password_option(const QByteArray &arg)
{
    return arg == "-p" || arg == "--password-file";
}

// A line typed on the terminal without echo.
bool ask_on_terminal(const QString &prompt, QByteArray *line, QString *error)
{
    const int tty = ::open("/dev/tty", O_RDWR | O_CLOEXEC | O_NOCTTY);
    if (tty < 0) {
        *error = QStringLiteral("-p needs a terminal to ask on; give the password with --password-file");
        return false;
    }
    termios saved{};
    const bool echo_off = ::tcgetattr(tty, &saved) == 0;
    if (echo_off) {
        termios quiet = saved;
        quiet.c_lflag &= ~tcflag_t(ECHO);
        ::tcsetattr(tty, TCSAFLUSH, &quiet);
    }
    const QByteArray text = prompt.toLocal8Bit();
    [[maybe_unused]] const ssize_t shown = ::write(tty, text.constData(), size_t(text.size()));
    line->clear();
    char c = 0;
    ssize_t n = 0;
    while ((n = ::read(tty, &c, 1)) == 1 && c != '\n')
        line->append(c);
    if (echo_off)
        ::tcsetattr(tty, TCSAFLUSH, &saved);
    [[maybe_unused]] const ssize_t newline = ::write(tty, "\n", 1);
    ::close(tty);
    if (n < 0 || (n == 0 && line->isEmpty())) {
        *error = QStringLiteral("no password was typed");
        return false;
    }
    return true;
}

// The first line of the file, without its line end.
bool read_password_file(const QByteArray &file, QByteArray *line, QString *error)
{
    QFile in;
    const bool opened = file == "-" ? in.open(stdin, QIODevice::ReadOnly) : (in.setFileName(QFile::decodeName(file)),
                                                                            in.open(QIODevice::ReadOnly));
    if (!opened) {
        *error = QStringLiteral("%1: %2").arg(display_path(file), in.errorString());
        return false;
    }
    *line = in.readLine(4096);
    while (line->endsWith('\n') || line->endsWith('\r'))
        line->chop(1);
    return true;
}

// The password for a new container: typed twice, or read once.
bool password_for_packing(const Password_Source &source, Password *out, QString *error)
{
    QByteArray first, again;
    bool ok = source.ask ? ask_on_terminal(QStringLiteral("Password for the new container: "), &first, error)
                               && ask_on_terminal(QStringLiteral("The same password again: "), &again, error)
                         : read_password_file(source.file, &first, error);
    if (ok && source.ask && first != again) {
        *error = QStringLiteral("the two passwords differ");
        ok = false;
    }
    if (ok && first.isEmpty()) {
        *error = QStringLiteral("the password is empty");
        ok = false;
    }
    if (ok)
        *out = Password(first);
    wipe(first);
    wipe(again);
    return ok;
}

// The password of a protected container, each time one is asked for: a file
// is read once (trying it again would not change it), the terminal asked up
// to three times. Nothing given: the engine says the container is protected.
Password_Provider password_provider(const Password_Source &source)
{
    if (!source.given())
        return {};
    auto from_file = std::make_shared<Password>();
    return [source, from_file](const QString &container, int attempt, Password *out) {
        QString error;
        QByteArray line;
        if (source.ask) {
            if (attempt > 1)
                std::fputs("corvanta-cli: wrong password\n", stderr);
            if (!ask_on_terminal(QStringLiteral("Password for %1: ").arg(container), &line, &error)) {
                std::fprintf(stderr, "corvanta-cli: %s\n", qPrintable(error));
                return false;
            }
        } else {
            if (attempt > 1)
                return false;
            if (from_file->is_empty()) {
                if (!read_password_file(source.file, &line, &error)) {
                    std::fprintf(stderr, "corvanta-cli: %s\n", qPrintable(error));
                    return false;
                }
                *from_file = Password(line);
                wipe(line);
            }
            *out = *from_file;
            return !out->is_empty();
        }
        *out = Password(line);
        wipe(line);
        return true;
    };
}

// A command's options, anywhere before "--", and its operands. Each option
// in valued takes the next word ("-x PATTERN") or the rest of its own
// ("-xPATTERN"); each in flags takes none. take gets every option in order
// and returns a usage error, or an empty string. Empty, with the usage error, when unusable.
QList<QByteArray> take_options(const QList<QByteArray> &args, const QList<QByteArray> &valued,
                               const QList<QByteArray> &flags, const QString &none_given,
                               const std::function<QString(const QByteArray &, const QByteArray &)> &take,
                               QString *error)
{
    QList<QByteArray> rest;
    qsizetype i = 0;
    for (; i < args.size() && args[i] != "--"; ++i) {
        const QByteArray &a = args[i];
        const QByteArray option = a.left(2);
        if (flags.contains(a)) {
            *error = take(a, QByteArray());
        } else if (valued.contains(a)) {
            if (i + 1 >= args.size()) {
                *error = QStringLiteral("%1 needs a value").arg(QString::fromUtf8(a));
                return {};
            }
            *error = take(a, args[++i]);
        } else if (a.size() > 2 && valued.contains(option)) {
            *error = take(option, a.mid(2));
        } else {
            rest.append(a);
            continue;
        }
        if (!error->isEmpty())
            return {};
    }
    for (; i < args.size(); ++i)
        rest.append(args[i]);
    return take_operands(rest, none_given, error);
}

// Runs the pipeline with a progress line on a terminal and Ctrl+C as a cancel.
Package_Result run_job(const std::function<Package_Result(Job_Control *)> &job)
{
    Job_Control control;
    const bool show_progress = ::isatty(STDERR_FILENO) == 1;
    if (show_progress) {
        control.set_progress_handler([](qint64 done, qint64 total) {
            const int percent = total > 0 ? int(qMin(done, total) * 100 / total) : 0;
            std::fprintf(stderr, "\r%3d%%  %s of %s   ", percent, qPrintable(megabytes(done)),
                         qPrintable(megabytes(total)));
            std::fflush(stderr);
        });
    }
    // Tests hold a run at a named point and act on it there: kill it, or cancel it.
    if (const auto held = run_point_named(qEnvironmentVariable("CORVANTA_HOLD_AT"))) {
        control.hold_at(*held);
        control.set_point_handler([held](Run_Point point) {
            if (point == *held)
                std::fprintf(stderr, "corvanta-cli: held at %s\n", qPrintable(run_point_name(point)));
        });
    }
    Package_Result result;
    {
        Interrupt_Watch watch(&control);
        result = job(&control);
    }
    if (show_progress)
        std::fputs("\n", stderr);
    return result;
}

// What a decryption did with the files, when there is more to say than that they were written.
void report_files(const Package_Result &result)
{
    if (result.is_encryption || (result.files_already_there == 0 && result.kept_beside.isEmpty()))
        return;
    std::fprintf(stderr, "corvanta-cli: %lld files unpacked, %lld already there", static_cast<long long>(result.files_written),
                 static_cast<long long>(result.files_already_there));
    if (!result.kept_beside.isEmpty())
        std::fprintf(stderr, ", %lld kept beside a different file:", static_cast<long long>(result.kept_beside.size()));
    std::fputs("\n", stderr);
    for (const QString &path : result.kept_beside)
        std::fprintf(stderr, "  %s\n", qPrintable(path));
}

int report_result(const Package_Result &result)
{
    for (const QString &line : result.warnings)
        std::fprintf(stderr, "corvanta-cli: warning: %s\n", qPrintable(line));
    report_files(result);
    // Every folder that was filled, also when another container failed.
    for (const QString &folder : result.output_folders)
        std::printf("%s\n", qPrintable(folder));
    if (result.is_ok) {
        if (!result.container_path.isEmpty())
            std::printf("%s\n", qPrintable(result.container_path));
        return 0;
    }
    for (const QString &line : result.errors)
        std::fprintf(stderr, "corvanta-cli: %s\n", qPrintable(line));
    if (result.errors.isEmpty())
        std::fprintf(stderr, "corvanta-cli: failed\n");
    // Unpacked files stay, and the user should know a second run completes them.
    if (result.is_cancelled && !result.is_encryption)
        std::fprintf(stderr, "corvanta-cli: the files unpacked before the cancel were kept; "
                             "run it again to complete the rest\n");
    return 1;
}

int encrypt_command(const QList<QByteArray> &args)
{
    QByteArray base_dir = ".";
    Pack_Options options;
    Password_Source password;
    bool base_given = false;
    QString error;
    const QList<QByteArray> paths = take_options(
        args, valued_options("encrypt"), {"--verify", "-p"}, QStringLiteral("no files or folders given"),
        [&](const QByteArray &option, const QByteArray &value) {
            if (option == "-p") {
                password.ask = true;
            } else if (option == "--password-file") {
                if (value.isEmpty())
                    return QStringLiteral("--password-file needs a file (\"-\" for standard input)");
                password.file = value;
            } else if (option == "--verify") {
                options.verify = true;
            } else if (option == "-C") {
                base_dir = value.isEmpty() ? QByteArray(".") : value;
                base_given = true;
            } else if (option == "-o") {
                if (value.isEmpty())
                    return QStringLiteral("-o needs a file name");
                options.output_file = value;
            } else if (option == "-x") {
                options.exclude.append(value);
            } else if (option == "-l") {
                bool ok = false;
                options.level = value.toInt(&ok);
                if (!ok || value.size() != 1 || options.level < 0 || options.level > 9)
                    return QStringLiteral("-l takes a level from 0 to 9, not \"%1\"").arg(display_path(value));
            }
            return QString();
        },
        &error);
    if (paths.isEmpty())
        return usage_error(error);
    if (base_given && !options.output_file.isEmpty())
        return usage_error(QStringLiteral("-C and -o cannot be given together: -o names the container's place"));
    if (password.given() && !password_for_packing(password, &options.password, &error)) {
        std::fprintf(stderr, "corvanta-cli: %s\n", qPrintable(error));
        return 1;
    }
    // The engine tells files from folders itself.
    const Package_Result result = run_job([&](Job_Control *control) {
        return run_encryption(paths, QList<QByteArray>(), base_dir, control, options);
    });
    // Counted, not named one by one: -x is often given to leave out thousands.
    if (result.excluded_count > 0)
        std::fprintf(stderr, "corvanta-cli: %lld entries left out by -x\n", static_cast<long long>(result.excluded_count));
    return report_result(result);
}

// The password options before a command's operands.
bool take_password_options(QList<QByteArray> *args, Password_Source *password, QString *error)
{
    while (!args->isEmpty() && is_password_option(args->first()))
        if (!take_password_option(args, password, error))
            return false;
    return true;
}

int decrypt_command(const QList<QByteArray> &args)
{
    Unpack_Options options;
    Password_Source password;
    QString error;
    const QList<QByteArray> containers = take_options(
        args, valued_options("decrypt"), {"-p", "--salvage"}, QStringLiteral("no containers given"),
        [&](const QByteArray &option, const QByteArray &value) {
            if (option == "-p" || option == "--salvage") {
                (option == "-p" ? password.ask : options.salvage) = true;
                return QString();
            }
            if (value.isEmpty())
                return option == "--password-file"
                           ? QStringLiteral("--password-file needs a file (\"-\" for standard input)")
                           : QStringLiteral("%1 needs a value").arg(QString::fromUtf8(option));
            if (option == "-C")
                options.destination = value;
            else if (option == "--password-file")
                password.file = value;
            else
                options.include.append(value);
            return QString();
        },
        &error);
    if (containers.isEmpty())
        return usage_error(error);
    options.ask_password = password_provider(password);
    return report_result(run_job([&](Job_Control *control) { return run_decryption(containers, control, options); }));
}

// list and test: each container in turn, writing no file; 1 when any failed.
int read_containers(QList<QByteArray> args,
                    const std::function<bool(const QByteArray &, const QList<QByteArray> &, const Password_Provider &)> &read)
{
    QString error;
    Password_Source password;
    if (!take_password_options(&args, &password, &error))
        return usage_error(error);
    const QList<QByteArray> containers = take_operands(args, QStringLiteral("no containers given"), &error);
    if (containers.isEmpty())
        return usage_error(error);
    const Password_Provider ask = password_provider(password);
    bool all_ok = true;
    for (const QByteArray &path : containers)
        all_ok = read(path, containers, ask) && all_ok;
    return all_ok ? 0 : 1;
}

// One line per entry; several containers are told apart as ls tells folders apart.
// Entries that unpacking would refuse are named on standard error, as decrypt names them.
bool list_one(const QByteArray &path, const QList<QByteArray> &containers, const Password_Provider &ask)
{
    QStringList refused;
    QString reason;
    bool headed = containers.size() == 1;
    const auto head = [&] {
        if (!headed)
            std::printf("%s%s:\n", path == containers.first() ? "" : "\n", qPrintable(display_path(path)));
        headed = true;
    };
    const bool ok = list_container(
        path,
        [&](const Container_Entry &e) {
            head();
            const QString when = e.modified.isValid() ? e.modified.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"))
                                                      : QStringLiteral("-------------------");
            std::printf("%12lld  %s  %s\n", static_cast<long long>(e.size), qPrintable(when), qPrintable(e.name));
        },
        &refused, &reason, ask);
    if (!ok) {
        print_failure(path, reason);
        return false;
    }
    head();
    for (const QString &line : std::as_const(refused))
        print_failure(path, line);
    return refused.isEmpty();
}

// Reads every entry through the decipher and checks it.
bool test_one(const QByteArray &path, const QList<QByteArray> &, const Password_Provider &ask)
{
    QStringList damaged;
    QString reason;
    if (!test_container(path, &damaged, &reason, ask)) {
        print_failure(path, reason);
        return false;
    }
    for (const QString &line : std::as_const(damaged))
        print_failure(path, line);
    if (damaged.isEmpty())
        std::printf("%s: OK\n", qPrintable(display_path(path)));
    return damaged.isEmpty();
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationVersion(QStringLiteral(CORVANTA_VERSION));
    // Paths as the system gave them: Qt's decoded arguments lose bytes that are not UTF-8.
    QList<QByteArray> args;
    for (int i = 1; i < argc; ++i)
        args.append(QByteArray(argv[i]));

    if (args.isEmpty())
        return usage_error(QStringLiteral("missing command"));
    if (asks_for_help(args)) {
        std::fputs(qPrintable(usage_text()), stdout);
        return flush_output(0);
    }
    if (args.first() == "--version") {
        std::printf("corvanta-cli %s\n", CORVANTA_VERSION);
        return flush_output(0);
    }

    const QByteArray command = args.takeFirst();
    if (command == "encrypt")
        return flush_output(encrypt_command(args));
    if (command == "decrypt")
        return flush_output(decrypt_command(args));
    if (command == "list")
        return flush_output(read_containers(args, list_one));
    if (command == "test")
        return flush_output(read_containers(args, test_one));
    // An option before the command is no command: say which it is.
    if (command.startsWith('-'))
        return usage_error(QStringLiteral("unknown option \"%1\"").arg(display_path(command)));
    return usage_error(QStringLiteral("unknown command \"%1\"").arg(display_path(command)));
}
