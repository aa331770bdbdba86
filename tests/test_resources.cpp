#include <QGuiApplication>
#include <QImage>
#include <QtTest>

// The compiled-in button strips and icon.
class Test_Resources : public QObject
{
    Q_OBJECT

private slots:
    void strips_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QColor>("bar");
        const QColor blue(99, 161, 240);
        QTest::newRow("close") << "close" << QColor(224, 87, 87);
        QTest::newRow("min") << "min" << blue;
        QTest::newRow("max") << "max" << blue;
        QTest::newRow("restore") << "restore" << blue;
    }
    // Three 16 x 26 state images: normal, hover, pressed, each with its bar
    // (none on the first) and its glyph colour on a transparent ground.
    void strips()
    {
        QFETCH(QString, name);
        QFETCH(QColor, bar);
        // Registered before main: it loads with no window in the process.
        QVERIFY(QGuiApplication::topLevelWindows().isEmpty());
        const QImage strip(":/Pellanor/Resources/" + name + ".png");
        QCOMPARE(strip.size(), QSize(48, 26));
        const QColor glyphs[3] = {QColor(182, 189, 198), Qt::white, QColor(145, 154, 165)};
        for (int state = 0; state < 3; ++state) {
            const QImage image = strip.copy(state * 16, 0, 16, 26);
            QCOMPARE(image.pixelColor(0, 25).alpha(), 0);
            for (int i = 16; i < 16 * 3; ++i) { // rows 1 and 2
                const QColor c = image.pixelColor(i % 16, i / 16);
                QVERIFY(state == 0 ? c.alpha() == 0 : c == bar);
            }
            bool glyph = false;
            for (int i = 16 * 3; i < 16 * 26 && !glyph; ++i)
                glyph = image.pixelColor(i % 16, i / 16) == glyphs[state];
            QVERIFY2(glyph, qPrintable(QString("state %1 lacks its glyph colour").arg(state + 1)));
        }
    }

    void icon()
    {
        const QImage image(":/Pellanor/Resources/icon_162X162.ico");
        QCOMPARE(image.size(), QSize(162, 162));
        QVERIFY(image.hasAlphaChannel());
    }
};

QTEST_MAIN(Test_Resources)
#include "test_resources.moc"
