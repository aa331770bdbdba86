#include <QGuiApplication>
#include <QIcon>
#include <QImage>
#include <QPixmap>
#include <QtTest>

// The compiled-in button strips and icon.
class Test_Resources : public QObject
{
    Q_OBJECT

private:
    static bool has_color(const QImage& image, const QColor& color)
    {
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                if (image.pixelColor(x, y) == color)
                    return true;
        return false;
    }

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
    void strips()
    {
        QFETCH(QString, name);
        QFETCH(QColor, bar);
        // Registered before main: it loads with no window in the process.
        QVERIFY(QGuiApplication::topLevelWindows().isEmpty());
        const QImage strip(":/Pellanor/Resources/" + name + ".png");
        QCOMPARE(strip.size(), QSize(48, 26));
        QVERIFY(strip.hasAlphaChannel());
        const QColor glyphs[3] = {QColor(182, 189, 198), Qt::white, QColor(145, 154, 165)};
        for (int state = 0; state < 3; ++state) {
            const QImage image = strip.copy(state * 16, 0, 16, 26);
            // The glyph sits on a transparent ground.
            QCOMPARE(image.pixelColor(0, 25).alpha(), 0);
            QCOMPARE(image.pixelColor(0, 0).alpha(), 0);
            for (int x = 0; x < 16; ++x) {
                for (int y : {1, 2}) {
                    const QColor c = image.pixelColor(x, y);
                    if (state == 0)
                        QCOMPARE(c.alpha(), 0);
                    else
                        QCOMPARE(c, bar);
                }
            }
            QVERIFY2(has_color(image.copy(0, 3, 16, 23), glyphs[state]),
                     qPrintable(QString("state %1 lacks its glyph colour").arg(state + 1)));
        }
    }

    void icon()
    {
        const QImage image(":/Pellanor/Resources/icon_162X162.ico");
        QCOMPARE(image.size(), QSize(162, 162));
        QVERIFY(image.hasAlphaChannel());
        // Sized right for a device pixel ratio of 2 as well.
        const QIcon icon(":/Pellanor/Resources/icon_162X162.ico");
        const QPixmap pixmap = icon.pixmap(QSize(32, 32), 2.0);
        QCOMPARE(pixmap.deviceIndependentSize().toSize(), QSize(32, 32));
        QCOMPARE(pixmap.size(), QSize(64, 64));
    }
};

QTEST_MAIN(Test_Resources)
#include "test_resources.moc"
