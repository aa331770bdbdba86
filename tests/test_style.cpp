#include "Basic_Style.h"
#include "Basic_Text.h"

#include <QApplication>
#include <QLabel>
#include <QtTest>

// The text set in both languages, the style set and the colour helpers.
class Test_Style : public QObject
{
    Q_OBJECT

private:
    static QStringList all(const Basic_Text& t)
    {
        return {t.txt_title, t.txt_choose_type, t.txt_type_encryption, t.txt_type_decryption,
                t.txt_hint_encryption, t.txt_hint_decryption, t.txt_encryption,
                t.txt_decryption, t.txt_successful, t.txt_failure, t.txt_in_progress,
                t.txt_choose_encrypted_file, t.txt_choose_decryption_file,
                t.txt_select_encrypted_folder, t.txt_file_name, t.txt_file_type,
                t.txt_is_file, t.txt_is_dir, t.txt_add_file, t.txt_add_dir, t.txt_delete,
                t.txt_clear, t.txt_open_dir, t.txt_button_encryption,
                t.txt_button_decryption};
    }

private slots:
    // Only 1 selects Chinese; the ellipses are GBK bytes decoded to U+2026.
    void textsInBothLanguages_data()
    {
        QTest::addColumn<int>("language");
        QTest::addColumn<QStringList>("expected");
        const QStringList english = {
            "Encryption/Decryption", "Choose The Type:", "Encryption", "Decryption",
            "Add a part of files and folders, can play our package Yi encryption.",
            "Please select a suffix called decryption (*. Kvxdata) file.", "Encryption",
            "Decryption", "Successful", "Failure", QStringLiteral("Ing\u2026\u2026"),
            "Choose encrypted file", "Choose decryption file", "Select the encrypted folder",
            "FileName", "FileType", "IsFile", "IsDir", "AddFile", "AddDir", "Delete", "Clear",
            "OpenDir", "Encryption", "Decryption"};
        const QStringList chinese = QStringLiteral(
            "\u52A0\u5BC6/\u89E3\u5BC6|\u9009\u62E9\u7C7B\u578B\uFF1A|\u52A0\u5BC6\u7C7B\u578B|"
            "\u89E3\u5BC6\u7C7B\u578B|"
            "\u6DFB\u52A0\u4E00\u90E8\u5206\u6587\u4EF6\u548C\u6587\u4EF6\u5939"
            "\uFF0C\u53EF\u4EE5\u6253\u5305\u52A0\u5BC6\u3002|"
            "\u8BF7\u9009\u62E9\u540E\u7F00\u540D\u4E3A(*.kvxdata)\u6587\u4EF6\u89E3\u5BC6\u3002|"
            "\u52A0\u5BC6|\u89E3\u5BC6|\u6210\u529F|\u5931\u8D25|\u4E2D\u2026\u2026|"
            "\u9009\u62E9\u52A0\u5BC6\u6587\u4EF6|\u9009\u62E9\u89E3\u5BC6\u6587\u4EF6|"
            "\u9009\u62E9\u52A0\u5BC6\u6587\u4EF6\u5939|\u6587\u4EF6\u540D|\u6587\u4EF6\u7C7B\u578B|"
            "\u6587\u4EF6|\u6587\u4EF6\u5939|\u6DFB\u52A0\u6587\u4EF6|\u6DFB\u52A0\u76EE\u5F55|"
            "\u5220\u9664\u6240\u9009|\u6E05\u7A7A|\u6587\u4EF6\u52A0\u5BC6\u89E3\u5BC6\u76EE\u5F55|"
            "\u52A0\u5BC6|\u89E3\u5BC6").split(QLatin1Char('|'));
        QTest::newRow("0 English") << 0 << english;
        QTest::newRow("2 English") << 2 << english;
        QTest::newRow("-1 English") << -1 << english;
        QTest::newRow("1 Chinese") << 1 << chinese;
    }
    void textsInBothLanguages()
    {
        QFETCH(int, language);
        QFETCH(QStringList, expected);
        ui_language = language;
        QCOMPARE(all(Basic_Text()), expected);
    }

    void singletonsFixLanguageAtFirstUse()
    {
        ui_language = 0;
        Basic_Text* text = Basic_Text::instance();
        ui_language = 1;
        QCOMPARE(Basic_Text::instance(), text);
        QCOMPARE(text->txt_open_dir, QStringLiteral("OpenDir"));

        // The style set is its own object with the same values.
        Basic_Style* style = Basic_Style::instance();
        QCOMPARE(Basic_Style::instance(), style);
        QVERIFY(static_cast<Basic_Style*>(text) != style);
        QCOMPARE(style->bold_font, text->bold_font);
        QCOMPARE(style->title_palette, text->title_palette);
        ui_language = 0;
    }

    void applyToAndNullWidgets()
    {
        const Basic_Style style;
        QLabel label;
        QVERIFY(style.apply_to(&label));
        QVERIFY(label.font().bold());
        for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
            QCOMPARE(label.palette().color(group, QPalette::WindowText), QColor(Qt::white));

        QVERIFY(!style.apply_to(nullptr));
        QVERIFY(!set_widget_color(nullptr, 1, 2, 3, 0));
        QVERIFY(!set_widget_color_rgb(nullptr, 0xFFFFFF, 0));
    }

    // Through the packed form, which drops the top byte and calls the
    // component form.
    void colorKinds_data()
    {
        QTest::addColumn<int>("rgb");
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("role");
        QTest::addColumn<QColor>("expected");
        QTest::newRow("black from 0xFF000000") << int(0xFF000000) << 0 << int(QPalette::Window) << QColor(0, 0, 0);
        QTest::newRow("theme red") << 0xF75455 << 0 << int(QPalette::Window) << QColor(247, 84, 85);
        QTest::newRow("base") << int(0x7F0A141E) << 1 << int(QPalette::Base) << QColor(10, 20, 30);
        QTest::newRow("dark") << 0x0A141E << 2 << int(QPalette::Dark) << QColor(10, 20, 30);
        QTest::newRow("none") << 0x0A141E << 3 << -1 << QColor();
        QTest::newRow("negative") << 0x0A141E << -5 << -1 << QColor();
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
        for (auto r : {QPalette::Window, QPalette::Base, QPalette::Dark}) {
            for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
                // QColor equality includes alpha: the colour must come out opaque.
                const QColor want = r == role ? expected : app.color(group, r);
                QCOMPARE(widget.palette().color(group, r), want);
            }
        }
    }
};

QTEST_MAIN(Test_Style)
#include "test_style.moc"
