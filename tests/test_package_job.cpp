// SPDX-License-Identifier: GPL-3.0-or-later
// The package job without a window: one run on a thread of its own, its end
// delivered as the result itself, a failed start, an abandoned run.
#include "package_job.h"
#include "engine_test_support.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QSignalSpy>
#include <QTimer>

#include <system_error>

using namespace test_support;

class Package_Job_Test : public QObject
{
    Q_OBJECT

    QTemporaryDir work;
    QString at(const QString &name) const { return work.filePath(name); }
    Package_Job::Input packing() const { return {true, {at("in/a.txt")}, {}, at("out"), {}, {}, {}}; }

private slots:
    void initTestCase() { QVERIFY(write_file(at("in/a.txt"), QByteArray(256 * 1024, 'a'))); }

    // The result crosses whole, on the job's thread, after the worker is joined.
    void run_ends_with_its_result()
    {
        Package_Job job;
        QSignalSpy ended(&job, &Package_Job::finished);
        QSignalSpy progress(&job, &Package_Job::progress);
        QVERIFY(!job.start(packing()) && job.is_running());
        QVERIFY(ended.wait(60000));
        QVERIFY(!job.is_running());
        const auto result = ended.at(0).at(0).value<Package_Result>();
        QVERIFY2(result.is_ok && result.is_encryption, qPrintable(result.errors.join('\n')));
        QVERIFY(QFileInfo(result.container_path).isFile());
        QCOMPARE(progress.last().at(0), progress.last().at(1)); // the last word is "all done"
        QCoreApplication::processEvents();
        QCOMPARE(ended.size(), 1);
    }

    void failed_start_is_a_failure_and_runs_nothing()
    {
        Package_Job job;
        job.set_thread_starter([](std::function<void()>) -> std::thread {
            throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
        });
        QSignalSpy ended(&job, &Package_Job::finished);
        const std::optional<Package_Result> failed = job.start(packing());
        QVERIFY(failed && failed->is_encryption && !failed->is_ok && !job.is_running());
        QVERIFY2(failed->errors.join('\n').startsWith("The work could not be started: "), qPrintable(failed->errors.join('\n')));
        QCoreApplication::processEvents();
        QVERIFY(ended.isEmpty() && job.abandon() == std::nullopt);
    }

    // Abandoned, the run is answered at once and never delivered; a run
    // started after it ends as its own, once, however late the first one's
    // delivery comes.
    void abandoned_run_is_answered_at_once()
    {
        Package_Job job;
        QSignalSpy ended(&job, &Package_Job::finished);
        job.start(packing());
        const std::optional<Package_Result> abandoned = job.abandon();
        QVERIFY(abandoned && abandoned->is_encryption && !job.is_running());
        job.start({false, {at("none.kvxdata")}, {}, {}, {}, {}, {}});
        QVERIFY(ended.wait(60000));
        QCoreApplication::processEvents();
        QCOMPARE(ended.size(), 1);
        QVERIFY(!ended.at(0).at(0).value<Package_Result>().is_encryption);
    }

    // A run waiting for a password (the dialog's own event loop running) ends
    // when it is cancelled, abandoned or its job goes: the question is
    // withdrawn, no late answer is taken, nothing is unpacked, nothing hangs.
    void waiting_for_a_password_ends_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("cancel") << "cancel";
        QTest::newRow("abandon") << "abandon";
        QTest::newRow("job destroyed") << "destroyed";
    }
    void waiting_for_a_password_ends()
    {
        QFETCH(QString, how);
        QTemporaryDir here;
        Pack_Options sealing;
        sealing.password = Password("right");
        const Package_Result packed = run_encryption(QStringList{at("in/a.txt")}, {}, here.path(), nullptr, sealing);
        QVERIFY2(packed.is_ok, qPrintable(packed.errors.join('\n')));

        auto job = std::make_unique<Package_Job>();
        QSignalSpy ended(job.get(), &Package_Job::finished);
        QSignalSpy withdrawn(job.get(), &Package_Job::password_withdrawn);
        std::optional<Package_Result> abandoned;
        int asked = 0;
        job->set_password_asker([&](const QString &, int, Password *out) {
            ++asked;
            QEventLoop dialog;
            connect(job.get(), &Package_Job::password_withdrawn, &dialog, &QEventLoop::quit);
            QTimer::singleShot(0, [&] {
                if (how == "cancel")
                    job->cancel();
                else if (how == "abandon")
                    abandoned = job->abandon();
                else
                    job.reset();
            });
            dialog.exec();
            *out = Password("right");  // too late: the run no longer asks
            return true;
        });
        QVERIFY(!job->start({false, {packed.container_path}, {}, {}, {}, {}, {}}));
        if (how == "cancel") {
            QVERIFY(ended.wait(60000));
            QVERIFY(ended.at(0).at(0).value<Package_Result>().is_cancelled);
        } else {
            QTRY_VERIFY_WITH_TIMEOUT(asked == 1 && !(job && job->is_running()), 60000);
            QVERIFY(how != "abandon" || (abandoned && abandoned->is_cancelled));
        }
        QCOMPARE(asked, 1);
        QCOMPARE(withdrawn.size(), 1);
        QCOMPARE(entries(here.filePath("AddData")), QStringList({QFileInfo(packed.container_path).fileName()}));
    }
};

QTEST_GUILESS_MAIN(Package_Job_Test)

#include "test_package_job.moc"
