// SPDX-License-Identifier: GPL-3.0-or-later
#include "Basic_From_Obj.h"
#include "Basic_From_Top.h"
#include "Basic_Style.h"
#include "KT_Button.h"
#include "KT_Widget.h"

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
    int hook_calls = 0;
    void window_hook() override { ++hook_calls; }
};

// A mouse event on w at a point given in screen coordinates.
void mouse(QWidget* w, QTest::MouseAction action, QPoint global, Qt::MouseButton b = Qt::LeftButton)
{
    QTest::mouseEvent(action, w, b, {}, w->mapFromGlobal(global));
}

// Whether the button carries the named strip from the resource bundle.
bool has_strip(const KT_Button* button, const QString& name)
{
    const auto argb = [](const QImage& image) { return image.convertToFormat(QImage::Format_ARGB32); };
    return argb(button->strip.toImage()) == argb(QImage(":/Pellanor/Resources/" + name + ".png"));
}

// Where a widget was moved to, in order.
class Move_Log : public QObject
{
public:
    explicit Move_Log(QWidget* w) { w->installEventFilter(this); }
    QList<QPoint> moves;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Move)
            moves.append(static_cast<QMoveEvent*>(event)->pos());
        return false;
    }
};

// A shown window with its frame and a known place on the screen.
void build(Test_Window& window, QRect geometry = QRect(20, 30, 450, 200))
{
    window.init_frame();
    window.setGeometry(geometry);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
}

} // namespace

// Widget registry, zero-spacing grid, title bar, frameless window base and
// the colour helper.
class Test_Frame : public QObject
{
    Q_OBJECT

private slots:
    void init() { title_bar_color = 0xFF000000; }

    // Ids are never reused; a window takes its title bar out with it.
    void registryForgetsTheDead()
    {
        auto* first = new Test_Window;
        const int first_id = first->widget_id;
        first->init_frame();
        const int bar_id = first->title_bar->widget_id;
        delete first;
        QVERIFY(!KT_Widget::widget_map.contains(first_id) && !KT_Widget::widget_map.contains(bar_id));
        Test_Window second;
        QCOMPARE(second.widget_id, bar_id + 1);
        QCOMPARE(KT_Widget::widget_map.value(second.widget_id), static_cast<KT_Widget*>(&second));
    }

    void frameLayoutAndTitle()
    {
        Test_Window window;
        QVERIFY(window.windowFlags().testFlag(Qt::FramelessWindowHint));
        build(window, QRect(20, 30, 600, 420));
        Basic_From_Top* bar = window.title_bar;
        window.set_title(QStringLiteral("  Corvanta"));
        QCOMPARE(QStringList({window.windowTitle(), bar->title_label->text()}), QStringList(2, "  Corvanta"));

        // The frame's grids have neither spacing nor margins: edge to edge.
        QCOMPARE(bar->geometry(), QRect(0, 0, 600, 53));
        QCOMPARE(window.content_area->geometry(), QRect(0, 53, 600, 367));
        QCOMPARE(bar->close_button->geometry().translated(bar->close_button->parentWidget()->mapTo(&window, QPoint())),
                 QRect(600 - 5 - 30 + 7, 0, 16, 26));

        // Extra room goes to the content area; the bar keeps its height.
        window.resize(800, 600);
        QTRY_COMPARE(window.content_area->geometry(), QRect(0, 53, 800, 547));
        QCOMPARE(bar->geometry(), QRect(0, 0, 800, 53));
    }

    // Through the maximise button or a double click on the bar with any
    // button; maximising takes the available area of the window's own screen.
    void maximiseThenRestore_data()
    {
        QTest::addColumn<int>("double_click"); // a mouse button, 0 for the maximise button
        QTest::newRow("max button") << 0;
        QTest::newRow("left double click") << int(Qt::LeftButton);
        QTest::newRow("right double click") << int(Qt::RightButton);
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
            QCOMPARE(window.hook_calls, maximise ? 1 : 2);
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

    void dragMovesClampsTopEdgeAndStopsWhileMaximised()
    {
        Test_Window window;
        build(window, QRect(100, 100, 450, 200));
        Basic_From_Top* bar = window.title_bar;
        const QPoint start = window.pos();
        const QPoint grab = start + QPoint(50, 10);
        mouse(bar, QTest::MousePress, grab);
        mouse(bar, QTest::MouseMove, grab + QPoint(30, -20));
        QTRY_COMPARE(window.pos(), start + QPoint(30, -20));
        // Above the top of the screen while held...
        mouse(bar, QTest::MouseMove, QPoint(grab.x() + 40, 0));
        QTRY_COMPARE(window.pos(), QPoint(start.x() + 40, -10));
        // ...and pulled back to the top on release, x kept.
        mouse(bar, QTest::MouseRelease, QPoint(grab.x() + 40, 0));
        QTRY_COMPARE(window.pos(), QPoint(start.x() + 40, 0));
        // Moves without a press do nothing.
        mouse(bar, QTest::MouseMove, QPoint(300, 300));
        QCOMPARE(window.pos(), QPoint(start.x() + 40, 0));

        const QRect normal = window.geometry();
        bar->slot_MaxorRestore();
        QTRY_COMPARE(window.geometry(), window.screen()->availableGeometry());
        // A drag while maximised, then a restore: events arrive in order, so
        // once the restore shows, a move the drag had asked for shows before it.
        const Move_Log log(&window);
        mouse(bar, QTest::MousePress, QPoint(60, 10));
        mouse(bar, QTest::MouseMove, QPoint(160, 110));
        mouse(bar, QTest::MouseRelease, QPoint(160, 110));
        bar->slot_MaxorRestore();
        QTRY_COMPARE(window.geometry(), normal);
        QCOMPARE(log.moves, QList<QPoint>({normal.topLeft()}));
    }

    // Also run at a device pixel ratio of 2, where the sizes above stay
    // logical; the hover bar, rows 1 and 2 of the button, is drawn scaled.
    void hiDpiDrawsScaled()
    {
        Test_Window window;
        build(window);
        KT_Button* close = window.title_bar->close_button;
        close->show_state(2);
        const qreal dpr = window.devicePixelRatioF();
        const QPoint bar = close->mapTo(&window, QPoint(8, 2));
        QCOMPARE(window.grab().toImage().pixelColor(qRound((bar.x() + 0.5) * dpr), qRound((bar.y() - 0.5) * dpr)),
                 QColor(224, 87, 87));
    }

    // Widget colours through the packed form, which drops the top byte.
    void colorKinds_data()
    {
        QTest::addColumn<int>("rgb");
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("role");
        QTest::addColumn<QColor>("expected");
        QTest::newRow("black from 0xFF000000") << int(0xFF000000) << 0 << int(QPalette::Window) << QColor(0, 0, 0);
        QTest::newRow("base") << int(0x7F0A141E) << 1 << int(QPalette::Base) << QColor(10, 20, 30);
        QTest::newRow("dark") << 0x0A141E << 2 << int(QPalette::Dark) << QColor(10, 20, 30);
        QTest::newRow("none") << 0x0A141E << 3 << -1 << QColor();
    }
    void colorKinds()
    {
        QFETCH(int, rgb);
        QFETCH(int, kind);
        QFETCH(int, role);
        QFETCH(QColor, expected);
        QWidget widget;
        // An earlier colouring must not survive: the palette starts afresh.
        QPalette old = widget.palette();
        for (auto r : {QPalette::Window, QPalette::Base, QPalette::Dark})
            old.setColor(r, QColor(1, 2, 3));
        widget.setPalette(old);

        QVERIFY(set_widget_color_rgb(&widget, rgb, kind));
        QVERIFY(widget.autoFillBackground());
        const QPalette app = QApplication::palette();
        for (auto r : {QPalette::Window, QPalette::Base, QPalette::Dark})
            for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
                // QColor equality includes alpha: the colour must come out opaque.
                QCOMPARE(widget.palette().color(group, r), r == role ? expected : app.color(group, r));
    }
};

QTEST_MAIN(Test_Frame)
#include "test_frame.moc"
