#include "Basic_From_Obj.h"
#include "Basic_From_Top.h"
#include "Basic_Style.h"
#include "KT_Button.h"
#include "KT_Widget.h"

#include <QLabel>
#include <QMouseEvent>
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

class Plain_Widget : public KT_QWidget_Obj
{
public:
    void window_hook() override {}
};

void mouse(QWidget* w, QEvent::Type type, QPoint global, Qt::MouseButton b = Qt::LeftButton)
{
    const QPointF local = w->mapFromGlobal(QPointF(global));
    const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton
                                  : type == QEvent::MouseMove        ? Qt::MouseButtons(Qt::LeftButton)
                                                                     : Qt::MouseButtons(b);
    QMouseEvent e(type, local, QPointF(global), type == QEvent::MouseMove ? Qt::NoButton : b, held,
                  Qt::NoModifier);
    QCoreApplication::sendEvent(w, &e);
}

void click(KT_Button* button)
{
    mouse(button, QEvent::MouseButtonPress, button->mapToGlobal(QPoint(3, 3)));
    mouse(button, QEvent::MouseButtonRelease, button->mapToGlobal(QPoint(3, 3)));
}

// Whether the button carries the named strip from the resource bundle.
bool has_strip(const KT_Button* button, const QString& name)
{
    const auto argb = [](const QImage& image) { return image.convertToFormat(QImage::Format_ARGB32); };
    return argb(button->strip.toImage()) == argb(QImage(":/Pellanor/Resources/" + name + ".png"));
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

// Widget registry, zero-spacing grid, title bar and frameless window base.
class Test_Frame : public QObject
{
    Q_OBJECT

private slots:
    void init() { title_bar_color = 0xFF000000; }

    void registryNeverReusesIdsAndForgetsTheDead()
    {
        auto* first = new Plain_Widget;
        auto* second = new Plain_Widget;
        const int first_id = first->widget_id;
        QCOMPARE(second->widget_id, first_id + 1);
        delete first;
        QVERIFY(!KT_Widget::widget_map.contains(first_id));
        auto* third = new Plain_Widget;
        QCOMPARE(third->widget_id, second->widget_id + 1);
        QCOMPARE(KT_Widget::widget_map.value(third->widget_id), static_cast<KT_Widget*>(third));
        delete second;
        delete third;

        // A window takes its title bar out of the registry with it.
        const int before = KT_Widget::widget_map.size();
        auto* window = new Test_Window;
        window->init_frame();
        const int window_id = window->widget_id;
        const int bar_id = window->title_bar->widget_id;
        QCOMPARE(KT_Widget::widget_map.size(), before + 2);
        delete window;
        QVERIFY(!KT_Widget::widget_map.contains(window_id));
        QVERIFY(!KT_Widget::widget_map.contains(bar_id));
        QCOMPARE(KT_Widget::widget_map.size(), before);
    }

    void frameLayoutAndTitle()
    {
        // A parent is ignored: always a frameless top-level window.
        QWidget parent;
        Test_Window window(&parent);
        QVERIFY(window.isWindow());
        QVERIFY(window.windowFlags().testFlag(Qt::FramelessWindowHint));
        window.set_title(QStringLiteral("early")); // no bar yet
        QCOMPARE(window.windowTitle(), QStringLiteral("early"));

        build(window, QRect(20, 30, 600, 420));
        Basic_From_Top* bar = window.title_bar;
        QCOMPARE(bar->title_label->text(), QStringLiteral("  \u8FD9\u662F\u4EC0\u4E48"));
        window.set_title(QStringLiteral("  Corvanta"));
        QCOMPARE(window.windowTitle(), QStringLiteral("  Corvanta"));
        QCOMPARE(bar->title_label->text(), QStringLiteral("  Corvanta"));

        // The frame's grids have neither spacing nor margins: edge to edge.
        QCOMPARE(bar->geometry(), QRect(0, 0, 600, 53));
        QCOMPARE(window.content_area->geometry(), QRect(0, 53, 600, 367));
        QCOMPARE(bar->title_line->geometry(), QRect(0, 51, 600, 2));
        QCOMPARE(bar->palette().color(QPalette::Window), QColor(Qt::black));
        QCOMPARE(bar->title_line->palette().color(QPalette::Window), QColor(Qt::white));

        // Three 16 x 26 buttons in 30-pixel columns, 5 pixels from the right.
        const KT_Button* buttons[3] = {bar->min_button, bar->max_button, bar->close_button};
        for (int i = 0; i < 3; ++i) {
            const QRect r = buttons[i]->geometry().translated(buttons[i]->parentWidget()->mapTo(&window, QPoint()));
            QCOMPARE(r.size(), QSize(16, 26));
            QCOMPARE(r.top(), 0);
            QCOMPARE(r.center().x(), 600 - 5 - 30 * (3 - i) + 15 - 1 + (r.width() % 2));
        }

        // Extra room goes to the content area; the bar keeps its height.
        window.resize(800, 600);
        QTRY_COMPARE(window.size(), QSize(800, 600));
        QCOMPARE(bar->geometry(), QRect(0, 0, 800, 53));
        QCOMPARE(window.content_area->geometry(), QRect(0, 53, 800, 547));
    }

    // Through the maximise button or a double click on the bar with any
    // button; maximising takes the available area of the window's own screen.
    void maximiseThenRestore_data()
    {
        QTest::addColumn<int>("double_click"); // a mouse button, 0 for the maximise button
        QTest::newRow("max button") << 0;
        QTest::newRow("left double click") << int(Qt::LeftButton);
        QTest::newRow("right double click") << int(Qt::RightButton);
        QTest::newRow("middle double click") << int(Qt::MiddleButton);
    }
    void maximiseThenRestore()
    {
        QFETCH(int, double_click);
        Test_Window window;
        const QRect normal(20, 30, 450, 200);
        build(window, normal);
        Basic_From_Top* bar = window.title_bar;
        const auto toggle = [&] {
            if (double_click)
                mouse(bar, QEvent::MouseButtonDblClick, bar->mapToGlobal(QPoint(100, 40)),
                      Qt::MouseButton(double_click));
            else
                click(bar->max_button);
        };
        QSizeGrip* grip = window.size_grip;
        QVERIFY(has_strip(bar->max_button, "max"));
        QVERIFY(grip->isVisible());
        QCOMPARE(grip->geometry().bottomRight(), window.rect().bottomRight());

        toggle();
        QVERIFY(bar->is_max);
        // A press on the button is not a drag of the bar.
        QVERIFY(!bar->is_pressed);
        QTRY_COMPARE(window.geometry(), window.screen()->availableGeometry());
        QVERIFY(has_strip(bar->max_button, "restore"));
        QCOMPARE(bar->max_button->size(), QSize(16, 26));
        QCOMPARE(window.hook_calls, 1);
        QTRY_VERIFY(!grip->isVisible());
        // Only the geometry changes, never the platform's window state.
        QVERIFY(!window.isMaximized());

        toggle();
        QVERIFY(!bar->is_max);
        QTRY_COMPARE(window.geometry(), normal);
        QVERIFY(has_strip(bar->max_button, "max"));
        QCOMPARE(window.hook_calls, 2);
        QTRY_VERIFY(grip->isVisible());
        QTRY_COMPARE(grip->geometry().bottomRight(), window.rect().bottomRight());
    }

    void minimiseAndCloseButtons()
    {
        Test_Window window;
        build(window);
        click(window.title_bar->min_button);
        QTRY_VERIFY(window.isMinimized());
        window.showNormal();
        click(window.title_bar->close_button);
        QTRY_VERIFY(!window.isVisible());
    }

    void dragMovesClampsTopEdgeAndStopsWhileMaximised()
    {
        Test_Window window;
        build(window, QRect(100, 100, 450, 200));
        Basic_From_Top* bar = window.title_bar;
        const QPoint start = window.pos();
        const QPoint grab = start + QPoint(50, 10);
        mouse(bar, QEvent::MouseButtonPress, grab);
        mouse(bar, QEvent::MouseMove, grab + QPoint(30, -20));
        QTRY_COMPARE(window.pos(), start + QPoint(30, -20));
        // Above the top of the screen while held...
        mouse(bar, QEvent::MouseMove, QPoint(grab.x() + 40, 0));
        QTRY_COMPARE(window.pos(), QPoint(start.x() + 40, -10));
        // ...and pulled back to the top on release, x kept.
        mouse(bar, QEvent::MouseButtonRelease, QPoint(grab.x() + 40, 0));
        QTRY_COMPARE(window.pos(), QPoint(start.x() + 40, 0));
        // Moves without a press do nothing.
        mouse(bar, QEvent::MouseMove, QPoint(300, 300));
        QCOMPARE(window.pos(), QPoint(start.x() + 40, 0));

        bar->slot_MaxorRestore();
        QTRY_COMPARE(window.geometry(), window.screen()->availableGeometry());
        const QRect maximised = window.geometry();
        mouse(bar, QEvent::MouseButtonPress, QPoint(60, 10));
        mouse(bar, QEvent::MouseMove, QPoint(160, 110));
        QTest::qWait(20);
        QCOMPARE(window.geometry(), maximised);
        mouse(bar, QEvent::MouseButtonRelease, QPoint(160, 110));
        QCOMPARE(window.geometry(), maximised);
    }

    void hiDpiKeepsLogicalSizes()
    {
        Test_Window window;
        build(window);
        KT_Button* close = window.title_bar->close_button;
        QCOMPARE(close->size(), QSize(16, 26));
        const qreal dpr = window.devicePixelRatioF();
        close->show_state(2);
        const QImage shot = window.grab().toImage();
        QCOMPARE(shot.size(), (QSizeF(window.size()) * dpr).toSize());
        // The hover bar lies on rows 1 and 2 of the button, scaled with the window.
        const QPoint origin = close->mapTo(&window, QPoint(8, 2));
        QCOMPARE(shot.pixelColor(qRound((origin.x() + 0.5) * dpr), qRound((origin.y() - 0.5) * dpr)),
                 QColor(224, 87, 87));
        qInfo("device pixel ratio %g", dpr);
    }
};

QTEST_MAIN(Test_Frame)
#include "test_frame.moc"
