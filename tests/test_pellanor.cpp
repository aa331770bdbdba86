#include "Basic_Style.h"
#include "Basic_Text.h"
#include "Pellanor.h"
#include "engine_test_support.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>
#include <system_error>

using test_support::read_all;
using test_support::tree;

namespace {

// The window with its dialogs and modal box replaced, so it runs unattended.
class Test_Window : public Pellanor
{
public:
    struct Report
    {
        QString title, text, detail;
    };

    QList<QStringList> file_answers;
    QStringList folder_answers;
    QString file_dir, file_filter;
    QList<Report> reports;
    QList<QUrl> opened;
    bool fail_thread_start = false;
    int threads_started = 0;

    using Pellanor::dragEnterEvent;
    using Pellanor::dropEvent;

    template <typename T = QPushButton>
    T *find(const char *name) { return findChild<T *>(QString::fromLatin1(name)); }
    QString status() { return find<QLabel>("status_label")->text(); }

    void choose(const QString &type) { emit find<QComboBox>("type_combo")->textActivated(type); }
    void click(const char *button) { find(button)->click(); }

protected:
    QStringList choose_files(const QString &, const QString &dir, const QString &filter) override
    {
        file_dir = dir;
        file_filter = filter;
        return file_answers.isEmpty() ? QStringList() : file_answers.takeFirst();
    }
    QString choose_folder(const QString &) override
    {
        return folder_answers.isEmpty() ? QString() : folder_answers.takeFirst();
    }
    void show_report(const QString &title, const QString &text, const QString &detail,
                     bool) override
    {
        reports.append({title, text, detail});
    }
    void open_url(const QUrl &url) override { opened.append(url); }
    void start_thread(std::function<void()> body) override
    {
        if (fail_thread_start)
            throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
        ++threads_started;
        Pellanor::start_thread(std::move(body));
    }
};

bool write_file(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QStringList entries(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
}

} // namespace

class Window_Test : public QObject
{
    Q_OBJECT

private:
    const Basic_Text *text = nullptr;
    std::unique_ptr<QTemporaryDir> work;
    QString previous_dir;
    std::unique_ptr<Test_Window> window;

    const QStringList all_controls = {"add_dir_button", "add_file_button", "clear_button",
                                      "delete_button", "file_table", "open_dir_button",
                                      "start_button", "type_combo"};

    QString work_path(const QString &name) const { return work->filePath(name); }
    QTableWidget *table() { return window->find<QTableWidget>("file_table"); }
    QStringList rows()
    {
        QStringList out;
        for (int row = 0; row < table()->rowCount(); ++row)
            out << table()->item(row, 0)->text() + QLatin1Char('|') + table()->item(row, 1)->text();
        return out;
    }
    // The controls a person can use right now.
    QStringList usable()
    {
        QStringList out;
        for (QWidget *w : window->findChildren<QWidget *>())
            if ((qobject_cast<QPushButton *>(w) || qobject_cast<QComboBox *>(w) || w == table())
                && w->isEnabled() && !w->isHidden())
                out << w->objectName();
        out.sort();
        return out;
    }
    void wait_for_reports(int count)
    {
        QTRY_VERIFY_WITH_TIMEOUT(window->reports.size() >= count && !window->is_busy(), 120000);
    }
    void run(const QString &mode, const QStringList &files, const QString &folder = QString())
    {
        window->choose(mode);
        window->file_answers = {files};
        window->click("add_file_button");
        if (!folder.isEmpty()) {
            window->folder_answers = {folder};
            window->click("add_dir_button");
        }
        window->click("start_button");
    }

private slots:
    void initTestCase()
    {
        ui_language = 0;
        text = Basic_Text::instance();
        QApplication::setQuitOnLastWindowClosed(false);
        previous_dir = QDir::currentPath();
    }

    // Every case runs in its own empty working folder with a fresh window.
    void init()
    {
        work = std::make_unique<QTemporaryDir>();
        QVERIFY(work->isValid());
        QVERIFY(QDir::setCurrent(work->path()));
        window = std::make_unique<Test_Window>();
        window->init_window();
    }

    void cleanup()
    {
        window.reset();
        QDir::setCurrent(previous_dir);
        work.reset();
    }

    // What the table shows is what runs: a switch drops the other mode's entries.
    void set_up_and_type_switch()
    {
        QVERIFY(window->is_encryption_mode());
        QCOMPARE(window->find<QLabel>("hint_label")->text(), text->txt_hint_encryption);
        QVERIFY(window->status().isEmpty());
        QCOMPARE(usable(), all_controls);
        QCOMPARE(table()->rowCount(), 0);

        window->file_answers = {{QStringLiteral("/data/a.txt")}};
        window->folder_answers = {QStringLiteral("/data/dir")};
        window->click("add_file_button");
        window->click("add_dir_button");
        QVERIFY(window->file_filter.isEmpty());
        // Re-choosing the current mode keeps the list and shows it.
        window->choose(text->txt_type_encryption);
        QVERIFY(window->is_encryption_mode());
        QCOMPARE(rows(), QStringList({"/data/dir|IsDir", "/data/a.txt|IsFile"}));

        // Plain files must never be fed to decryption.
        window->choose(text->txt_type_decryption);
        QVERIFY(!window->is_encryption_mode());
        QVERIFY(window->files().isEmpty() && window->folders().isEmpty());
        QCOMPARE(table()->rowCount(), 0);
        QVERIFY(!window->find("add_dir_button")->isEnabled());
        QCOMPARE(window->find("start_button")->text(), QStringLiteral("Decryption"));
        QCOMPARE(window->find<QLabel>("hint_label")->text(), text->txt_hint_decryption);

        window->file_answers = {{QStringLiteral("/data/x.kvxdata")}};
        window->click("add_file_button");
        QCOMPARE(window->file_dir, QDir(work->path()).absoluteFilePath(QStringLiteral("AddData")));
        QCOMPARE(window->file_filter, QStringLiteral("KVX file(*.kvxdata)"));
        window->choose(text->txt_type_decryption);
        QCOMPARE(rows(), QStringList({"/data/x.kvxdata|IsFile"}));

        window->choose(text->txt_type_encryption);
        QVERIFY(window->files().isEmpty());
        QVERIFY(window->find("add_dir_button")->isEnabled());
        QCOMPARE(window->find("start_button")->text(), QStringLiteral("Encryption"));
    }

    void rows_list_folders_first_in_code_unit_order_once_each()
    {
        window->file_answers = {{QStringLiteral("C:/b"), QStringLiteral("C:/a"), QStringLiteral("C:/A")}};
        window->click("add_file_button");
        window->folder_answers = {QStringLiteral("C:/z"), QStringLiteral("C:/Z")};
        window->click("add_dir_button");
        window->click("add_dir_button");
        QCOMPARE(rows(), QStringList({"C:/Z|IsDir", "C:/z|IsDir", "C:/A|IsFile", "C:/a|IsFile",
                                      "C:/b|IsFile"}));

        // A listed path added again stays one row; a cancelled dialog adds nothing.
        window->file_answers = {{QStringLiteral("C:/a")}};
        window->click("add_file_button");
        window->click("add_file_button");
        window->click("add_dir_button");
        QCOMPARE(table()->rowCount(), 5);
    }

    void delete_touches_only_its_own_map_and_clear_empties_both()
    {
        // The same path as file and as folder: two entries, two rows.
        window->file_answers = {{QStringLiteral("/p/same"), QStringLiteral("/p/other")}};
        window->folder_answers = {QStringLiteral("/p/same")};
        window->click("add_file_button");
        window->click("add_dir_button");
        window->click("delete_button"); // nothing selected
        QCOMPARE(table()->rowCount(), 3);

        table()->selectRow(0); // the folder row
        window->click("delete_button");
        QVERIFY(window->folders().isEmpty());
        QCOMPARE(window->files().keys(), QStringList({"/p/other", "/p/same"}));

        table()->setSelectionMode(QAbstractItemView::MultiSelection);
        table()->selectRow(0);
        table()->selectRow(1);
        window->click("delete_button");
        QVERIFY(window->files().isEmpty());
        QCOMPARE(table()->rowCount(), 0);

        window->add_files({QStringLiteral("/a")});
        window->add_folder(QStringLiteral("/b"));
        window->click("clear_button");
        QVERIFY(window->files().isEmpty() && window->folders().isEmpty());
        QCOMPARE(table()->rowCount(), 0);
        QCOMPARE(table()->horizontalHeaderItem(1)->text(), QStringLiteral("FileType"));

        // With nothing listed a start does nothing.
        window->click("start_button");
        QVERIFY(!window->is_busy());
        QCOMPARE(window->threads_started, 0);
        QCoreApplication::processEvents();
        QVERIFY(window->reports.isEmpty());
        QVERIFY(window->status().isEmpty());
    }

    void busy_state_locks_the_list_but_not_the_view()
    {
        QVERIFY(write_file(work_path("in/a.txt"), "alpha"));
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        const int idle_width = window->width();
        run(text->txt_type_encryption, {work_path("in/a.txt")});

        // The end arrives queued, so the window is busy until events run.
        QVERIFY(window->is_busy());
        QCOMPARE(window->status(), QStringLiteral("EncryptionIng") + QString(2, QChar(0x2026)));
        QCOMPARE(usable(), QStringList({"cancel_button", "file_table", "open_dir_button"}));
        QVERIFY(window->find<QProgressBar>("progress_bar")->isVisibleTo(window.get()));
        QCoreApplication::processEvents(); // let the layout settle
        QCOMPARE(window->width(), idle_width); // the window must not jump

        // Nothing changes the list while it is being worked on.
        window->add_files({QStringLiteral("/late")});
        window->click("start_button");
        QCOMPARE(window->threads_started, 1);
        QCOMPARE(window->files().size(), 1);

        wait_for_reports(1);
        QCOMPARE(window->reports.size(), 1);
        QVERIFY(window->status().isEmpty());
        QVERIFY(!window->find<QProgressBar>("progress_bar")->isVisibleTo(window.get()));
        QVERIFY(window->files().isEmpty());
        QCOMPARE(usable(), all_controls);
    }

    void encryption_and_decryption_end_to_end()
    {
        const QByteArray big = test_support::random_bytes(3 * 1024 * 1024 + 17, 42);
        QVERIFY(write_file(work_path("in/docs/readme.txt"), "read me\n"));
        QVERIFY(write_file(work_path("in/docs/sub/big.bin"), big));
        QVERIFY(write_file(work_path(QStringLiteral("in/docs/sub/caf\u00e9 \u6587.txt")), "unicode"));
        QVERIFY(write_file(work_path("in/single.txt"), "single"));
        const QMap<QString, QByteArray> original = tree(work_path("in"));

        // A success that left something out says so in the detail only.
        const bool pipe = test_support::make_pipe(work_path("in/docs/pipe"));
        run(text->txt_type_encryption, {work_path("in/single.txt")}, work_path("in/docs"));
        wait_for_reports(1);
        QCOMPARE(window->reports[0].title, QStringLiteral("Encryption/Decryption"));
        QCOMPARE(window->reports[0].text, QStringLiteral("EncryptionSuccessful"));
        QVERIFY2(window->reports[0].detail.contains(pipe ? "docs/pipe" : ""), qPrintable(window->reports[0].detail));
        QVERIFY(!pipe || QFile::remove(work_path("in/docs/pipe")));
        const QStringList made = entries(work_path("AddData"));
        QCOMPARE(made.size(), 1);
        QVERIFY2(made[0].endsWith(QLatin1String(".kvxdata")), qPrintable(made[0]));
        const QString container = work_path("AddData/" + made[0]);
        QVERIFY2(window->reports[0].detail.startsWith("Saved to:\n" + container), qPrintable(window->reports[0].detail));
        QCOMPARE(tree(work_path("in")), original); // inputs untouched

        run(text->txt_type_decryption, {container});
        wait_for_reports(2);
        QCOMPARE(window->reports[1].text, QStringLiteral("DecryptionSuccessful"));
        // Beside the container: the container and one folder named by its base name.
        const QString base = made[0].section(QLatin1Char('.'), 0, 0);
        QCOMPARE(window->reports[1].detail, "Saved to:\n" + work_path("AddData/" + base));
        QCOMPARE(entries(work_path("AddData")), QStringList({base, made[0]}));
        const QMap<QString, QByteArray> extracted = tree(work_path("AddData/" + base));
        // The packed folder keeps its name, the loose file lies at the top.
        QCOMPARE(extracted.keys(), original.keys());
        QVERIFY(extracted == original);
    }

    void failing_runs_report_failure_with_reason()
    {
        run(text->txt_type_encryption, {work_path("missing.txt")});
        wait_for_reports(1);
        QCOMPARE(window->reports[0].text, QStringLiteral("EncryptionFailure"));
        QVERIFY(!window->reports[0].detail.isEmpty());
        QCOMPARE(entries(work_path("AddData")), QStringList()); // no container, no hidden part file

        // A foreign file under a container name stays as it was.
        const QByteArray junk("this is not a container at all");
        QVERIFY(write_file(work_path("box/foreign.kvxdata"), junk));
        run(text->txt_type_decryption, {work_path("box/foreign.kvxdata")});
        wait_for_reports(2);
        QCOMPARE(window->reports[1].text, QStringLiteral("DecryptionFailure"));
        QVERIFY(!window->reports[1].detail.isEmpty());
        QCOMPARE(read_all(work_path("box/foreign.kvxdata")), junk);
        QCOMPARE(entries(work_path("box")), QStringList({"foreign.kvxdata"}));
    }

    void thread_start_failure_leaves_busy_state()
    {
        window->fail_thread_start = true;
        run(text->txt_type_encryption, {QStringLiteral("/x/a")});
        QVERIFY(!window->is_busy());
        QCOMPARE(window->reports.size(), 1);
        QCOMPARE(window->reports[0].text, QStringLiteral("EncryptionFailure"));
        QVERIFY(!window->reports[0].detail.isEmpty());
        QCOMPARE(usable(), all_controls);
        QVERIFY(window->status().isEmpty());
        // Nothing ran, so the list is kept for another try.
        QCOMPARE(window->files().size(), 1);
    }

    // Closing cancels and waits; destroying joins the worker, which must
    // never touch the window afterwards (run under the sanitizers). Cancel
    // and Esc stop the run and keep the list for another try.
    void ending_the_window_mid_run_leaves_nothing_data()
    {
        QTest::addColumn<bool>("destroy");
        QTest::addColumn<QString>("how");
        QTest::newRow("close") << false << "close";
        QTest::newRow("destroy") << true << "";
        QTest::newRow("cancel button") << false << "cancel";
        QTest::newRow("escape") << false << "escape";
    }
    void ending_the_window_mid_run_leaves_nothing()
    {
        QFETCH(bool, destroy);
        QFETCH(QString, how);
        const QByteArray big = test_support::random_bytes(32 * 1024 * 1024, 42);
        for (int i = 0; i < 4; ++i)
            QVERIFY(write_file(work_path(QStringLiteral("in/big%1.bin").arg(i)), big));
        window->show();
        window->folder_answers = {work_path("in")};
        window->click("add_dir_button");
        window->click("start_button");
        QVERIFY(window->is_busy());
        if (destroy) {
            window.reset();
        } else {
            QTRY_VERIFY_WITH_TIMEOUT(window->find<QProgressBar>("progress_bar")->value() > 0
                                         || !window->is_busy(), 60000);
            if (!window->is_busy())
                QSKIP("the run ended before the window could be closed");
            if (how == "close")
                QVERIFY(window->close());
            else if (how == "cancel")
                window->click("cancel_button");
            else
                QTest::keyClick(window.get(), Qt::Key_Escape);
        }
        QTRY_VERIFY(destroy || !window->is_busy());
        if (!destroy) {
            QVERIFY(window->reports.isEmpty()); // no box: the user asked for it
            if (how != "close") {
                QCOMPARE(window->status(), QStringLiteral("EncryptionCancelled"));
                QCOMPARE(window->folders().keys(), QStringList({work_path("in")}));
                QCOMPARE(usable(), all_controls);
            }
        }
        QCOMPARE(entries(work_path("AddData")), QStringList());
        for (int i = 0; i < 4; ++i)
            QCOMPARE(read_all(work_path(QStringLiteral("in/big%1.bin").arg(i))), big);
    }

    // Paths given at start-up are listed as if chosen; unusable ones are named.
    void start_up_paths_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<bool>("decryption");
        QTest::addColumn<QStringList>("listed");
        QTest::newRow("containers") << QStringList{"box/a.kvxdata", "@box/b.KVXDATA", "gone.kvxdata"}
                                    << true << QStringList{"box/a.kvxdata", "box/b.KVXDATA"};
        QTest::newRow("mixed") << QStringList{"box/a.kvxdata", "box", "gone.txt"} << false
                               << QStringList{"box", "box/a.kvxdata"};
    }
    void start_up_paths()
    {
        QFETCH(QStringList, args);
        QFETCH(bool, decryption);
        QFETCH(QStringList, listed);
        QVERIFY(write_file(work_path("box/a.kvxdata"), "a"));
        QVERIFY(write_file(work_path("box/b.KVXDATA"), "b"));
        // "@": the same path made absolute.
        for (QString &arg : args)
            if (arg.startsWith('@'))
                arg = work_path(arg.mid(1));
        window->open_paths(args);
        QCOMPARE(window->is_encryption_mode(), !decryption);
        QCOMPARE(window->find<QComboBox>("type_combo")->currentIndex(), decryption ? 1 : 0);
        QStringList expected;
        for (const QString &rel : listed)
            expected << work_path(rel) + (QFileInfo(work_path(rel)).isDir() ? "|IsDir" : "|IsFile");
        QCOMPARE(rows(), expected);
        QTRY_COMPARE(window->reports.size(), 1);
        QCOMPARE(window->reports[0].text, "These paths were not listed:\n" + args.last() + ": does not exist");
    }

    // Drops are added as if chosen; in decryption mode only containers.
    void dropped_paths_are_added_as_if_chosen()
    {
        QVERIFY(write_file(work_path("drop/a.txt"), "a"));
        QVERIFY(write_file(work_path("drop/c.kvxdata"), "c"));
        QVERIFY(QDir().mkpath(work_path("drop/folder")));
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(work_path("drop/a.txt")),
                      QUrl::fromLocalFile(work_path("drop/folder/")),
                      QUrl::fromLocalFile(work_path("drop/c.kvxdata")),
                      QUrl::fromLocalFile(work_path("drop/gone.txt")),
                      QUrl(QStringLiteral("https://example.org/x.txt"))});
        const auto drop = [&](QMimeData *data) {
            QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
            window->dragEnterEvent(&enter);
            if (!enter.isAccepted())
                return false;
            QDropEvent drop(QPointF(10, 10), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
            window->dropEvent(&drop);
            return true;
        };
        QVERIFY(drop(&mime));
        QCOMPARE(window->folders().keys(), QStringList({work_path("drop/folder")}));
        QCOMPARE(window->files().keys(),
                 QStringList({work_path("drop/a.txt"), work_path("drop/c.kvxdata")}));
        QCOMPARE(table()->rowCount(), 3);

        window->choose(text->txt_type_decryption);
        QVERIFY(drop(&mime));
        QVERIFY(window->folders().isEmpty());
        QCOMPARE(window->files().keys(), QStringList({work_path("drop/c.kvxdata")}));
        QMimeData plain;
        plain.setUrls({QUrl::fromLocalFile(work_path("drop/a.txt"))});
        QVERIFY(!drop(&plain));
    }

    // The real report box: modal, no parent, the reason as its detail text.
    void failure_box_carries_the_reason()
    {
        Pellanor window;
        window.init_window();
        QStringList seen;
        QTimer::singleShot(0, [&] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                seen << box->windowTitle() << box->text() << box->detailedText();
                if (!box->parentWidget())
                    seen << QStringLiteral("no parent");
                box->accept();
            }
        });
        window.slot_end_work(QVariant(QVariantMap{{QStringLiteral("is_encryption"), true},
                                                  {QStringLiteral("is_ok"), false},
                                                  {QStringLiteral("reason"), QStringLiteral("disk full")}}));
        QCOMPARE(seen, QStringList({"Encryption/Decryption", "EncryptionFailure", "disk full", "no parent"}));
    }

    void open_dir_creates_and_shows_the_working_folder()
    {
        window->click("open_dir_button");
        QVERIFY(QFileInfo(work_path("AddData")).isDir());
        QCOMPARE(window->opened, QList<QUrl>({QUrl::fromLocalFile(QDir(work->path()).absoluteFilePath("AddData"))}));
    }
};

QTEST_MAIN(Window_Test)

#include "test_pellanor.moc"
