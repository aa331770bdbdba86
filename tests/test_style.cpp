// SPDX-License-Identifier: GPL-3.0-or-later
#include "Basic_Style.h"

#include <QApplication>
#include <QtTest>

// The colour helpers.
class Test_Style : public QObject
{
    Q_OBJECT

private slots:
    // Through the packed form, which drops the top byte.
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

QTEST_MAIN(Test_Style)
#include "test_style.moc"
