// SPDX-License-Identifier: GPL-3.0-or-later
// The window's texts in the language the locale asks for: Chinese for zh_*
// (the text table's own and the translations of the texts added to it),
// English for anything else. Run once per locale; the test's environment
// says which language to expect.
#include "Basic_Style.h"
#include "Basic_Text.h"
#include "Basic_From_Top.h"
#include "KT_Button.h"
#include "Pellanor.h"
#include "run_report.h"

#include <QAccessible>
#include <QApplication>
#include <QLocale>
#include <QTest>

class Language_Test : public QObject
{
    Q_OBJECT

    bool chinese = false;

    // The text the window shows in the expected language.
    QString expected(const char *english, const char16_t *chinese_text) const
    {
        return chinese ? QString::fromUtf16(chinese_text) : QString::fromLatin1(english);
    }

private slots:
    void initTestCase()
    {
        chinese = qEnvironmentVariable("CORVANTA_TEST_LANGUAGE") == QLatin1String("zh");
        use_language_of(QLocale::system());
        QCOMPARE(wants_chinese(QLocale::system()), chinese);
    }

    void window_texts()
    {
        Pellanor window;
        window.init_window();
        // From the text table.
        QCOMPARE(window.findChild<QPushButton *>("start_button")->text(), expected("Encryption", u"加密"));
        const auto *table = window.findChild<QTableWidget *>("file_table");
        // Added since, through the translations.
        QCOMPARE(QAccessible::queryAccessibleInterface(window.title_bar->close_button)->text(QAccessible::Name),
                 expected("Close", u"关闭"));
        QCOMPARE(table->accessibleName(), expected("Files and folders", u"文件和文件夹"));
        Package_Result failed;
        failed.errors = {QStringLiteral("/c/x.kvxdata: no end of central directory")};
        QCOMPARE(make_run_report(failed).summary.value(1).text,
                 expected("/c/x.kvxdata: not a container, or damaged (no end of central directory)",
                          u"/c/x.kvxdata: 不是容器文件，或已损坏 (no end of central directory)"));
    }
};

QTEST_MAIN(Language_Test)

#include "test_language.moc"
