#include "Basic_Style.h"
#include "Pellanor.h"
#include "close_on_signals.h"
#include "start_place.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>

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

    QApplication app(argc, argv);
    set_up(&parser);
    parser.process(app);
    const bool pack = parser.isSet(QStringLiteral("pack"));
    const bool unpack = parser.isSet(QStringLiteral("unpack"));
    const QStringList paths = parser.positionalArguments();
    if ((pack && unpack) || ((pack || unpack) && paths.isEmpty())) {
        std::fputs(pack && unpack ? "corvanta: --pack and --unpack exclude each other\n"
                                  : "corvanta: --pack and --unpack need paths\n",
                   stderr);
        std::fputs("Try 'corvanta --help' for more information.\n", stderr);
        return 2;
    }
    QCoreApplication::setApplicationName(QStringLiteral("Corvanta"));
    // Lets the desktop match the window to the installed entry and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("corvanta"));

    // English texts; must be set before anything builds the text set.
    ui_language = 0;

    Pellanor window(nullptr);
    window.init_window();
    close_on_signals(&window);
    // Paths from the file manager ("Open with", a double click, its menus).
    using Mode = Pellanor::Open_Mode;
    window.open_paths(paths, pack ? Mode::Pack : unpack ? Mode::Unpack : Mode::By_Kind, pack || unpack);
    // Packing from a file manager's menu makes the container beside what was chosen.
    if (pack)
        window.set_base_folder(
            choose_base_dir(QFileInfo(QDir::current(), paths.first()).absolutePath(), QDir::homePath()));
    window.place_on_screen();
    window.show();
    return app.exec();
}
