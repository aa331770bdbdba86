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
    void gbkDecoderAvailable()
    {
        // Without it the Chinese texts would be mojibake; the program still runs.
        QVERIFY(QStringDecoder("GBK").isValid());
    }

    void englishTexts()
    {
        ui_language = 0;
        const Basic_Text t;
        const QStringList expected = {
            "Encryption/Decryption", "Choose The Type:", "Encryption", "Decryption",
            "Add a part of files and folders, can play our package Yi encryption.",
            "Please select a suffix called decryption (*. Kvxdata) file.", "Encryption",
            "Decryption", "Successful", "Failure", QStringLiteral("Ing\u2026\u2026"),
            "Choose encrypted file", "Choose decryption file", "Select the encrypted folder",
            "FileName", "FileType", "IsFile", "IsDir", "AddFile", "AddDir", "Delete", "Clear",
            "OpenDir", "Encryption", "Decryption"};
        QCOMPARE(all(t), expected);
        QCOMPARE(t.txt_in_progress.size(), 5);
    }

    void chineseTexts()
    {
        ui_language = 1;
        const Basic_Text t;
        const QStringList expected = {
            QStringLiteral("\u52A0\u5BC6/\u89E3\u5BC6"),
            QStringLiteral("\u9009\u62E9\u7C7B\u578B\uFF1A"),
            QStringLiteral("\u52A0\u5BC6\u7C7B\u578B"),
            QStringLiteral("\u89E3\u5BC6\u7C7B\u578B"),
            QStringLiteral("\u6DFB\u52A0\u4E00\u90E8\u5206\u6587\u4EF6\u548C\u6587\u4EF6\u5939"
                           "\uFF0C\u53EF\u4EE5\u6253\u5305\u52A0\u5BC6\u3002"),
            QStringLiteral("\u8BF7\u9009\u62E9\u540E\u7F00\u540D\u4E3A(*.kvxdata)"
                           "\u6587\u4EF6\u89E3\u5BC6\u3002"),
            QStringLiteral("\u52A0\u5BC6"),
            QStringLiteral("\u89E3\u5BC6"),
            QStringLiteral("\u6210\u529F"),
            QStringLiteral("\u5931\u8D25"),
            QStringLiteral("\u4E2D\u2026\u2026"),
            QStringLiteral("\u9009\u62E9\u52A0\u5BC6\u6587\u4EF6"),
            QStringLiteral("\u9009\u62E9\u89E3\u5BC6\u6587\u4EF6"),
            QStringLiteral("\u9009\u62E9\u52A0\u5BC6\u6587\u4EF6\u5939"),
            QStringLiteral("\u6587\u4EF6\u540D"),
            QStringLiteral("\u6587\u4EF6\u7C7B\u578B"),
            QStringLiteral("\u6587\u4EF6"),
            QStringLiteral("\u6587\u4EF6\u5939"),
            QStringLiteral("\u6DFB\u52A0\u6587\u4EF6"),
            QStringLiteral("\u6DFB\u52A0\u76EE\u5F55"),
            QStringLiteral("\u5220\u9664\u6240\u9009"),
            QStringLiteral("\u6E05\u7A7A"),
            QStringLiteral("\u6587\u4EF6\u52A0\u5BC6\u89E3\u5BC6\u76EE\u5F55"),
            QStringLiteral("\u52A0\u5BC6"),
            QStringLiteral("\u89E3\u5BC6")};
        const QStringList got = all(t);
        QCOMPARE(got.size(), expected.size());
        for (int i = 0; i < got.size(); ++i)
            QVERIFY2(got.at(i) == expected.at(i), qPrintable(QString::number(i + 1)));
    }

    void anyOtherLanguageValueIsEnglish_data()
    {
        QTest::addColumn<int>("language");
        QTest::newRow("0") << 0;
        QTest::newRow("2") << 2;
        QTest::newRow("-1") << -1;
    }
    void anyOtherLanguageValueIsEnglish()
    {
        QFETCH(int, language);
        ui_language = language;
        QCOMPARE(Basic_Text().txt_open_dir, QStringLiteral("OpenDir"));
    }

    void singletonsFixLanguageAtFirstUse()
    {
        ui_language = 0;
        Basic_Text* text = Basic_Text::instance();
        ui_language = 1;
        QCOMPARE(Basic_Text::instance(), text);
        QCOMPARE(text->txt_open_dir, QStringLiteral("OpenDir"));

        Basic_Style* style = Basic_Style::instance();
        QCOMPARE(Basic_Style::instance(), style);
        QVERIFY(static_cast<Basic_Style*>(text) != style);
        QCOMPARE(style->bold_font, text->bold_font);
        QCOMPARE(style->title_palette, text->title_palette);
        ui_language = 0;
    }

    void applyTo()
    {
        const Basic_Style style;
        QVERIFY(!style.apply_to(nullptr));
        QLabel label;
        QVERIFY(style.apply_to(&label));
        QVERIFY(label.font().bold());
        QCOMPARE(label.font().family(), QApplication::font().family());
        for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
            QCOMPARE(label.palette().color(group, QPalette::WindowText), QColor(Qt::white));
        // Only the text colour differs from the application's palette.
        QCOMPARE(label.palette().color(QPalette::Window),
                 QApplication::palette().color(QPalette::Window));
    }

    void colorKinds_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("role");
        QTest::newRow("window") << 0 << int(QPalette::Window);
        QTest::newRow("base") << 1 << int(QPalette::Base);
        QTest::newRow("dark") << 2 << int(QPalette::Dark);
        QTest::newRow("none") << 3 << -1;
        QTest::newRow("negative") << -5 << -1;
    }
    void colorKinds()
    {
        QFETCH(int, kind);
        QFETCH(int, role);
        QWidget widget;
        // An earlier colouring must not survive: the palette starts afresh.
        QPalette old = widget.palette();
        for (auto r : {QPalette::Window, QPalette::Base, QPalette::Dark})
            old.setColor(r, QColor(1, 2, 3));
        widget.setPalette(old);

        QVERIFY(set_widget_color(&widget, 10, 20, 30, kind));
        QVERIFY(widget.autoFillBackground());
        const QPalette app = QApplication::palette();
        for (auto r : {QPalette::Window, QPalette::Base, QPalette::Dark}) {
            for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
                const QColor want = r == role ? QColor(10, 20, 30) : app.color(group, r);
                QCOMPARE(widget.palette().color(group, r), want);
            }
        }
    }

    void packedColourDropsTopByte_data()
    {
        QTest::addColumn<int>("rgb");
        QTest::addColumn<QColor>("expected");
        QTest::newRow("black from 0xFF000000") << int(0xFF000000) << QColor(0, 0, 0);
        QTest::newRow("theme red") << 0xF75455 << QColor(247, 84, 85);
        QTest::newRow("white with top byte") << int(0x7FFFFFFF) << QColor(255, 255, 255);
    }
    void packedColourDropsTopByte()
    {
        QFETCH(int, rgb);
        QFETCH(QColor, expected);
        QWidget widget;
        QVERIFY(set_widget_color_rgb(&widget, rgb, 0));
        QCOMPARE(widget.palette().color(QPalette::Window), expected);
        QCOMPARE(widget.palette().color(QPalette::Window).alpha(), 255);
    }

    void nullWidgetIsRefused()
    {
        QVERIFY(!set_widget_color(nullptr, 1, 2, 3, 0));
        QVERIFY(!set_widget_color_rgb(nullptr, 0xFFFFFF, 0));
    }
};

QTEST_MAIN(Test_Style)
#include "test_style.moc"
