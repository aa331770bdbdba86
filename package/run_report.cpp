#include "run_report.h"

#include "Basic_Text.h"
#include "start_place.h"

#include <QDir>
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

    // Where it went, what went beside it, what failed and what was left out.
    const QStringList places = places_of(result);
    add_list(&summary, text->txt_saved_to, places, true);
    add_list(&summary, text->txt_kept_beside, result.kept_beside, true);
    // "<item>: <why>" lines name a path too.
    add_list(&summary, text->txt_what_failed, result.errors, true);
    if (!blocked_working_folder.isEmpty())
        summary.append({text->txt_working_folder_advice.arg(blocked_working_folder)});
    if (!result.warnings.isEmpty())
        summary.append({text->txt_left_out.arg(result.warnings.size())});

    // Details only when they hold more than the summary shows.
    const QString details = details_of(result, places);
    for (const QString &line : details.split(QLatin1Char('\n'))) {
        if (std::none_of(summary.cbegin(), summary.cend(),
                         [&](const Run_Report::Line &shown) { return shown.text == line; })) {
            report.details = details;
            break;
        }
    }
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

QString summary_html(const QList<Run_Report::Line> &summary)
{
    QString html;
    for (const Run_Report::Line &line : summary) {
        const QString form = line.is_path ? QStringLiteral("<div style=\"white-space:pre; margin-left:12px\">%1</div>")
                                          : QStringLiteral("<div>%1</div>");
        html += form.arg(line.text.toHtmlEscaped());
    }
    return html;
}

bool show_run_report_box(const QString &title, const Run_Report &report)
{
    QMessageBox box;
    box.setWindowTitle(title);
    box.setText(report.text);
    box.setIcon(report.is_ok ? QMessageBox::Information : QMessageBox::Warning);
    if (!report.summary.isEmpty()) {
        // Paths are kept whole: the box grows to the widest one.
        box.setTextFormat(Qt::PlainText);
        box.setInformativeText(summary_html(report.summary));
    }
    if (!report.details.isEmpty())
        box.setDetailedText(report.details);
    QPushButton *open = nullptr;
    if (!report.folder.isEmpty())
        open = box.addButton(Basic_Text::instance()->txt_open_folder, QMessageBox::ActionRole);
    box.setDefaultButton(box.addButton(QMessageBox::Ok));
    box.exec();
    return open && box.clickedButton() == open;
}
