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
    const QColor c = image.isNull() ? QColor() : image.pixelColor(image.width() / 2, image.height() / 2);
    for (int i = 0; i < 4; ++i)
        if (c == state_colors[i])
            return i + 1;
    return 0;
}

// Sends the events in turn (e enter, p press, r release, l leave) and
// returns the state image shown after each.
QString play(KT_Button* w, const char* events, Qt::MouseButton b = Qt::LeftButton,
             QPoint release_at = QPoint(5, 5))
{
    QString looks;
    for (const char* c = events; *c; ++c) {
        const QPoint pos = *c == 'r' ? release_at : QPoint(5, 5);
        const QPointF global = w->mapToGlobal(QPointF(pos));
        QMouseEvent press(QEvent::MouseButtonPress, pos, global, b, b, Qt::NoModifier);
        QMouseEvent release(QEvent::MouseButtonRelease, pos, global, b, Qt::NoButton, Qt::NoModifier);
        QEnterEvent enter(pos, pos, global);
        QEvent leave(QEvent::Leave);
        QEvent* e = *c == 'e' ? static_cast<QEvent*>(&enter)
                    : *c == 'p' ? static_cast<QEvent*>(&press)
                    : *c == 'r' ? static_cast<QEvent*>(&release)
                                : &leave;
        QCoreApplication::sendEvent(w, e);
        looks += QString::number(shown_state(*w));
    }
    return looks;
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

// What the action writes to the process's standard output.
template <typename Action>
QByteArray stdout_of(Action action)
{
    QTemporaryFile file;
    file.open();
    std::fflush(stdout);
    const int saved = dup(STDOUT_FILENO);
    dup2(file.handle(), STDOUT_FILENO);
    action();
    std::fflush(stdout);
    dup2(saved, STDOUT_FILENO);
    close(saved);
    file.seek(0);
    return file.readAll();
}

// Counts presses that reach it, to see which ones the button lets through.
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
    // The strip is cut into equal images, any remainder at the right lost;
    // a file that does not load gives a 0 x 0 button that still emits.
    void looksAndSignalsThroughAClick_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("images"); // 0: a file that does not load
        QTest::addColumn<int>("extra");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QString>("looks"); // first, then after enter, press, release, leave
        QTest::newRow("three") << 3 << 3 << 0 << QSize(16, 26) << "12321";
        QTest::newRow("three, 50 wide") << 3 << 3 << 2 << QSize(16, 26) << "12321";
        // Hover needs three images on enter but only two on release.
        QTest::newRow("two") << 2 << 2 << 0 << QSize(16, 26) << "11121";
        QTest::newRow("one") << 1 << 1 << 0 << QSize(16, 26) << "11111";
        QTest::newRow("zero counts as one") << 0 << 1 << 0 << QSize(16, 26) << "11111";
        QTest::newRow("missing file") << 3 << 0 << 0 << QSize(0, 0) << "00000";
    }
    void looksAndSignalsThroughAClick()
    {
        QFETCH(int, count);
        QFETCH(int, images);
        QFETCH(int, extra);
        QFETCH(QSize, size);
        QFETCH(QString, looks);
        KT_Button button(count);
        if (images)
            button.set_strip(make_strip(images, extra));
        else
            button.set_image(QStringLiteral(":/no/such/image.png"));
        QCOMPARE(button.size(), size);
        QCOMPARE(button.pixmap().size(), size);
        Recorder rec(&button);
        QCOMPARE(QString::number(shown_state(button)) + play(&button, "eprl"), looks);
        QCOMPARE(rec.log, QStringList({"in", "down", "D0", "clicked", "out"}));
    }

    void outOfRangeStateShowsFirst()
    {
        KT_Button button(3);
        button.set_strip(make_strip(3));
        for (int n : {0, -1, 4, 100}) {
            button.show_state(3);
            button.show_state(n);
            QVERIFY2(shown_state(button) == 1, qPrintable(QString::number(n)));
        }
    }

    // Any button clicks; the release position is not tested.
    void clickWithAnyButton_data()
    {
        QTest::addColumn<Qt::MouseButton>("mouse");
        QTest::addColumn<QPoint>("release_at");
        QTest::newRow("left") << Qt::LeftButton << QPoint(5, 5);
        QTest::newRow("right") << Qt::RightButton << QPoint(5, 5);
        QTest::newRow("middle") << Qt::MiddleButton << QPoint(5, 5);
        QTest::newRow("released outside") << Qt::LeftButton << QPoint(-40, 300);
    }
    void clickWithAnyButton()
    {
        QFETCH(Qt::MouseButton, mouse);
        QFETCH(QPoint, release_at);
        KT_Button button(3);
        button.set_strip(make_strip(3));
        button.set_id(7);
        Recorder rec(&button);
        QCOMPARE(play(&button, "pr", mouse, release_at), QStringLiteral("32"));
        QCOMPARE(rec.log, QStringList({"down", "D7", "clicked"}));
        QVERIFY(!button.is_pressed);
    }

    void leaveBetweenPressAndReleaseCancels()
    {
        KT_Button button(3);
        button.set_strip(make_strip(3));
        Recorder rec(&button);
        // The release still shows the hover image: it comes before the press is tested.
        QCOMPARE(play(&button, "plr"), QStringLiteral("312"));
        QCOMPARE(rec.log, QStringList({"down", "out"}));
        QVERIFY(!button.is_pressed);
    }

    void inactiveDoesNothing()
    {
        Parent_Widget parent;
        auto* button = new KT_Button(3, &parent);
        button->set_strip(make_strip(3));
        button->set_active(false);
        Recorder rec(button);
        QCOMPARE(play(button, "eprl"), QStringLiteral("1111"));
        QVERIFY(rec.log.isEmpty());
        QVERIFY(!button->is_pressed);
        // Its presses go on to the parent, as for any plain widget.
        QCOMPARE(parent.presses, 1);

        button->set_active(true);
        play(button, "p");
        QCOMPARE(parent.presses, 1);
    }

    // A slot that throws costs one "catch_error" line, not the program.
    void throwingSlotIsCaught()
    {
        KT_Button button(3);
        QStringList log;
        bool throw_first = true;
        connect(&button, &KT_Button::Dclicked, [&](int) {
            log << "D";
            if (throw_first)
                throw std::runtime_error("slot failed");
        });
        connect(&button, &KT_Button::clicked, [&] {
            log << "clicked";
            if (!throw_first)
                throw 42;
        });
        // A throw from the first signal's slot skips the second signal.
        QCOMPARE(stdout_of([&] { play(&button, "pr"); }), QByteArray("catch_error\n"));
        QCOMPARE(log, QStringList({"D"}));
        QVERIFY(!button.is_pressed);
        throw_first = false;
        QCOMPARE(stdout_of([&] { play(&button, "pr"); }), QByteArray("catch_error\n"));
        QCOMPARE(log, QStringList({"D", "D", "clicked"}));
    }
};

QTEST_MAIN(Test_KT_Button)
#include "test_kt_button.moc"
