// SPDX-License-Identifier: GPL-3.0-or-later
// Packs and unpacks a generated folder through the main window and measures
// how long the GUI thread is ever kept from running its event loop.
//
//   QT_QPA_PLATFORM=offscreen build/bench/bench_window [megabytes]
//   QT_QPA_PLATFORM=offscreen build/bench/bench_window --folder DIR   (an existing folder, say of many small files)

#include "Basic_Style.h"
#include "Basic_Text.h"
#include "Pellanor.h"

#include <QApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QProgressBar>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

namespace {

class Bench_Window : public Pellanor
{
public:
    QStringList answers;
    QString folder;
    QString last_report;

protected:
    QStringList choose_files(const QString &, const QString &, const QString &) override
    {
        return answers;
    }
    QString choose_folder(const QString &) override { return folder; }
    Run_Report::Answer show_report(const QString &, const Run_Report &report) override
    {
        last_report = report.details.isEmpty() ? report.text : report.text + QStringLiteral(": ") + report.details;
        return Run_Report::Answer::Dismissed;
    }
};

struct Run_Stats
{
    double seconds = 0;
    qint64 max_stall_ms = 0;
    int progress_steps = 0;
};

// Runs the window's event loop until the run has been reported.
Run_Stats run(Bench_Window &window)
{
    Run_Stats stats;
    QElapsedTimer clock;
    QElapsedTimer since_tick;
    auto *bar = window.findChild<QProgressBar *>(QStringLiteral("progress_bar"));
    int last_value = -1;

    QTimer ticker;
    ticker.setInterval(5);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        stats.max_stall_ms = qMax(stats.max_stall_ms, since_tick.restart());
        if (bar->value() != last_value) {
            last_value = bar->value();
            ++stats.progress_steps;
        }
        if (!window.is_busy())
            QCoreApplication::quit();
    });

    clock.start();
    since_tick.start();
    ticker.start();
    window.slot_encryption();
    QCoreApplication::exec();
    stats.seconds = clock.elapsed() / 1000.0;
    return stats;
}

void print(const char *what, const Run_Stats &stats, double megabytes, const QString &report)
{
    std::printf("%-10s %7.2f s  %7.1f MB/s  GUI max stall %3lld ms  bar steps %4d  %s\n", what,
                stats.seconds, megabytes / stats.seconds,
                static_cast<long long>(stats.max_stall_ms), stats.progress_steps,
                qPrintable(report));
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    ui_language = 0;
    const QStringList args = app.arguments().mid(1);
    const bool given = args.size() == 2 && args[0] == QLatin1String("--folder");
    const QString folder = given ? QDir(args[1]).absolutePath() : QString();
    double megabytes = !given && !args.isEmpty() ? qMax(1, args[0].toInt()) : 256;

    QTemporaryDir work;
    if (!work.isValid() || !QDir::setCurrent(work.path()))
        return 1;
    if (given) {
        qint64 bytes = 0;
        for (QDirIterator it(folder, QDir::Files, QDirIterator::Subdirectories); it.hasNext();)
            bytes += it.nextFileInfo().size();
        megabytes = double(bytes) / (1024 * 1024);
    }

    // Half incompressible, half text-like, in files of 8 MB.
    QDir().mkpath(QStringLiteral("in/data"));
    QRandomGenerator generator(7);
    const qsizetype file_size = 8 * 1024 * 1024;
    for (int i = 0; !given && i * 8 < megabytes; ++i) {
        QByteArray bytes(file_size, '\0');
        if (i % 2 == 0)
            generator.fillRange(reinterpret_cast<quint32 *>(bytes.data()), file_size / 4);
        else
            for (qsizetype j = 0; j < file_size; ++j)
                bytes[j] = char('a' + (j * 7 + j / 91) % 26);
        QFile file(QStringLiteral("in/data/part%1.bin").arg(i));
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            return 1;
    }

    Bench_Window window;
    window.init_window();
    window.show();

    window.folder = given ? folder : QDir::current().absoluteFilePath(QStringLiteral("in/data"));
    window.slot_select_dir();
    print("encrypt", run(window), megabytes, window.last_report);

    const QStringList made = QDir(QStringLiteral("AddData"))
                                 .entryList({QStringLiteral("*.kvxdata")}, QDir::Files);
    if (made.size() != 1)
        return 1;
    window.slot_textChanged(Basic_Text::instance()->txt_type_decryption);
    window.answers = {QDir::current().absoluteFilePath(QStringLiteral("AddData/") + made[0])};
    window.slot_select_file();
    print("decrypt", run(window), megabytes, window.last_report);
    return 0;
}
