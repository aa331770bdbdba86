// SPDX-License-Identifier: GPL-3.0-or-later
#include "Basic_Style.h"
#include "Basic_Text.h"

#include <QApplication>
#include <QLabel>
#include <QtTest>

// The text set in both languages, the style set and the colour helpers.
class Test_Style : public QObject
{
    Q_OBJECT

private slots:
    // Only 1 selects Chinese. A sample: GBK decoding, the GBK ellipsis in
    // an English text, and two entries that differ only in Chinese.
    void textsFollowLanguage_data()
    {
        QTest::addColumn<int>("language");
        QTest::addColumn<QStringList>("expected");
        const QStringList english = {"OpenDir", QStringLiteral("Ing\u2026\u2026"), "Encryption", "Encryption",
                                     "Cancelled", "Open Folder"};
        QTest::newRow("0 English") << 0 << english;
        QTest::newRow("2 English") << 2 << english;
        QTest::newRow("1 Chinese") << 1 << QStringList{
            QStringLiteral("\u6587\u4EF6\u52A0\u5BC6\u89E3\u5BC6\u76EE\u5F55"), QStringLiteral("\u4E2D\u2026\u2026"),
            QStringLiteral("\u52A0\u5BC6\u7C7B\u578B"), QStringLiteral("\u52A0\u5BC6"),
            QStringLiteral("\u5DF2\u53D6\u6D88"), QStringLiteral("\u6253\u5F00\u6587\u4EF6\u5939")};
    }
    void textsFollowLanguage()
    {
        QFETCH(int, language);
        QFETCH(QStringList, expected);
        ui_language = language;
        const Basic_Text t;
        QCOMPARE(QStringList({t.txt_open_dir, t.txt_in_progress, t.txt_type_encryption, t.txt_encryption,
                              t.txt_cancelled, t.txt_open_folder}), expected);
    }

    void singletonsFixLanguageAtFirstUse()
    {
        ui_language = 0;
        Basic_Text* text = Basic_Text::instance();
        ui_language = 1;
        QCOMPARE(Basic_Text::instance(), text);
        QCOMPARE(text->txt_open_dir, QStringLiteral("OpenDir"));
        ui_language = 0;
    }

    void applyTo()
    {
        const Basic_Style style;
        QLabel label;
        QVERIFY(style.apply_to(&label) && label.font().bold() && !style.apply_to(nullptr));
        for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
            QCOMPARE(label.palette().color(group, QPalette::WindowText), QColor(Qt::white));
    }

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
