// SPDX-License-Identifier: GPL-3.0-or-later
#include "Basic_Style.h"
#include "Basic_Text.h"
#include "Pellanor.h"
#include "close_on_signals.h"
#include "start_place.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QTimer>

#include <cstdio>
#include <cstring>

namespace {

void set_up(QCommandLineParser *parser)
{
    QCoreApplication::setApplicationName(QStringLiteral("corvanta"));
    QCoreApplication::setApplicationVersion(QStringLiteral(CORVANTA_VERSION));
    parser->setApplicationDescription(QStringLiteral(
        "Packs files and folders into one container (.kvxdata) and unpacks containers.\n"
        "Paths are listed in the window: only containers open decryption mode.\n"
        "The cipher has no key: a container is no protection."));
    parser->addHelpOption();
    parser->addVersionOption();
    parser->addOption({QStringLiteral("pack"),
                       QStringLiteral("Packs the paths at once, into AddData beside the first path.")});
    parser->addOption({QStringLiteral("unpack"),
                       QStringLiteral("Unpacks the containers at once, each beside itself.")});
    parser->addOption({QStringLiteral("unpack-to"),
                       QStringLiteral("Asks for a folder, then unpacks the containers into it.")});
    parser->addPositionalArgument(QStringLiteral("paths"), QStringLiteral("Files, folders or containers to list."),
                                  QStringLiteral("[PATH...]"));
}

// Help and version need no display: answer them before the window's application starts.
bool asks_for_text(int argc, char *argv[])
{
    for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i)
        for (const char *option : {"-h", "--help", "--help-all", "-v", "--version"})
            if (std::strcmp(argv[i], option) == 0)
                return true;
    return false;
}

// The platform Qt would pick has nothing to show the window on: Qt would
// abort with its own message. Only the usual desktop platforms are judged.
bool no_display(int argc, char *argv[])
{
    for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i)
        if (std::strcmp(argv[i], "-platform") == 0)
            return false;
    const QString platform = qEnvironmentVariable("QT_QPA_PLATFORM");
    if (!platform.isEmpty() && !platform.startsWith(QLatin1String("xcb")) && !platform.startsWith(QLatin1String("wayland")))
        return false;
    return qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

int usage_error(const QString &message)
{
    std::fprintf(stderr, "corvanta: %s\nTry 'corvanta --help' for more information.\n", qPrintable(message));
    return 2;
}

// What is wrong with the arguments, or nothing.
QString misuse(QCommandLineParser *parser, const QStringList &arguments)
{
    if (!parser->parse(arguments))
        return parser->errorText();
    const bool pack = parser->isSet(QStringLiteral("pack"));
    const bool unpack = parser->isSet(QStringLiteral("unpack")) || parser->isSet(QStringLiteral("unpack-to"));
    if (pack && unpack)
        return QStringLiteral("--pack and --unpack exclude each other");
    if ((pack || unpack) && parser->positionalArguments().isEmpty())
        return QStringLiteral("--pack and --unpack need paths");
    return QString();
}

} // namespace

int main(int argc, char *argv[])
{
    QCommandLineParser parser;
    if (asks_for_text(argc, argv)) {
        QCoreApplication app(argc, argv);
        set_up(&parser);
        parser.process(app);  // prints and exits
        return 0;
    }

    set_up(&parser);
    if (no_display(argc, argv)) {
        // Misuse is still a usage error; Qt would only abort.
        QStringList arguments;
        for (int i = 0; i < argc; ++i)
            arguments.append(QString::fromLocal8Bit(argv[i]));
        if (const QString wrong = misuse(&parser, arguments); !wrong.isEmpty())
            return usage_error(wrong);
        std::fputs("corvanta: no display to show the window on (neither DISPLAY nor WAYLAND_DISPLAY is set)\n",
                   stderr);
        return 1;
    }

    QApplication app(argc, argv);
    // Qt has taken its own options out of the arguments by now.
    if (const QString wrong = misuse(&parser, QCoreApplication::arguments()); !wrong.isEmpty())
        return usage_error(wrong);
    const bool pack = parser.isSet(QStringLiteral("pack"));
    const bool unpack_to = parser.isSet(QStringLiteral("unpack-to"));
    const bool unpack = parser.isSet(QStringLiteral("unpack")) || unpack_to;
    const QStringList paths = parser.positionalArguments();
    QCoreApplication::setApplicationName(QStringLiteral("Corvanta"));
    // Lets the desktop match the window to the installed entry and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("corvanta"));

    // English unless the user's locale asks for Chinese; before anything builds the text set.
    use_language_of(QLocale::system());

    Pellanor window(nullptr);
    window.init_window();
    close_on_signals(&window);
    // Paths from the file manager ("Open with", a double click, its menus).
    using Mode = Pellanor::Open_Mode;
    window.open_paths(paths, pack ? Mode::Pack : unpack ? Mode::Unpack : Mode::By_Kind, (pack || unpack) && !unpack_to);
    // Packing from a file manager's menu makes the container beside what was chosen.
    if (pack)
        window.set_base_folder(
            choose_base_dir(QFileInfo(QDir::current(), paths.first()).absolutePath(), QDir::homePath()));
    window.place_on_screen();
    window.show();
    // The folder is asked for once the window shows.
    if (unpack_to)
        QTimer::singleShot(0, &window, &Pellanor::unpack_listed_to);
    return app.exec();
}
