// The package job without a window: one run on a thread of its own, its end
// delivered as the result itself, a failed start, an abandoned run.
#include "package_job.h"
#include "engine_test_support.h"

#include <QCoreApplication>
#include <QSignalSpy>

#include <system_error>

using namespace test_support;

class Package_Job_Test : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir work;
    QString at(const QString &name) const { return work.filePath(name); }
    Package_Job::Input packing() const { return {true, {at("in/a.txt")}, {}, at("out")}; }

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
        job.start({false, {at("none.kvxdata")}, {}, {}});
        QVERIFY(ended.wait(60000));
        QCoreApplication::processEvents();
        QCOMPARE(ended.size(), 1);
        QVERIFY(!ended.at(0).at(0).value<Package_Result>().is_encryption);
    }
};

QTEST_GUILESS_MAIN(Package_Job_Test)

#include "test_package_job.moc"
