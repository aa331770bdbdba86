#include "Basic_From_Obj.h"
#include "Basic_From_Top.h"
#include "Basic_Style.h"
#include "KT_Button.h"
#include "KT_QGridLayout.h"
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

QImage strip_of(const QString& name)
{
    return QImage(":/Pellanor/Resources/" + name + ".png").convertToFormat(QImage::Format_ARGB32);
}

} // namespace

// Widget registry, zero-spacing grid, title bar and frameless window base.
class Test_Frame : public QObject
{
    Q_OBJECT

private:
    QRect screen_area() const { return QGuiApplication::primaryScreen()->availableGeometry(); }

    // A shown window with its frame and a known place on the screen.
    static void build(Test_Window& window, QRect geometry = QRect(20, 30, 450, 200))
    {
        window.init_frame();
        window.setGeometry(geometry);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
    }

private slots:
    void init() { title_bar_color = 0xFF000000; }

    void idsAreNeverReused()
    {
        auto* first = new Plain_Widget;
        auto* second = new Plain_Widget;
        const int first_id = first->widget_id;
        QCOMPARE(second->widget_id, first_id + 1);
        QCOMPARE(KT_Widget::widget_map.value(first_id), static_cast<KT_Widget*>(first));
        delete first;
        QVERIFY(!KT_Widget::widget_map.contains(first_id));
        auto* third = new Plain_Widget;
        QCOMPARE(third->widget_id, second->widget_id + 1);
        QCOMPARE(KT_Widget::widget_map.value(third->widget_id), static_cast<KT_Widget*>(third));
        QCOMPARE(KT_Widget::widget_count, third->widget_id);
        delete second;
        delete third;
    }

    void registryForgetsDestroyedWindow()
    {
        const int before = KT_Widget::widget_map.size();
        auto* window = new Test_Window;
        window->init_frame();
        const int window_id = window->widget_id;
        const int bar_id = window->title_bar->widget_id;
        QCOMPARE(window->widget_kind, 0);
        QCOMPARE(window->title_bar->widget_kind, 2);
        QCOMPARE(KT_Widget::widget_map.size(), before + 2);
        delete window;
        QVERIFY(!KT_Widget::widget_map.contains(window_id));
        QVERIFY(!KT_Widget::widget_map.contains(bar_id));
        QCOMPARE(KT_Widget::widget_map.size(), before);
    }

    void gridPutsItemsEdgeToEdge()
    {
        QWidget host;
        auto* grid = new KT_QGridLayout;
        QCOMPARE(grid->horizontalSpacing(), 0);
        QCOMPARE(grid->verticalSpacing(), 0);
        QCOMPARE(grid->contentsMargins(), QMargins(0, 0, 0, 0));
        host.setLayout(grid);
        QWidget* cells[4];
        for (int i = 0; i < 4; ++i) {
            cells[i] = new QWidget;
            cells[i]->setFixedSize(30, 20);
            grid->addWidget(cells[i], i / 2, i % 2);
        }
        host.resize(host.sizeHint());
        grid->activate();
        QCOMPARE(host.size(), QSize(60, 40));
        QCOMPARE(cells[0]->pos(), QPoint(0, 0));
        QCOMPARE(cells[1]->pos(), QPoint(30, 0));
        QCOMPARE(cells[3]->pos(), QPoint(30, 20));

        KT_QGridLayout margins(1, 2, 3, 4);
        QCOMPARE(margins.contentsMargins(), QMargins(1, 2, 3, 4));
        QCOMPARE(margins.horizontalSpacing(), 0);
    }

    void windowIsFramelessTopLevel()
    {
        QWidget parent;
        Test_Window window(&parent);
        QVERIFY(window.parentWidget() == nullptr);
        QVERIFY(window.isWindow());
        QVERIFY(window.windowFlags().testFlag(Qt::FramelessWindowHint));
        QVERIFY(window.frame_grid == nullptr && window.title_bar == nullptr
                && window.content_area == nullptr);
    }

    void titleBeforeAndAfterFrame()
    {
        Test_Window window;
        window.set_title(QStringLiteral("early"));
        QCOMPARE(window.windowTitle(), QStringLiteral("early"));

        Test_Window fresh;
        fresh.init_frame();
        QCOMPARE(fresh.title_bar->title_label->text(),
                 QStringLiteral("  \u8FD9\u662F\u4EC0\u4E48"));
        QVERIFY(fresh.windowTitle().isEmpty());
        fresh.set_title(QStringLiteral("  Corvanta"));
        QCOMPARE(fresh.windowTitle(), QStringLiteral("  Corvanta"));
        QCOMPARE(fresh.title_bar->title_label->text(), QStringLiteral("  Corvanta"));
        fresh.set_title(QString());
        QVERIFY(fresh.windowTitle().isEmpty());
        QVERIFY(fresh.title_bar->title_label->text().isEmpty());
    }

    void frameLayout()
    {
        Test_Window window;
        build(window, QRect(20, 30, 600, 420));
        Basic_From_Top* bar = window.title_bar;
        QCOMPARE(bar->geometry(), QRect(0, 0, 600, 53));
        QCOMPARE(window.content_area->geometry(), QRect(0, 53, 600, 367));
        QCOMPARE(bar->title_line->geometry(), QRect(0, 51, 600, 2));
        QVERIFY(bar->title_label->font().bold());
        QCOMPARE(bar->title_label->palette().color(QPalette::WindowText), QColor(Qt::white));
        QCOMPARE(bar->palette().color(QPalette::Window), QColor(Qt::black));
        QCOMPARE(bar->title_line->palette().color(QPalette::Window), QColor(Qt::white));
        QCOMPARE(window.palette().color(QPalette::Window), QColor(Qt::white));

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

    void sizeGripSitsInCorner()
    {
        Test_Window window;
        build(window);
        QSizeGrip* grip = window.size_grip;
        QVERIFY(grip->isVisible());
        QCOMPARE(grip->geometry().bottomRight(), window.rect().bottomRight());
        window.title_bar->slot_MaxorRestore();
        QTRY_VERIFY(!grip->isVisible());
        window.title_bar->slot_MaxorRestore();
        QTRY_VERIFY(grip->isVisible());
        QTRY_COMPARE(grip->geometry().bottomRight(), window.rect().bottomRight());
    }

    void maximiseThenRestore()
    {
        Test_Window window;
        const QRect normal(20, 30, 450, 200);
        build(window, normal);
        Basic_From_Top* bar = window.title_bar;
        QCOMPARE(bar->max_button->strip.toImage().convertToFormat(QImage::Format_ARGB32), strip_of("max"));

        bar->slot_MaxorRestore();
        QVERIFY(bar->is_max);
        QTRY_COMPARE(window.geometry(), window.screen()->availableGeometry());
        QCOMPARE(bar->max_button->strip.toImage().convertToFormat(QImage::Format_ARGB32), strip_of("restore"));
        QCOMPARE(bar->max_button->size(), QSize(16, 26));
        QCOMPARE(window.hook_calls, 1);
        // Only the geometry changes, never the platform's window state.
        QVERIFY(!window.isMaximized());

        bar->slot_MaxorRestore();
        QVERIFY(!bar->is_max);
        QTRY_COMPARE(window.geometry(), normal);
        QCOMPARE(bar->max_button->strip.toImage().convertToFormat(QImage::Format_ARGB32), strip_of("max"));
        QCOMPARE(window.hook_calls, 2);
    }

    void maxButtonClickToggles()
    {
        Test_Window window;
        build(window);
        KT_Button* max = window.title_bar->max_button;
        mouse(max, QEvent::MouseButtonPress, max->mapToGlobal(QPoint(3, 3)));
        mouse(max, QEvent::MouseButtonRelease, max->mapToGlobal(QPoint(3, 3)));
        QVERIFY(window.title_bar->is_max);
        QCOMPARE(window.hook_calls, 1);
        // The press went to the button, not to a drag of the bar.
        QVERIFY(!window.title_bar->is_pressed);
    }

    void doubleClickWithAnyButton_data()
    {
        QTest::addColumn<Qt::MouseButton>("button");
        QTest::newRow("left") << Qt::LeftButton;
        QTest::newRow("right") << Qt::RightButton;
        QTest::newRow("middle") << Qt::MiddleButton;
    }
    void doubleClickWithAnyButton()
    {
        QFETCH(Qt::MouseButton, button);
        Test_Window window;
        const QRect normal(20, 30, 450, 200);
        build(window, normal);
        Basic_From_Top* bar = window.title_bar;
        const QPoint at = bar->mapToGlobal(QPoint(100, 40));
        mouse(bar, QEvent::MouseButtonDblClick, at, button);
        QVERIFY(bar->is_max);
        QTRY_COMPARE(window.geometry(), window.screen()->availableGeometry());
        mouse(bar, QEvent::MouseButtonDblClick, bar->mapToGlobal(QPoint(100, 40)), button);
        QVERIFY(!bar->is_max);
        QTRY_COMPARE(window.geometry(), normal);
    }

    void dragMovesAndClampsTopEdge()
    {
        Test_Window window;
        build(window, QRect(100, 100, 450, 200));
        Basic_From_Top* bar = window.title_bar;
        const QPoint start = window.pos();
        const QPoint grab = start + QPoint(50, 10);
        mouse(bar, QEvent::MouseButtonPress, grab);
        QVERIFY(bar->is_pressed);
        QCOMPARE(bar->drag_offset, QPoint(50, 10));
        mouse(bar, QEvent::MouseMove, grab + QPoint(30, -20));
        QTRY_COMPARE(window.pos(), start + QPoint(30, -20));
        // Above the top of the screen while held...
        mouse(bar, QEvent::MouseMove, QPoint(grab.x() + 40, 0));
        QTRY_COMPARE(window.pos(), QPoint(start.x() + 40, -10));
        // ...and pulled back to the top on release, x kept.
        mouse(bar, QEvent::MouseButtonRelease, QPoint(grab.x() + 40, 0));
        QTRY_COMPARE(window.pos(), QPoint(start.x() + 40, 0));
        QVERIFY(!bar->is_pressed);

        // Moves without a press do nothing.
        mouse(bar, QEvent::MouseMove, QPoint(300, 300));
        QCOMPARE(window.pos(), QPoint(start.x() + 40, 0));
    }

    void noDragWhileMaximised()
    {
        Test_Window window;
        build(window);
        Basic_From_Top* bar = window.title_bar;
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

    void closeAndMinimiseButtons()
    {
        Test_Window window;
        build(window);
        KT_Button* min = window.title_bar->min_button;
        mouse(min, QEvent::MouseButtonPress, min->mapToGlobal(QPoint(3, 3)));
        mouse(min, QEvent::MouseButtonRelease, min->mapToGlobal(QPoint(3, 3)));
        QTRY_VERIFY(window.isMinimized());

        window.showNormal();
        KT_Button* close = window.title_bar->close_button;
        mouse(close, QEvent::MouseButtonPress, close->mapToGlobal(QPoint(3, 3)));
        mouse(close, QEvent::MouseButtonRelease, close->mapToGlobal(QPoint(3, 3)));
        QTRY_VERIFY(!window.isVisible());
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
