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
    window.show();
    return app.exec();
}
