// SPDX-License-Identifier: GPL-3.0-or-later
#include "run_report.h"

#include "Basic_Text.h"
#include "start_place.h"

#include <QCoreApplication>
#include <QDir>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QRegularExpression>
#include <QScreen>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>

#include <algorithm>

namespace {

// Enough lines of a list to see what happened; the rest is in the details.
const int lines_per_list = 3;

void add_list(QList<Run_Report::Line> *summary, const QString &heading, const QStringList &items, bool are_paths)
{
    if (items.isEmpty())
        return;
    summary->append({heading, false});
    for (const QString &item : items.mid(0, lines_per_list))
        summary->append({item, are_paths});
    if (items.size() > lines_per_list)
        summary->append({Basic_Text::instance()->txt_more_in_details.arg(items.size() - lines_per_list), false});
}

// Words of the zip format that mean nothing to most people.
const QRegularExpression zip_jargon(QStringLiteral(
    "central directory|local header|zip64|end record|CRC|deflate|compressed data|entry count|"
    "not a zip archive|overlap"), QRegularExpression::CaseInsensitiveOption);

// "<item>: <why>" with the why in plain words first, the zip terms after it.
QString plain_failure(const QString &line)
{
    const QRegularExpressionMatch jargon = zip_jargon.match(line);
    if (!jargon.hasMatch())
        return line;
    const qsizetype cut = line.lastIndexOf(QLatin1String(": "), jargon.capturedStart());
    const QString item = cut < 0 ? QString() : line.left(cut);
    QString why = cut < 0 ? line : line.mid(cut + 2);
    // The engine's own words for it give way to the plain (translated) ones, said once.
    static const QString engine_words = QStringLiteral("not a container, or damaged (");
    if (why.startsWith(engine_words) && why.endsWith(QLatin1Char(')')))
        why = why.mid(engine_words.size(), why.size() - engine_words.size() - 1);
    const QString plain = QCoreApplication::translate("Run_Report", "not a container, or damaged");
    return (item.isEmpty() ? plain : item + QLatin1String(": ") + plain) + QLatin1String(" (") + why + QLatin1Char(')');
}

QStringList places_of(const Package_Result &result)
{
    QStringList places;
    if (!result.container_path.isEmpty())
        places.append(QFileInfo(result.container_path).absoluteFilePath());
    places.append(result.output_folders);
    places.removeDuplicates();
    return places;
}

QString details_of(const Package_Result &result, const QStringList &places)
{
    const Basic_Text *text = Basic_Text::instance();
    QStringList lines = result.errors;
    if (!places.isEmpty())
        lines << text->txt_saved_to << places;
    if (!result.kept_beside.isEmpty())
        lines << text->txt_kept_beside << result.kept_beside;
    lines << result.warnings;
    return lines.join(QLatin1Char('\n'));
}

} // namespace

Run_Report make_run_report(const Package_Result &result, const QString &blocked_working_folder)
{
    const Basic_Text *text = Basic_Text::instance();
    Run_Report report;
    report.is_ok = result.is_ok;
    report.text = (result.is_encryption ? text->txt_encryption : text->txt_decryption)
                  + (result.is_ok ? text->txt_successful : text->txt_failure);

    // What was done.
    QList<Run_Report::Line> &summary = report.summary;
    if (!result.is_encryption && result.containers_total > 0)
        summary.append({text->txt_containers_unpacked.arg(result.containers_unpacked).arg(result.containers_total)});
    if (result.files_written > 0)
        summary.append({text->txt_files_written.arg(result.files_written)});
    if (result.files_already_there > 0)
        summary.append({text->txt_files_already_there.arg(result.files_already_there)});
    if (result.entries_recovered > 0)
        summary.append({QCoreApplication::translate("Run_Report", "Entries recovered from damaged containers: %1")
                            .arg(result.entries_recovered)});

    // Where it went, what went beside it, what failed and what was left out.
    const QStringList places = places_of(result);
    add_list(&summary, text->txt_saved_to, places, true);
    add_list(&summary, text->txt_kept_beside, result.kept_beside, true);
    // "<item>: <why>" lines name a path too.
    QStringList failures;
    for (const QString &line : result.errors)
        failures.append(plain_failure(line));
    add_list(&summary, text->txt_what_failed, failures, true);
    if (!blocked_working_folder.isEmpty())
        summary.append({text->txt_working_folder_advice.arg(blocked_working_folder)});
    if (!result.warnings.isEmpty())
        summary.append({text->txt_left_out.arg(result.warnings.size())});
    // Nobody should take a container without a password for protection.
    if (result.is_encryption && result.is_ok && !result.is_protected)
        summary.append({QCoreApplication::translate(
            "Run_Report", "The cipher has no key: anyone with Corvanta can open this container.")});

    // Details only when they hold more than the summary shows.
    const QString details = details_of(result, places);
    for (const QString &line : details.split(QLatin1Char('\n'))) {
        if (std::none_of(summary.cbegin(), summary.cend(),
                         [&](const Run_Report::Line &shown) { return shown.text == line; })) {
            report.details = details;
            break;
        }
    }
    report.recoverable = result.damaged_containers;
    // The container's folder, or the first folder unpacked into.
    if (!result.container_path.isEmpty())
        report.folder = QFileInfo(places.first()).absolutePath();
    else if (!result.output_folders.isEmpty())
        report.folder = result.output_folders.first();
    return report;
}

QString blocked_working_folder(const Package_Result &result, const QString &base_dir)
{
    if (!result.is_encryption || result.is_ok || can_make_working_folder(base_dir))
        return QString();
    return QDir::toNativeSeparators(QDir(base_dir).filePath(working_folder_name()));
}

QString shortened_path(const QString &path, const QFontMetrics &metrics, int width)
{
    if (width <= 0 || metrics.horizontalAdvance(path) <= width)
        return path;
    // The name is what the user looks for: keep it, shorten its folder.
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    const QString name = path.mid(slash + 1);
    const QString folder = path.left(slash + 1);
    const int room = width - metrics.horizontalAdvance(name);
    if (slash < 0 || room <= metrics.horizontalAdvance(QStringLiteral("\u2026/")))
        return metrics.elidedText(path, Qt::ElideMiddle, width);
    return metrics.elidedText(folder, Qt::ElideMiddle, room) + name;
}

QString summary_html(const QList<Run_Report::Line> &summary, const QFontMetrics *metrics, int path_width)
{
    // A count stays on its label's line: "…as they were: 5" breaks before the label, not the number.
    static const QRegularExpression count(QStringLiteral(" (\\d+)"));
    QString html;
    for (const Run_Report::Line &line : summary) {
        if (line.is_path) {
            const QString shown = metrics ? shortened_path(line.text, *metrics, path_width) : line.text;
            html += QStringLiteral("<div style=\"white-space:pre; margin-left:12px\">%1</div>").arg(shown.toHtmlEscaped());
        } else {
            html += QStringLiteral("<div>%1</div>")
                        .arg(line.text.toHtmlEscaped().replace(count, QStringLiteral("&nbsp;\\1")));
        }
    }
    return html;
}

QString recover_button_text()
{
    return QCoreApplication::translate("Run_Report", "Recover what is intact");
}

Run_Report::Answer show_run_report_box(const QString &title, const Run_Report &report)
{
    QMessageBox box;
    box.setWindowTitle(title);
    box.setText(report.text);
    box.setIcon(report.is_ok ? QMessageBox::Information : QMessageBox::Warning);
    QString details = report.details;
    if (!report.summary.isEmpty()) {
        // Paths are kept on one line, shortened in the middle to what the
        // screen can show; the whole paths are in the details.
        box.setTextFormat(Qt::PlainText);
        const QScreen *screen = QGuiApplication::primaryScreen();
        const int path_width = screen ? screen->availableGeometry().width() * 2 / 3 : 0;
        const QFontMetrics metrics(box.font());
        const QString html = summary_html(report.summary, &metrics, path_width);
        box.setInformativeText(html);
        if (html != summary_html(report.summary) && details.isEmpty()) {
            QStringList whole;
            for (const Run_Report::Line &line : report.summary)
                whole.append(line.text);
            details = whole.join(QLatin1Char('\n'));
        }
    }
    if (!details.isEmpty())
        box.setDetailedText(details);
    QPushButton *open = nullptr;
    if (!report.folder.isEmpty())
        open = box.addButton(Basic_Text::instance()->txt_open_folder, QMessageBox::ActionRole);
    // Offered, never done unasked: what salvage writes is not the whole container.
    QPushButton *recover = nullptr;
    if (!report.recoverable.isEmpty())
        recover = box.addButton(recover_button_text(), QMessageBox::ActionRole);
    QPushButton *ok = box.addButton(QMessageBox::Ok);
    box.setDefaultButton(ok);
    // With other buttons beside it, Qt would leave Esc without one.
    box.setEscapeButton(ok);
    box.exec();
    if (open && box.clickedButton() == open)
        return Run_Report::Answer::Open_Folder;
    if (recover && box.clickedButton() == recover)
        return Run_Report::Answer::Recover;
    return Run_Report::Answer::Dismissed;
}
