#include "Basic_Style.h"
#include "Pellanor.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Corvanta"));
    // Lets the desktop match the window to the installed entry and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("corvanta"));

    // English texts; must be set before anything builds the text set.
    ui_language = 0;

    Pellanor window(nullptr);
    window.init_window();
    // Paths from the file manager ("Open with", a double click on a container).
    window.open_paths(QCoreApplication::arguments().mid(1));
    window.show();
    return app.exec();
}
