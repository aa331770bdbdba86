// SPDX-License-Identifier: GPL-3.0-or-later
// The table's context menu and the contents dialog, run unattended.

#include "window_test_support.h"

#include <QMenu>
#include <QSignalSpy>

using namespace test_support;

class Row_Menu_Test : public QObject, Scratch
{
    Q_OBJECT

    std::unique_ptr<Unattended_Window> window;
    QString container;
    const QMap<QString, QByteArray> source{{"box", "/"}, {"box/a b", "/"}, {"box/a b/ü [1].txt", "one"},
                                           {"box/two.txt", "two"}, {"box/*.txt", "star"}};

    void wait_for_run(int reports)
    {
        QSignalSpy ended(window.get(), &Pellanor::signal_end_work);
        if (window->is_busy())
            QVERIFY(ended.wait(120000));
        QCOMPARE(window->reports.size(), reports);
    }
    void list(bool encryption, const QStringList &files, const QStringList &folders = {})
    {
        window = std::make_unique<Unattended_Window>();
        window->init_window();
        if (!encryption)
            window->open_paths(files, Pellanor::Open_Mode::Unpack);
        else {
            window->add_files(files);
            for (const QString &f : folders)
                window->add_folder(f);
        }
        QCOMPARE(window->is_encryption_mode(), encryption);
    }
    // Takes the action from the first row's menu, opened as from the keyboard
    // (Shift+F10), on that row alone: no selection.
    void pick(const QString &action)
    {
        auto *table = window->findChild<QTableWidget *>("file_table");
        QVERIFY(!window->row_menu(table->rowCount())); // no row there
        window->show();
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
        table->setFocus();
        table->setCurrentCell(0, 0);
        table->clearSelection();
        QTest::keyClick(table, Qt::Key_F10, Qt::ShiftModifier);
        auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
        QVERIFY(menu);
        const QList<QAction *> actions = menu->actions();
        const auto it = std::find_if(actions.cbegin(), actions.cend(), [&](QAction *a) { return a->text() == action; });
        QVERIFY2(it != actions.cend(), qPrintable(action));
        (*it)->trigger();
        menu->close();
    }

private slots:
    void initTestCase()
    {
        QApplication::setQuitOnLastWindowClosed(false);
        make_tree("src", source);
        const Package_Result made = run_encryption({}, {path("src/box")}, dir.path());
        QVERIFY(made.is_ok);
        container = made.container_path;
    }
    void cleanup() { window.reset(); }

    // Unpack to… (a container's row) fills the chosen folder; Pack as… (a
    // file's or folder's row) makes the named container, of that row alone;
    // neither touches the working folder.
    void directed_runs_data()
    {
        QTest::addColumn<bool>("encryption");
        QTest::addColumn<bool>("all_listed"); // as --unpack-to asks
        QTest::newRow("unpack to") << false << false;
        QTest::newRow("unpack listed to") << false << true;
        QTest::newRow("pack as") << true << false;
    }

    void directed_runs()
    {
        QFETCH(bool, encryption);
        QFETCH(bool, all_listed);
        const QString out = path(QString(QTest::currentDataTag()).replace(' ', '-'));
        QVERIFY(QDir().mkpath(out));
        list(encryption, encryption ? QStringList{path("src/box/two.txt")} : QStringList{container},
             encryption ? QStringList{path("src/box/a b")} : QStringList{});
        window->set_base_folder(path("base"));
        window->save_answers = {out + "/named"};
        window->folder_answers = {out};
        if (all_listed)
            window->unpack_listed_to();
        else
            pick(encryption ? "&Pack as…" : "&Unpack to…");
        wait_for_run(1);
        QVERIFY2(window->reports[0].is_ok, qPrintable(window->reports[0].text));
        QVERIFY(!QFileInfo::exists(path("base")));
        if (encryption) {
            QCOMPARE(entries(out), QStringList{"named.kvxdata"});
            const Package_Result r = run_decryption(QStringList{out + "/named.kvxdata"});
            QVERIFY(r.is_ok);
            QCOMPARE(tree(out + "/named"), (QMap<QString, QByteArray>{{"a b", "/"}, {"a b/ü [1].txt", "one"}}));
        } else {
            QCOMPARE(tree(out + "/" + QFileInfo(container).baseName()), source);
        }
    }

    // The dialog lists the entries as a tree; the selected ones unpack into
    // a chosen folder, names with pattern characters exactly.
    void contents_dialog_data()
    {
        QTest::addColumn<QStringList>("selected");
        QTest::addColumn<QStringList>("unpacked");
        QTest::newRow("file with brackets") << QStringList{"box/a b/ü [1].txt"} << QStringList{"box", "box/a b", "box/a b/ü [1].txt"};
        QTest::newRow("star in a name") << QStringList{"box/*.txt"} << QStringList{"box", "box/*.txt"};
        QTest::newRow("folder and file") << QStringList{"box/a b", "box/two.txt"}
                                         << QStringList{"box", "box/a b", "box/a b/ü [1].txt", "box/two.txt"};
    }

    void contents_dialog()
    {
        QFETCH(QStringList, selected);
        QFETCH(QStringList, unpacked);
        list(false, {container});
        pick("&Show contents…");
        auto *dialog = window->findChild<Contents_Dialog *>();
        QVERIFY(dialog);
        QSignalSpy listed(dialog, &Contents_Dialog::listed);
        QVERIFY(listed.wait(60000));
        QCOMPARE(listed.at(0).at(0).toBool(), true);
        QTreeWidget &tree_view = dialog->tree();
        QCOMPARE(tree_view.topLevelItemCount(), 1);
        QVERIFY(!dialog->unpack_button().isEnabled());
        for (const QString &s : selected) {
            QTreeWidgetItem *item = tree_view.topLevelItem(0);
            for (const QString &part : s.split('/').mid(1)) {
                QTreeWidgetItem *next = nullptr;
                for (int i = 0; i < item->childCount(); ++i)
                    if (item->child(i)->text(0) == part)
                        next = item->child(i);
                QVERIFY2(next, qPrintable(s));
                item = next;
            }
            item->setSelected(true);
        }
        QVERIFY(dialog->unpack_button().isEnabled());
        const QString out = path("selected/" + QString(QTest::currentDataTag()));
        QVERIFY(QDir().mkpath(out));
        window->folder_answers = {out};
        dialog->unpack_button().click();
        wait_for_run(1);
        QVERIFY2(window->reports[0].is_ok, qPrintable(window->reports[0].text));
        QMap<QString, QByteArray> expected;
        for (const QString &k : unpacked)
            expected.insert(k, source.value(k));
        QCOMPARE(tree(out + "/" + QFileInfo(container).baseName()), expected);
    }

    void damaged_container_says_why()
    {
        make_file("bad.kvxdata", QByteArray(5000, 'x'));
        list(false, {path("bad.kvxdata")});
        Contents_Dialog *dialog = window->show_contents(path("bad.kvxdata"));
        QSignalSpy listed(dialog, &Contents_Dialog::listed);
        QVERIFY(listed.wait(60000));
        QCOMPARE(listed.at(0).at(0).toBool(), false);
        QVERIFY2(dialog->status().startsWith("This container cannot be listed: ") && dialog->status().size() > 40,
                 qPrintable(dialog->status()));
        QCOMPARE(dialog->tree().topLevelItemCount(), 0);
    }
};

QTEST_MAIN(Row_Menu_Test)
#include "test_row_menu.moc"
