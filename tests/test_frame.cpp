// SPDX-License-Identifier: GPL-3.0-or-later
#include "Basic_From_Obj.h"
#include "Basic_From_Top.h"
#include "Basic_Style.h"
#include "KT_Button.h"

#include <QAccessible>
#include <QLabel>
#include <QScreen>
#include <QSizeGrip>
#include <QtTest>

namespace {

class Test_Window : public Basic_From_Obj
{
public:
    using Basic_From_Obj::Basic_From_Obj;
    void window_hook() override {}
};

// A mouse event on w at a point given in screen coordinates.
void mouse(QWidget* w, QTest::MouseAction action, QPoint global, Qt::MouseButton b = Qt::LeftButton)
{
    QTest::mouseEvent(action, w, b, {}, w->mapFromGlobal(global));
}

// Whether the button carries the named strip, loaded from the resource bundle.
bool has_strip(const KT_Button* button, const QString& name)
{
    const QImage bundled(":/Pellanor/Resources/" + name + ".png");
    const auto argb = [](const QImage& image) { return image.convertToFormat(QImage::Format_ARGB32); };
    return !bundled.isNull() && argb(button->strip.toImage()) == argb(bundled);
}

// A shown window with its frame and a known place on the screen.
void build(Test_Window& window, QRect geometry = QRect(20, 30, 450, 200))
{
    window.init_frame();
    window.setGeometry(geometry);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
}

} // namespace

// Zero-spacing grid, title bar and frameless window base.
class Test_Frame : public QObject
{
    Q_OBJECT

private slots:
    void init() { title_bar_color = 0xFF000000; }

    void frameLayoutAndTitle()
    {
        Test_Window window;
        build(window, QRect(20, 30, 600, 420));
        Basic_From_Top* bar = window.title_bar;
        window.set_title(QStringLiteral("  Corvanta"));
        QCOMPARE(QStringList({window.windowTitle(), bar->title_label->text()}), QStringList(2, "  Corvanta"));
        // The packed colour drops its top byte: the bar comes out opaque.
        QCOMPARE(bar->palette().color(QPalette::Window), QColor(Qt::black));

        // The frame's grids have neither spacing nor margins: edge to edge.
        QCOMPARE(bar->geometry(), QRect(0, 0, 600, 53));
        QCOMPARE(window.content_area->geometry(), QRect(0, 53, 600, 367));

        // Extra room goes to the content area; the bar keeps its height.
        window.resize(800, 600);
        QTRY_COMPARE(window.content_area->geometry(), QRect(0, 53, 800, 547));
        QCOMPARE(bar->geometry(), QRect(0, 0, 800, 53));
    }

    // Through the maximise button or a double click on the bar (any mouse
    // button); maximising takes the available area of the window's own screen.
    void maximiseThenRestore_data()
    {
        QTest::addColumn<int>("double_click"); // a mouse button, 0 for the maximise button
        QTest::newRow("max button") << 0;
        QTest::newRow("left double click") << int(Qt::LeftButton);
    }
    void maximiseThenRestore()
    {
        QFETCH(int, double_click);
        Test_Window window;
        const QRect normal(20, 30, 450, 200);
        build(window, normal);
        Basic_From_Top* bar = window.title_bar;
        QSizeGrip* grip = window.size_grip;
        for (bool maximise : {true, false}) {
            if (double_click)
                mouse(bar, QTest::MouseDClick, bar->mapToGlobal(QPoint(100, 40)),
                      Qt::MouseButton(double_click));
            else
                QTest::mouseClick(bar->max_button, Qt::LeftButton);
            QCOMPARE(bar->is_max, maximise);
            // A press on the button is not a drag of the bar.
            QVERIFY(!bar->is_pressed);
            QTRY_COMPARE(window.geometry(), maximise ? window.screen()->availableGeometry() : normal);
            QVERIFY(has_strip(bar->max_button, maximise ? "restore" : "max"));
            QTRY_COMPARE(grip->isVisible(), !maximise);
            // Only the geometry changes, never the platform's window state.
            QVERIFY(!window.isMaximized());
        }
        QTRY_COMPARE(grip->geometry().bottomRight(), window.rect().bottomRight());
    }

    // A screen reader finds the title bar's pictures as named buttons it can
    // press, and pressing them minimises, maximises and closes.
    void titleButtonsAreNamedButtons_data()
    {
        QTest::addColumn<QString>("which");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("after_press");
        QTest::newRow("minimise") << "min" << "Minimise" << "Minimise";
        QTest::newRow("maximise") << "max" << "Maximise" << "Restore";
        QTest::newRow("close") << "close" << "Close" << "Close";
    }

    void titleButtonsAreNamedButtons()
    {
        QFETCH(QString, which);
        QFETCH(QString, name);
        QFETCH(QString, after_press);
        Test_Window window;
        build(window);
        Basic_From_Top* bar = window.title_bar;
        KT_Button* button = which == "min" ? bar->min_button : which == "max" ? bar->max_button : bar->close_button;
        QAccessibleInterface* face = QAccessible::queryAccessibleInterface(button);
        QVERIFY(face);
        QCOMPARE(face->role(), QAccessible::Button);
        QCOMPARE(face->text(QAccessible::Name), name);
        QVERIFY(!face->state().invisible);
        QCOMPARE(face->actionInterface()->actionNames(), QStringList{QAccessibleActionInterface::pressAction()});
        face->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        QCOMPARE(face->text(QAccessible::Name), after_press);
        if (which == "close")
            QTRY_VERIFY(!window.isVisible());
        else if (which == "min")
            QTRY_VERIFY(window.isMinimized());
    }

    // The bar drags the window, but never leaves it above the top of the
    // screen, out of reach: pulled back there on release, x kept.
    void dragKeepsTheBarOnScreen()
    {
        Test_Window window;
        build(window, QRect(100, 100, 450, 200));
        Basic_From_Top* bar = window.title_bar;
        const QPoint start = window.pos();
        const QPoint grab = start + QPoint(50, 10);
        mouse(bar, QTest::MousePress, grab);
        mouse(bar, QTest::MouseMove, QPoint(grab.x() + 40, 0));
        QTRY_COMPARE(window.pos(), QPoint(start.x() + 40, -10));
        mouse(bar, QTest::MouseRelease, QPoint(grab.x() + 40, 0));
        QTRY_COMPARE(window.pos(), QPoint(start.x() + 40, 0));
    }
};

QTEST_MAIN(Test_Frame)
#include "test_frame.moc"
