#include "Basic_Style.h"
#include "Basic_Text.h"
#include "Pellanor.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>
#include <system_error>

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
    QString file_caption, file_dir, file_filter;
    QList<Report> reports;
    QList<QUrl> opened;
    bool fail_thread_start = false;
    int threads_started = 0;

    using Pellanor::dragEnterEvent;
    using Pellanor::dropEvent;

    template <typename T>
    T *find(const char *name) { return findChild<T *>(QString::fromLatin1(name)); }

    void choose(const QString &type) { emit find<QComboBox>("type_combo")->textActivated(type); }
    void click(const char *button) { find<QPushButton>(button)->click(); }

protected:
    QStringList choose_files(const QString &caption, const QString &dir,
                             const QString &filter) override
    {
        file_caption = caption;
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

QByteArray file_bytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool write_file(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray random_bytes(qsizetype size)
{
    QByteArray bytes(size, '\0');
    QRandomGenerator generator(42);
    generator.fillRange(reinterpret_cast<quint32 *>(bytes.data()), size / 4);
    return bytes;
}

// Every file under the folder, relative path to content.
QMap<QString, QByteArray> tree(const QString &root)
{
    QMap<QString, QByteArray> files;
    QDirIterator it(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        files.insert(QDir(root).relativeFilePath(path), file_bytes(path));
    }
    return files;
}

QStringList entries(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
}

QMimeData *url_mime(const QStringList &paths)
{
    auto *mime = new QMimeData;
    QList<QUrl> urls;
    for (const QString &path : paths)
        urls.append(path.contains(QLatin1String("://")) ? QUrl(path) : QUrl::fromLocalFile(path));
    mime->setUrls(urls);
    return mime;
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

    QString work_path(const QString &name) const { return work->filePath(name); }
    QTableWidget *table() { return window->find<QTableWidget>("file_table"); }
    QStringList rows()
    {
        QStringList out;
        for (int row = 0; row < table()->rowCount(); ++row)
            out << table()->item(row, 0)->text() + QLatin1Char('|') + table()->item(row, 1)->text();
        return out;
    }
    void wait_for_reports(int count)
    {
        QTRY_VERIFY_WITH_TIMEOUT(window->reports.size() >= count && !window->is_busy(), 120000);
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

    void set_up_window_starts_in_encryption_mode()
    {
        QVERIFY(window->is_encryption_mode());
        QCOMPARE(window->windowTitle(), QStringLiteral("  Corvanta"));
        QCOMPARE(window->find<QComboBox>("type_combo")->currentText(), QStringLiteral("Encryption"));
        QCOMPARE(window->find<QPushButton>("start_button")->text(), QStringLiteral("Encryption"));
        QCOMPARE(window->find<QLabel>("hint_label")->text(), text->txt_hint_encryption);
        QVERIFY(window->find<QLabel>("status_label")->text().isEmpty());
        for (const char *name : {"add_file_button", "add_dir_button", "delete_button",
                                 "clear_button", "open_dir_button", "start_button"})
            QVERIFY2(window->find<QPushButton>(name)->isEnabled(), name);

        QCOMPARE(table()->rowCount(), 0);
        QCOMPARE(table()->columnCount(), 2);
        QCOMPARE(table()->horizontalHeaderItem(0)->text(), QStringLiteral("FileName"));
        QCOMPARE(table()->horizontalHeaderItem(1)->text(), QStringLiteral("FileType"));
        QCOMPARE(table()->columnWidth(0), 450);
        QVERIFY(!table()->verticalHeader()->isVisibleTo(window.get()));
        QCOMPARE(table()->editTriggers(), QAbstractItemView::NoEditTriggers);
        QCOMPARE(table()->selectionBehavior(), QAbstractItemView::SelectRows);
    }

    void type_switch_changes_mode_and_drops_other_mode_entries()
    {
        window->file_answers = {{QStringLiteral("/data/a.txt")}};
        window->folder_answers = {QStringLiteral("/data/dir")};
        window->click("add_file_button");
        window->click("add_dir_button");
        QCOMPARE(table()->rowCount(), 2);

        // Re-choosing the current mode keeps the list and shows it.
        window->choose(text->txt_type_encryption);
        QVERIFY(window->is_encryption_mode());
        QCOMPARE(rows(), QStringList({"/data/dir|IsDir", "/data/a.txt|IsFile"}));

        // Plain files must never be fed to decryption.
        window->choose(text->txt_type_decryption);
        QVERIFY(!window->is_encryption_mode());
        QVERIFY(window->files().isEmpty());
        QVERIFY(window->folders().isEmpty());
        QCOMPARE(table()->rowCount(), 0);
        QVERIFY(!window->find<QPushButton>("add_dir_button")->isEnabled());
        QCOMPARE(window->find<QPushButton>("start_button")->text(), QStringLiteral("Decryption"));
        QCOMPARE(window->find<QLabel>("hint_label")->text(), text->txt_hint_decryption);

        window->file_answers = {{QStringLiteral("/data/x.kvxdata")}};
        window->click("add_file_button");
        window->choose(text->txt_type_decryption);
        QCOMPARE(rows(), QStringList({"/data/x.kvxdata|IsFile"}));

        window->choose(text->txt_type_encryption);
        QVERIFY(window->files().isEmpty());
        QVERIFY(window->find<QPushButton>("add_dir_button")->isEnabled());
        QCOMPARE(window->find<QPushButton>("start_button")->text(), QStringLiteral("Encryption"));
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
        QTableWidgetItem *folder_cell = table()->item(0, 0);
        QCOMPARE(folder_cell->data(1100).toBool(), true);
        QCOMPARE(folder_cell->data(1101).toString(), QStringLiteral("C:/Z"));
        QCOMPARE(table()->item(2, 0)->data(1100).toBool(), false);
        QVERIFY(!table()->item(2, 1)->data(1101).isValid());

        // A listed path added again stays one row; a cancelled dialog adds nothing.
        window->file_answers = {{QStringLiteral("C:/a")}};
        window->click("add_file_button");
        window->click("add_file_button");
        window->click("add_dir_button");
        QCOMPARE(table()->rowCount(), 5);
    }

    void file_dialog_depends_on_mode()
    {
        window->click("add_file_button");
        QCOMPARE(window->file_caption, QStringLiteral("Choose encrypted file"));
        QVERIFY(window->file_dir.isEmpty());
        QVERIFY(window->file_filter.isEmpty());

        window->choose(text->txt_type_decryption);
        window->click("add_file_button");
        QCOMPARE(window->file_caption, QStringLiteral("Choose decryption file"));
        QCOMPARE(window->file_dir, QDir(work->path()).absoluteFilePath(QStringLiteral("AddData")));
        QCOMPARE(window->file_filter, QStringLiteral("KVX file(*.kvxdata)"));
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
    }

    void start_with_empty_list_does_nothing()
    {
        window->click("start_button");
        QVERIFY(!window->is_busy());
        QCOMPARE(window->threads_started, 0);
        QCoreApplication::processEvents();
        QVERIFY(window->reports.isEmpty());
        QVERIFY(window->find<QLabel>("status_label")->text().isEmpty());
    }

    void busy_state_locks_the_list_but_not_the_view()
    {
        QVERIFY(write_file(work_path("in/a.txt"), "alpha"));
        window->file_answers = {{work_path("in/a.txt")}};
        window->click("add_file_button");
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        const int idle_width = window->width();
        window->click("start_button");

        // The end arrives queued, so the window is busy until events run.
        QVERIFY(window->is_busy());
        QCOMPARE(window->find<QLabel>("status_label")->text(),
                 QStringLiteral("EncryptionIng") + QString(2, QChar(0x2026)));
        for (const char *name : {"add_file_button", "add_dir_button", "delete_button",
                                 "clear_button", "start_button"})
            QVERIFY2(!window->find<QPushButton>(name)->isEnabled(), name);
        QVERIFY(!window->find<QComboBox>("type_combo")->isEnabled());
        QVERIFY(window->find<QPushButton>("open_dir_button")->isEnabled());
        QVERIFY(table()->isEnabled());
        QVERIFY(window->find<QProgressBar>("progress_bar")->isVisibleTo(window.get()));
        QCoreApplication::processEvents(); // let the layout settle
        QCOMPARE(window->width(), idle_width); // the window must not jump

        // Nothing changes the list while it is being worked on.
        window->file_answers = {{QStringLiteral("/late")}};
        window->add_files({QStringLiteral("/late")});
        window->click("start_button");
        QCOMPARE(window->threads_started, 1);
        QCOMPARE(window->files().size(), 1);

        wait_for_reports(1);
        QCOMPARE(window->reports.size(), 1);
        QVERIFY(window->find<QLabel>("status_label")->text().isEmpty());
        QVERIFY(!window->find<QProgressBar>("progress_bar")->isVisibleTo(window.get()));
        QVERIFY(window->files().isEmpty());
        QVERIFY(window->find<QPushButton>("start_button")->isEnabled());
        QVERIFY(window->find<QComboBox>("type_combo")->isEnabled());
        QVERIFY(window->is_encryption_mode());
    }

    void encryption_and_decryption_end_to_end()
    {
        const QByteArray big = random_bytes(3 * 1024 * 1024 + 17);
        QVERIFY(write_file(work_path("in/docs/readme.txt"), "read me\n"));
        QVERIFY(write_file(work_path("in/docs/sub/big.bin"), big));
        QVERIFY(write_file(work_path(QStringLiteral("in/docs/sub/caf\u00e9 \u6587.txt")), "unicode"));
        QVERIFY(write_file(work_path("in/single.txt"), "single"));
        const QMap<QString, QByteArray> original = tree(work_path("in"));

        window->folder_answers = {work_path("in/docs")};
        window->file_answers = {{work_path("in/single.txt")}};
        window->click("add_dir_button");
        window->click("add_file_button");
        window->click("start_button");
        wait_for_reports(1);

        QCOMPARE(window->reports[0].title, QStringLiteral("Encryption/Decryption"));
        QCOMPARE(window->reports[0].text, QStringLiteral("EncryptionSuccessful"));
        const QStringList made = entries(work_path("AddData"));
        QCOMPARE(made.size(), 1);
        QVERIFY2(made[0].endsWith(QLatin1String(".kvxdata")), qPrintable(made[0]));
        const QString container = work_path("AddData/" + made[0]);
        QVERIFY(QFileInfo(container).size() > 0);
        QCOMPARE(tree(work_path("in")), original); // inputs untouched

        window->choose(text->txt_type_decryption);
        window->file_answers = {{container}};
        window->click("add_file_button");
        window->click("start_button");
        wait_for_reports(2);
        QCOMPARE(window->reports[1].text, QStringLiteral("DecryptionSuccessful"));
        QVERIFY(window->reports[1].detail.isEmpty());
        QVERIFY(QFileInfo::exists(container));

        // Beside the container: the container and one folder named by its base name.
        const QString base = made[0].section(QLatin1Char('.'), 0, 0);
        QCOMPARE(entries(work_path("AddData")), QStringList({base, made[0]}));
        const QMap<QString, QByteArray> extracted = tree(work_path("AddData/" + base));
        QCOMPARE(extracted.size(), original.size());
        // The packed folder keeps its name, the loose file lies at the top.
        QCOMPARE(extracted.value(QStringLiteral("docs/sub/big.bin")), big);
        QCOMPARE(extracted.value(QStringLiteral("docs/readme.txt")), QByteArray("read me\n"));
        QCOMPARE(extracted.value(QStringLiteral("docs/sub/caf\u00e9 \u6587.txt")), QByteArray("unicode"));
        QCOMPARE(extracted.value(QStringLiteral("single.txt")), QByteArray("single"));
        QVERIFY(!window->is_encryption_mode());
        QVERIFY(!window->find<QPushButton>("add_dir_button")->isEnabled());
    }

    void failing_runs_report_failure_with_reason()
    {
        window->file_answers = {{work_path("missing.txt")}};
        window->click("add_file_button");
        window->click("start_button");
        wait_for_reports(1);
        QCOMPARE(window->reports[0].text, QStringLiteral("EncryptionFailure"));
        QVERIFY(!window->reports[0].detail.isEmpty());
        QVERIFY(window->files().isEmpty());
        const QStringList left = entries(work_path("AddData"));
        for (const QString &name : left)
            QVERIFY2(!name.endsWith(QLatin1String(".kvxdata")) && !name.endsWith(QLatin1String(".temp")),
                     qPrintable(name));

        // A foreign file under a container name stays as it was.
        const QByteArray junk("this is not a container at all");
        QVERIFY(write_file(work_path("box/foreign.kvxdata"), junk));
        window->choose(text->txt_type_decryption);
        window->file_answers = {{work_path("box/foreign.kvxdata")}};
        window->click("add_file_button");
        window->click("start_button");
        wait_for_reports(2);
        QCOMPARE(window->reports[1].text, QStringLiteral("DecryptionFailure"));
        QVERIFY(!window->reports[1].detail.isEmpty());
        QCOMPARE(file_bytes(work_path("box/foreign.kvxdata")), junk);
        QCOMPARE(entries(work_path("box")), QStringList({"foreign.kvxdata"}));
    }

    void thread_start_failure_leaves_busy_state()
    {
        window->file_answers = {{QStringLiteral("/x/a")}};
        window->click("add_file_button");
        window->fail_thread_start = true;
        window->click("start_button");
        QVERIFY(!window->is_busy());
        QCOMPARE(window->reports.size(), 1);
        QCOMPARE(window->reports[0].text, QStringLiteral("EncryptionFailure"));
        QVERIFY(!window->reports[0].detail.isEmpty());
        QVERIFY(window->find<QPushButton>("start_button")->isEnabled());
        QVERIFY(window->find<QLabel>("status_label")->text().isEmpty());
        // Nothing ran, so the list is kept for another try.
        QCOMPARE(window->files().size(), 1);
    }

    void closing_during_a_run_cancels_and_leaves_nothing()
    {
        for (int i = 0; i < 4; ++i)
            QVERIFY(write_file(work_path(QStringLiteral("in/big%1.bin").arg(i)),
                               random_bytes(32 * 1024 * 1024)));
        window->folder_answers = {work_path("in")};
        window->click("add_dir_button");
        window->show();
        window->click("start_button");
        QTRY_VERIFY_WITH_TIMEOUT(window->find<QProgressBar>("progress_bar")->value() > 0
                                     || !window->is_busy(), 60000);
        if (!window->is_busy())
            QSKIP("the run ended before the window could be closed");

        QVERIFY(window->close());
        QCoreApplication::processEvents();
        QVERIFY(window->reports.isEmpty()); // the user left; no box pops up
        QVERIFY(!window->is_busy());
        QCOMPARE(entries(work_path("AddData")), QStringList());
        QCOMPARE(entries(work_path("in")).size(), 4);
    }

    void destroying_the_window_during_a_run_waits_for_it()
    {
        QVERIFY(write_file(work_path("in/big.bin"), random_bytes(64 * 1024 * 1024)));
        window->file_answers = {{work_path("in/big.bin")}};
        window->click("add_file_button");
        window->click("start_button");
        QVERIFY(window->is_busy());
        window.reset(); // joins the worker; it must not touch the window afterwards
        QCoreApplication::processEvents();
        QCOMPARE(entries(work_path("AddData")), QStringList());
        QCOMPARE(file_bytes(work_path("in/big.bin")).size(), 64 * 1024 * 1024);
    }

    void dropped_paths_are_added_as_if_chosen()
    {
        QVERIFY(write_file(work_path("drop/a.txt"), "a"));
        QVERIFY(write_file(work_path("drop/c.kvxdata"), "c"));
        QVERIFY(QDir().mkpath(work_path("drop/folder")));
        const QStringList dropped = {work_path("drop/a.txt"), work_path("drop/folder/"),
                                     work_path("drop/c.kvxdata"), work_path("drop/gone.txt"),
                                     QStringLiteral("https://example.org/x.txt")};

        std::unique_ptr<QMimeData> mime(url_mime(dropped));
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, mime.get(), Qt::LeftButton, Qt::NoModifier);
        window->dragEnterEvent(&enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(QPointF(10, 10), Qt::CopyAction, mime.get(), Qt::LeftButton, Qt::NoModifier);
        window->dropEvent(&drop);
        QCOMPARE(window->folders().keys(), QStringList({work_path("drop/folder")}));
        QCOMPARE(window->files().keys(),
                 QStringList({work_path("drop/a.txt"), work_path("drop/c.kvxdata")}));
        QCOMPARE(table()->rowCount(), 3);

        // In decryption mode only containers are taken.
        window->choose(text->txt_type_decryption);
        QDropEvent drop_again(QPointF(10, 10), Qt::CopyAction, mime.get(), Qt::LeftButton, Qt::NoModifier);
        window->dropEvent(&drop_again);
        QVERIFY(window->folders().isEmpty());
        QCOMPARE(window->files().keys(), QStringList({work_path("drop/c.kvxdata")}));

        std::unique_ptr<QMimeData> plain(url_mime({work_path("drop/a.txt")}));
        QDragEnterEvent refused(QPoint(10, 10), Qt::CopyAction, plain.get(), Qt::LeftButton, Qt::NoModifier);
        window->dragEnterEvent(&refused);
        QVERIFY(!refused.isAccepted());
    }

    // The real report box: modal, no parent, the reason as its detail text.
    void failure_box_carries_the_reason()
    {
        Pellanor window;
        window.init_window();

        QString title, box_text, detail;
        bool had_parent = true;
        QTimer::singleShot(0, [&] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box)
                return;
            title = box->windowTitle();
            box_text = box->text();
            detail = box->detailedText();
            had_parent = box->parentWidget() != nullptr;
            box->accept();
        });
        window.slot_end_work(QVariant(QVariantMap{{QStringLiteral("is_encryption"), true},
                                                  {QStringLiteral("is_ok"), false},
                                                  {QStringLiteral("reason"), QStringLiteral("disk full")}}));
        QCOMPARE(title, QStringLiteral("Encryption/Decryption"));
        QCOMPARE(box_text, QStringLiteral("EncryptionFailure"));
        QCOMPARE(detail, QStringLiteral("disk full"));
        QVERIFY(!had_parent);
    }

    void open_dir_creates_and_shows_the_working_folder()
    {
        QVERIFY(!QFileInfo::exists(work_path("AddData")));
        window->click("open_dir_button");
        QVERIFY(QFileInfo(work_path("AddData")).isDir());
        QCOMPARE(window->opened.size(), 1);
        QCOMPARE(window->opened[0], QUrl::fromLocalFile(QDir(work->path()).absoluteFilePath("AddData")));
    }
};

QTEST_MAIN(Window_Test)

#include "test_pellanor.moc"
