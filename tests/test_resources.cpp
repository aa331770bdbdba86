// SPDX-License-Identifier: GPL-3.0-or-later
#include <QGuiApplication>
#include <QImage>
#include <QtTest>

// The compiled-in button strips and icon.
class Test_Resources : public QObject
{
    Q_OBJECT

private slots:
    // Three 16 x 26 state images: normal, hover, pressed; the hover and
    // pressed ones carry their bar in rows 1 and 2, the normal one none.
    void strips_and_icon()
    {
        // Registered before main: they load with no window in the process.
        QVERIFY(QGuiApplication::topLevelWindows().isEmpty());
        const QColor blue(99, 161, 240);
        for (const auto &[name, bar] : {std::pair{"close", QColor(224, 87, 87)}, {"min", blue}, {"max", blue},
                                        {"restore", blue}}) {
            const QImage strip(QStringLiteral(":/Pellanor/Resources/%1.png").arg(name));
            QCOMPARE(strip.size(), QSize(48, 26));
            QCOMPARE(QList<QColor>({strip.pixelColor(8, 1), strip.pixelColor(24, 1), strip.pixelColor(40, 2)}),
                     QList<QColor>({QColor(0, 0, 0, 0), bar, bar}));
        }
        QCOMPARE(QImage(":/Pellanor/Resources/icon_162X162.ico").size(), QSize(162, 162));
    }
};

QTEST_MAIN(Test_Resources)
#include "test_resources.moc"
