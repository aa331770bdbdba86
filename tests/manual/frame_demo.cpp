// Shows a bare frameless window for a look by eye. With --screenshot FILE it
// grabs itself into FILE after it is shown and quits.
#include "Basic_From_Obj.h"
#include "Basic_Style.h"

#include <QApplication>
#include <QTimer>

namespace {

class Demo_Window : public Basic_From_Obj
{
public:
    void window_hook() override {}
};

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    ui_language = 0;
    title_bar_color = 0xFF000000;

    Demo_Window window;
    window.resize(600, 420);
    window.init_frame();
    window.set_title(QStringLiteral("  Corvanta"));
    // Grey content, so the white line under the title bar stands out.
    set_widget_color_rgb(window.content_area, 0xC0C0C0, 0);
    window.move(40, 40);
    window.show();

    const QStringList args = app.arguments();
    const int at = args.indexOf(QStringLiteral("--screenshot"));
    if (at > 0 && at + 1 < args.size()) {
        const QString file = args.at(at + 1);
        QTimer::singleShot(500, &window, [&window, file] {
            window.grab().save(file);
            window.close();
        });
    }
    return app.exec();
}
