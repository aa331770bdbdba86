// SPDX-License-Identifier: GPL-3.0-or-later
#include "KT_Button.h"

#include <QEnterEvent>
#include <QMouseEvent>
#include <QtTest>

#include <stdexcept>

namespace {

// A strip of `count` 16 x 26 images whose red value is the state number,
// plus `extra` pixels at the right.
void set_strip(KT_Button& button, int count, int extra = 0)
{
    QImage image(16 * count + extra, 26, QImage::Format_RGB32);
    for (int x = 0; x < image.width(); ++x)
        for (int y = 0; y < 26; ++y)
            image.setPixel(x, y, qRgb(x / 16 + 1, 0, 0));
    button.set_strip(QPixmap::fromImage(image));
}

// Which state image the button shows, 1-based; 0 for none.
int shown_state(const KT_Button& button)
{
    const QImage image = button.pixmap().toImage();
    return image.isNull() ? 0 : qRed(image.pixel(image.width() / 2, image.height() / 2));
}

// Sends the events in turn (e enter, p press, r release, o release far
// outside, d double click, l leave; x makes the button inactive, t connects
// a slot that throws) and returns the state image shown
// first and after each.
QString play(KT_Button* w, const QString& events, Qt::MouseButton b = Qt::LeftButton)
{
    QString looks = QString::number(shown_state(*w));
    for (QChar c : events) {
        const QPointF pos = c == 'o' ? QPointF(-40, 300) : QPointF(5, 5);
        const bool release = c == 'r' || c == 'o';
        QMouseEvent mouse(release ? QEvent::MouseButtonRelease
                          : c == 'd' ? QEvent::MouseButtonDblClick
                                     : QEvent::MouseButtonPress,
                          pos, w->mapToGlobal(pos), b, release ? Qt::NoButton : b, Qt::NoModifier);
        QEnterEvent enter(pos, pos, w->mapToGlobal(pos));
        QEvent leave(QEvent::Leave);
        if (c == 'x')
            w->set_active(false);
        else if (c == 't')
            QObject::connect(w, &KT_Button::Dclicked, w, [] { throw std::runtime_error("slot failed"); });
        else
            QCoreApplication::sendEvent(w, c == 'e' ? static_cast<QEvent*>(&enter) : c == 'l' ? &leave : &mouse);
        looks += QString::number(shown_state(*w));
    }
    return looks;
}

// Logs every signal of the button, in order.
void record(KT_Button* b, QStringList& log)
{
    QObject::connect(b, &KT_Button::dowm_clicked, [&log] { log << "down"; });
    QObject::connect(b, &KT_Button::Dclicked, [&log](int id) { log << QString("D%1").arg(id); });
    QObject::connect(b, &KT_Button::clicked, [&log] { log << "clicked"; });
    QObject::connect(b, &KT_Button::mouseIn, [&log] { log << "in"; });
    QObject::connect(b, &KT_Button::mouseOut, [&log] { log << "out"; });
}

} // namespace

// The image-strip button: state images, signals, thresholds, inactive mode.
class Test_KT_Button : public QObject
{
    Q_OBJECT

private slots:
    // The strip is cut into equal images, any remainder at the right lost; a
    // file that does not load (extra -1) gives a 0 x 0 button that still emits.
    // Any mouse button clicks and the release position is not tested, but a
    // leave between press and release cancels the click.
    void looksAndSignals_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("extra");
        QTest::addColumn<Qt::MouseButton>("mouse");
        QTest::addColumn<QString>("events");
        QTest::addColumn<QString>("looks");
        QTest::addColumn<QString>("emitted");
        const auto left = Qt::LeftButton;
        QTest::newRow("three, 50 wide") << 3 << 2 << left << "eprl" << "12321" << "in down D0 clicked out";
        // Hover needs three images on enter but only two on release.
        QTest::newRow("two") << 2 << 0 << left << "eprl" << "11121" << "in down D0 clicked out";
        QTest::newRow("zero counts as one") << 0 << 0 << left << "eprl" << "11111" << "in down D0 clicked out";
        QTest::newRow("missing file") << 3 << -1 << left << "eprl" << "00000" << "in down D0 clicked out";
        QTest::newRow("right") << 3 << 0 << Qt::RightButton << "pr" << "132" << "down D0 clicked";
        QTest::newRow("released outside") << 3 << 0 << left << "po" << "132" << "down D0 clicked";
        // The release still shows the hover image: it comes before the press is tested.
        QTest::newRow("leave between") << 3 << 0 << left << "plr" << "1312" << "down out";
        QTest::newRow("double click") << 3 << 0 << left << "prdr" << "13232" << "down D0 clicked down D0 clicked";
        QTest::newRow("inactive") << 3 << 0 << left << "xeprl" << "111111" << "";
        // A slot that throws must not take the program down; it skips the
        // second signal, leaves the button unpressed and says why.
        QTest::newRow("throwing slot") << 3 << 0 << left << "tpr" << "1132" << "down D0";
    }
    void looksAndSignals()
    {
        QFETCH(int, count);
        QFETCH(int, extra);
        QFETCH(Qt::MouseButton, mouse);
        QFETCH(QString, events);
        QFETCH(QString, looks);
        QFETCH(QString, emitted);
        KT_Button button(count);
        if (extra < 0)
            button.set_image(QStringLiteral(":/no/such/image.png"));
        else
            set_strip(button, qMax(count, 1), extra);
        const QSize size = extra < 0 ? QSize(0, 0) : QSize(16, 26);
        QCOMPARE(button.size(), size);
        QCOMPARE(button.pixmap().size(), size);
        QStringList log;
        record(&button, log);
        if (events.contains('t'))
            QTest::ignoreMessage(QtWarningMsg, "KT_Button: a click handler failed: slot failed");
        QCOMPARE(play(&button, events, mouse), looks);
        QCOMPARE(log.join(QLatin1Char(' ')), emitted);
        QVERIFY(!button.is_pressed);
        // Out-of-range states show the first image.
        for (int n : {0, count + 1}) {
            button.show_state(count);
            button.show_state(n);
            QCOMPARE(shown_state(button), looks.at(0).digitValue());
        }
    }
};

QTEST_MAIN(Test_KT_Button)
#include "test_kt_button.moc"
