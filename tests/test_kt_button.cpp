#include "KT_Button.h"

#include <QEnterEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QTemporaryFile>
#include <QtTest>

#include <cstdio>
#include <stdexcept>
#include <unistd.h>

namespace {

const QColor state_colors[4] = {Qt::red, Qt::green, Qt::blue, Qt::yellow};

// A strip of `count` images of 16 x 26, each filled with its own colour,
// plus `extra` pixels at the right.
QPixmap make_strip(int count, int extra = 0)
{
    QImage image(16 * count + extra, 26, QImage::Format_ARGB32);
    image.fill(Qt::black);
    QPainter painter(&image);
    for (int i = 0; i < count; ++i)
        painter.fillRect(i * 16, 0, 16, 26, state_colors[i % 4]);
    painter.end();
    return QPixmap::fromImage(image);
}

// Which state image the button shows, 1-based; 0 when none matches.
int shown_state(const KT_Button& button)
{
    const QImage image = button.pixmap().toImage();
    if (image.isNull())
        return 0;
    const QColor c = image.pixelColor(image.width() / 2, image.height() / 2);
    for (int i = 0; i < 4; ++i)
        if (c == state_colors[i])
            return i + 1;
    return 0;
}

void press(QWidget* w, Qt::MouseButton b = Qt::LeftButton, QPoint pos = QPoint(5, 5))
{
    QMouseEvent e(QEvent::MouseButtonPress, pos, w->mapToGlobal(pos), b, b, Qt::NoModifier);
    QCoreApplication::sendEvent(w, &e);
}

void release(QWidget* w, Qt::MouseButton b = Qt::LeftButton, QPoint pos = QPoint(5, 5))
{
    QMouseEvent e(QEvent::MouseButtonRelease, pos, w->mapToGlobal(pos), b, Qt::NoButton,
                  Qt::NoModifier);
    QCoreApplication::sendEvent(w, &e);
}

void enter(QWidget* w)
{
    QEnterEvent e(QPointF(5, 5), QPointF(5, 5), QPointF(w->mapToGlobal(QPoint(5, 5))));
    QCoreApplication::sendEvent(w, &e);
}

void leave(QWidget* w)
{
    QEvent e(QEvent::Leave);
    QCoreApplication::sendEvent(w, &e);
}

// Records every signal of a button, in order.
struct Recorder
{
    QStringList log;
    explicit Recorder(KT_Button* b)
    {
        QObject::connect(b, &KT_Button::dowm_clicked, [this] { log << "down"; });
        QObject::connect(b, &KT_Button::Dclicked, [this](int id) { log << QString("D%1").arg(id); });
        QObject::connect(b, &KT_Button::clicked, [this] { log << "clicked"; });
        QObject::connect(b, &KT_Button::mouseIn, [this] { log << "in"; });
        QObject::connect(b, &KT_Button::mouseOut, [this] { log << "out"; });
    }
};

// Captures what is written to the process's standard output meanwhile.
class Stdout_Capture
{
public:
    Stdout_Capture()
    {
        file.open();
        std::fflush(stdout);
        saved = dup(STDOUT_FILENO);
        dup2(file.handle(), STDOUT_FILENO);
    }
    QByteArray finish()
    {
        std::fflush(stdout);
        dup2(saved, STDOUT_FILENO);
        close(saved);
        file.seek(0);
        return file.readAll();
    }

private:
    QTemporaryFile file;
    int saved = -1;
};

// Records presses that reach it, to see which ones the button lets through.
class Parent_Widget : public QWidget
{
public:
    int presses = 0;

protected:
    void mousePressEvent(QMouseEvent*) override { ++presses; }
};

} // namespace

// The image-strip button: state images, signals, thresholds, inactive mode.
class Test_KT_Button : public QObject
{
    Q_OBJECT

private slots:
    void stripIsCutIntoStateImages()
    {
        KT_Button button(3);
        button.set_strip(make_strip(3));
        QCOMPARE(button.size(), QSize(16, 26));
        QCOMPARE(button.pixmap().size(), QSize(16, 26));
        QCOMPARE(shown_state(button), 1);
        for (int n : {2, 3, 1}) {
            button.show_state(n);
            QCOMPARE(shown_state(button), n);
        }
    }

    void remainderOfStripIsLost()
    {
        KT_Button button(3);
        button.set_strip(make_strip(3, 2)); // 50 pixels wide
        QCOMPARE(button.size(), QSize(16, 26));
        button.show_state(3);
        QCOMPARE(shown_state(button), 3);
        QCOMPARE(button.pixmap().width(), 16);
    }

    void outOfRangeStateShowsFirst_data()
    {
        QTest::addColumn<int>("n");
        QTest::newRow("0") << 0;
        QTest::newRow("-1") << -1;
        QTest::newRow("4") << 4;
        QTest::newRow("100") << 100;
    }
    void outOfRangeStateShowsFirst()
    {
        QFETCH(int, n);
        KT_Button button(3);
        button.set_strip(make_strip(3));
        button.show_state(3);
        button.show_state(n);
        QCOMPARE(shown_state(button), 1);
    }

    void looksThroughAClick()
    {
        KT_Button button(3);
        button.set_strip(make_strip(3));
        enter(&button);
        QCOMPARE(shown_state(button), 2);
        press(&button);
        QCOMPARE(shown_state(button), 3);
        release(&button);
        QCOMPARE(shown_state(button), 2);
        leave(&button);
        QCOMPARE(shown_state(button), 1);
    }

    void signalOrder_data()
    {
        QTest::addColumn<Qt::MouseButton>("mouse");
        QTest::newRow("left") << Qt::LeftButton;
        QTest::newRow("right") << Qt::RightButton;
        QTest::newRow("middle") << Qt::MiddleButton;
    }
    void signalOrder()
    {
        QFETCH(Qt::MouseButton, mouse);
        KT_Button button(3);
        button.set_strip(make_strip(3));
        Recorder rec(&button);
        enter(&button);
        press(&button, mouse);
        QCOMPARE(rec.log, QStringList({"in", "down"}));
        release(&button, mouse);
        QCOMPARE(rec.log, QStringList({"in", "down", "D0", "clicked"}));
        QVERIFY(!button.is_pressed);
        leave(&button);
        QCOMPARE(rec.log.last(), QStringLiteral("out"));
    }

    void clickCarriesId()
    {
        KT_Button button(3);
        button.set_id(7);
        Recorder rec(&button);
        press(&button);
        release(&button);
        QCOMPARE(rec.log, QStringList({"down", "D7", "clicked"}));
    }

    void leaveBetweenPressAndReleaseCancels()
    {
        KT_Button button(3);
        button.set_strip(make_strip(3));
        Recorder rec(&button);
        press(&button);
        leave(&button);
        QVERIFY(!button.is_pressed);
        release(&button);
        QCOMPARE(rec.log, QStringList({"down", "out"}));
        // The hover image still comes: it is shown before the press is tested.
        QCOMPARE(shown_state(button), 2);
    }

    void releaseOutsideStillClicks()
    {
        KT_Button button(3);
        button.set_strip(make_strip(3));
        Recorder rec(&button);
        press(&button);
        release(&button, Qt::LeftButton, QPoint(-40, 300));
        QCOMPARE(rec.log, QStringList({"down", "D0", "clicked"}));
    }

    void releaseWithoutPressDoesNotClick()
    {
        KT_Button button(3);
        Recorder rec(&button);
        release(&button);
        QVERIFY(rec.log.isEmpty());
    }

    void thresholdsWithTwoImages()
    {
        KT_Button button(2);
        button.set_strip(make_strip(2));
        enter(&button);
        QCOMPARE(shown_state(button), 1);
        press(&button);
        QCOMPARE(shown_state(button), 1);
        release(&button);
        QCOMPARE(shown_state(button), 2);
        leave(&button);
        QCOMPARE(shown_state(button), 1);
    }

    void singleImageNeverChanges()
    {
        KT_Button button(1);
        button.set_strip(make_strip(1));
        QCOMPARE(button.size(), QSize(16, 26));
        Recorder rec(&button);
        enter(&button);
        press(&button);
        release(&button);
        leave(&button);
        QCOMPARE(shown_state(button), 1);
        QCOMPARE(rec.log, QStringList({"in", "down", "D0", "clicked", "out"}));
    }

    void zeroCountIsTreatedAsOne()
    {
        KT_Button button(0);
        button.set_strip(make_strip(3));
        QCOMPARE(button.size(), QSize(48, 26));
        button.show_state(2);
        QCOMPARE(button.pixmap().width(), 48);
    }

    void inactiveDoesNothing()
    {
        Parent_Widget parent;
        auto* button = new KT_Button(3, &parent);
        button->set_strip(make_strip(3));
        button->set_active(false);
        Recorder rec(button);
        enter(button);
        press(button);
        QCOMPARE(shown_state(*button), 1);
        release(button);
        leave(button);
        QVERIFY(rec.log.isEmpty());
        QCOMPARE(shown_state(*button), 1);
        QVERIFY(!button->is_pressed);
        // Its presses go on to the parent, as for any plain widget.
        QCOMPARE(parent.presses, 1);

        button->set_active(true);
        press(button);
        QCOMPARE(parent.presses, 1);
    }

    void missingImageStillEmits()
    {
        KT_Button button(3);
        button.set_image(QStringLiteral(":/no/such/image.png"));
        QVERIFY(button.strip.isNull());
        QCOMPARE(button.size(), QSize(0, 0));
        Recorder rec(&button);
        enter(&button);
        press(&button);
        release(&button);
        leave(&button);
        QCOMPARE(rec.log, QStringList({"in", "down", "D0", "clicked", "out"}));
    }

    void throwingSlotIsCaught_data()
    {
        QTest::addColumn<bool>("in_dclicked");
        QTest::newRow("Dclicked") << true;
        QTest::newRow("clicked") << false;
    }
    void throwingSlotIsCaught()
    {
        QFETCH(bool, in_dclicked);
        KT_Button button(3);
        bool clicked = false;
        bool dclicked = false;
        connect(&button, &KT_Button::Dclicked, [&](int) {
            dclicked = true;
            if (in_dclicked)
                throw std::runtime_error("slot failed");
        });
        connect(&button, &KT_Button::clicked, [&] {
            clicked = true;
            if (!in_dclicked)
                throw 42;
        });
        Stdout_Capture capture;
        press(&button);
        release(&button);
        const QByteArray out = capture.finish();
        QCOMPARE(out, QByteArray("catch_error\n"));
        QVERIFY(dclicked);
        // A throw from the first signal's slot skips the second signal.
        QCOMPARE(clicked, !in_dclicked);
        QVERIFY(!button.is_pressed);

        // The button keeps working afterwards.
        press(&button);
        QVERIFY(button.is_pressed);
    }

    void linkedLabel()
    {
        QLabel label;
        KT_Button button(3);
        button.set_text_label(&label, QStringLiteral("Open"));
        button.set_colors(0x102030, 0xFF405060);
        enter(&button);
        QCOMPARE(label.text(), QStringLiteral("<u>Open</u>"));
        press(&button);
        release(&button);
        QCOMPARE(label.palette().color(QPalette::WindowText), QColor(0x40, 0x50, 0x60));
        QCOMPARE(label.text(), QStringLiteral("<u>Open</u>"));
        leave(&button);
        QCOMPARE(label.text(), QStringLiteral("Open"));
        QCOMPARE(label.palette().color(QPalette::WindowText), QColor(0x10, 0x20, 0x30));
    }
};

QTEST_MAIN(Test_KT_Button)
#include "test_kt_button.moc"
