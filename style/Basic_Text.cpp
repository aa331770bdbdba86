// SPDX-License-Identifier: GPL-3.0-or-later
#include "Basic_Text.h"

#include <QCoreApplication>
#include <QLocale>
#include <QStringDecoder>
#include <QTranslator>

#include <iterator>

QString gbk_text(const char* bytes)
{
    QStringDecoder decoder("GBK");
    if (!decoder.isValid())
        return QString::fromLatin1(bytes);
    return decoder.decode(QByteArrayView(bytes));
}

namespace {

// English and Chinese of one text, both as GBK bytes.
struct Text_Pair
{
    const char* english;
    const char* chinese;
};

const Text_Pair texts[] = {
    {"Encryption/Decryption", "\xBC\xD3\xC3\xDC/\xBD\xE2\xC3\xDC"},
    {"Choose The Type:", "\xD1\xA1\xD4\xF1\xC0\xE0\xD0\xCD\xA3\xBA"},
    {"Encryption", "\xBC\xD3\xC3\xDC\xC0\xE0\xD0\xCD"},
    {"Decryption", "\xBD\xE2\xC3\xDC\xC0\xE0\xD0\xCD"},
    {"Add a part of files and folders, can play our package Yi encryption.",
     "\xCC\xED\xBC\xD3\xD2\xBB\xB2\xBF\xB7\xD6\xCE\xC4\xBC\xFE\xBA\xCD\xCE\xC4\xBC\xFE\xBC\xD0"
     "\xA3\xAC\xBF\xC9\xD2\xD4\xB4\xF2\xB0\xFC\xBC\xD3\xC3\xDC\xA1\xA3"},
    {"Please select a suffix called decryption (*. Kvxdata) file.",
     "\xC7\xEB\xD1\xA1\xD4\xF1\xBA\xF3\xD7\xBA\xC3\xFB\xCE\xAA"
     "(*.kvxdata)"
     "\xCE\xC4\xBC\xFE\xBD\xE2\xC3\xDC\xA1\xA3"},
    {"Encryption", "\xBC\xD3\xC3\xDC"},
    {"Decryption", "\xBD\xE2\xC3\xDC"},
    {"Successful", "\xB3\xC9\xB9\xA6"},
    {"Failure", "\xCA\xA7\xB0\xDC"},
    {"Ing\xA1\xAD\xA1\xAD", "\xD6\xD0\xA1\xAD\xA1\xAD"},
    {"Choose encrypted file", "\xD1\xA1\xD4\xF1\xBC\xD3\xC3\xDC\xCE\xC4\xBC\xFE"},
    {"Choose decryption file", "\xD1\xA1\xD4\xF1\xBD\xE2\xC3\xDC\xCE\xC4\xBC\xFE"},
    {"Select the encrypted folder", "\xD1\xA1\xD4\xF1\xBC\xD3\xC3\xDC\xCE\xC4\xBC\xFE\xBC\xD0"},
    {"FileName", "\xCE\xC4\xBC\xFE\xC3\xFB"},
    {"FileType", "\xCE\xC4\xBC\xFE\xC0\xE0\xD0\xCD"},
    {"IsFile", "\xCE\xC4\xBC\xFE"},
    {"IsDir", "\xCE\xC4\xBC\xFE\xBC\xD0"},
    {"AddFile", "\xCC\xED\xBC\xD3\xCE\xC4\xBC\xFE"},
    {"AddDir", "\xCC\xED\xBC\xD3\xC4\xBF\xC2\xBC"},
    {"Delete", "\xC9\xBE\xB3\xFD\xCB\xF9\xD1\xA1"},
    {"Clear", "\xC7\xE5\xBF\xD5"},
    {"OpenDir", "\xCE\xC4\xBC\xFE\xBC\xD3\xC3\xDC\xBD\xE2\xC3\xDC\xC4\xBF\xC2\xBC"},
    {"Encryption", "\xBC\xD3\xC3\xDC"},
    {"Decryption", "\xBD\xE2\xC3\xDC"},
    {"Cancel", "\xC8\xA1\xCF\xFB"},
    {"Cancelled", "\xD2\xD1\xC8\xA1\xCF\xFB"},
    {"%1 left", "\xCA\xA3\xD3\xE0 %1"},
    {"Saved to:", "\xB1\xA3\xB4\xE6\xB5\xBD\xA3\xBA"},
    {"These paths were not listed:",
     "\xD2\xD4\xCF\xC2\xC2\xB7\xBE\xB6\xCE\xB4\xC1\xD0\xB3\xF6\xA3\xBA"},
    {"does not exist", "\xB2\xBB\xB4\xE6\xD4\xDA"},
    {"cannot be read", "\xCE\xDE\xB7\xA8\xB6\xC1\xC8\xA1"},
    {"is neither a file nor a folder",
     "\xBC\xC8\xB2\xBB\xCA\xC7\xCE\xC4\xBC\xFE\xD2\xB2\xB2\xBB\xCA\xC7\xCE\xC4\xBC\xFE\xBC\xD0"},
    {"Cancelled: finished files kept, a new run completes the rest",
     "\xD2\xD1\xC8\xA1\xCF\xFB\xA3\xBA\xD2\xD1\xBD\xE2\xB3\xF6\xB5\xC4\xCE\xC4\xBC\xFE\xB1\xA3\xC1\xF4\xA3\xAC\xD4\xD9\xB4\xCE\xBD\xE2\xC3\xDC\xBF\xC9\xB2\xB9\xC8\xAB\xC6\xE4\xD3\xE0"},
    {"Open Folder", "\xB4\xF2\xBF\xAA\xCE\xC4\xBC\xFE\xBC\xD0"},
    {"Containers unpacked: %1 of %2", "\xD2\xD1\xBD\xE2\xB0\xFC\xB5\xC4\xC8\xDD\xC6\xF7\xA3\xBA%1 / %2"},
    {"Files written: %1", "\xD0\xB4\xC8\xEB\xB5\xC4\xCE\xC4\xBC\xFE\xA3\xBA%1"},
    {"Files already there, left as they were: %1",
     "\xD2\xD1\xB4\xE6\xD4\xDA\xB6\xF8\xCE\xB4\xB8\xC4\xB6\xAF\xB5\xC4\xCE\xC4\xBC\xFE\xA3\xBA%1"},
    {"Kept under a new name beside a different file:",
     "\xD3\xEB\xD2\xD1\xD3\xD0\xB5\xC4\xB2\xBB\xCD\xAC\xCE\xC4\xBC\xFE\xCD\xAC\xC3\xFB\xA3\xAC"
     "\xD2\xD4\xD0\xC2\xC3\xFB\xB3\xC6\xB1\xA3\xB4\xE6\xA3\xBA"},
    {"What failed:", "\xCA\xA7\xB0\xDC\xB5\xC4\xCF\xEE\xC4\xBF\xA3\xBA"},
    {"\xA1\xAD and %1 more, see the details",
     "\xA1\xAD\xA1\xAD\xC1\xED\xD3\xD0 %1 \xCF\xEE\xA3\xAC\xBC\xFB\xCF\xEA\xCF\xB8\xD0\xC5\xCF\xA2"},
    {"Left out: %1, see the details",
     "\xCE\xB4\xB0\xFC\xBA\xAC\xB5\xC4\xCF\xEE\xC4\xBF\xA3\xBA%1\xA3\xAC\xBC\xFB\xCF\xEA\xCF\xB8\xD0\xC5\xCF\xA2"},
    {"Corvanta cannot write its working folder %1. Start it from a folder you can write to, "
     "or make that folder writable.",
     "\xCE\xDE\xB7\xA8\xD0\xB4\xC8\xEB\xB9\xA4\xD7\xF7\xCE\xC4\xBC\xFE\xBC\xD0 %1\xA1\xA3"
     "\xC7\xEB\xB4\xD3\xBF\xC9\xD0\xB4\xC8\xEB\xB5\xC4\xCE\xC4\xBC\xFE\xBC\xD0\xC6\xF4\xB6\xAF"
     "\xB1\xBE\xB3\xCC\xD0\xF2\xA3\xAC\xBB\xF2\xCA\xB9\xB8\xC3\xCE\xC4\xBC\xFE\xBC\xD0\xBF\xC9\xD0\xB4\xA1\xA3"},
    {"The start folder cannot be written: containers go to %1",
     "\xC6\xF4\xB6\xAF\xCE\xC4\xBC\xFE\xBC\xD0\xB2\xBB\xBF\xC9\xD0\xB4\xC8\xEB\xA3\xBA"
     "\xC8\xDD\xC6\xF7\xBD\xAB\xB1\xA3\xB4\xE6\xB5\xBD %1"},
    {"is not a container (*.kvxdata)", "\xB2\xBB\xCA\xC7\xC8\xDD\xC6\xF7\xCE\xC4\xBC\xFE (*.kvxdata)"},
};

} // namespace

Basic_Text::Basic_Text()
{
    QString* const members[] = {
        &txt_title, &txt_choose_type, &txt_type_encryption, &txt_type_decryption,
        &txt_hint_encryption, &txt_hint_decryption, &txt_encryption, &txt_decryption,
        &txt_successful, &txt_failure, &txt_in_progress, &txt_choose_encrypted_file,
        &txt_choose_decryption_file, &txt_select_encrypted_folder, &txt_file_name,
        &txt_file_type, &txt_is_file, &txt_is_dir, &txt_add_file, &txt_add_dir,
        &txt_delete, &txt_clear, &txt_open_dir, &txt_button_encryption,
        &txt_button_decryption, &txt_cancel, &txt_cancelled, &txt_time_left,
        &txt_saved_to, &txt_not_listed, &txt_no_such_path, &txt_cannot_read,
        &txt_not_file_or_folder, &txt_cancelled_kept, &txt_open_folder,
        &txt_containers_unpacked, &txt_files_written, &txt_files_already_there,
        &txt_kept_beside, &txt_what_failed, &txt_more_in_details, &txt_left_out,
        &txt_working_folder_advice, &txt_working_in_home, &txt_not_container,
    };
    static_assert(std::size(members) == std::size(texts), "one member per text");
    const bool chinese = ui_language == 1;
    for (std::size_t i = 0; i < std::size(texts); ++i)
        *members[i] = gbk_text(chinese ? texts[i].chinese : texts[i].english);
}

bool wants_chinese(const QLocale& locale)
{
    // LANGUAGE's list comes first, then LC_ALL, LC_MESSAGES and LANG.
    const QStringList languages = locale.uiLanguages();
    return !languages.isEmpty() && languages.first().startsWith(QLatin1String("zh"));
}

void use_language_of(const QLocale& locale)
{
    const bool chinese = wants_chinese(locale);
    ui_language = chinese ? 1 : 0;
    if (!chinese)
        return;
    // Lives as long as the application that uses it.
    static QTranslator translator;
    if (translator.isEmpty() && translator.load(QStringLiteral(":/i18n/corvanta_zh_CN.qm")))
        QCoreApplication::installTranslator(&translator);
}

Basic_Text* Basic_Text::instance()
{
    // Separate from the style singleton; lives for the whole process.
    static Basic_Text* text = new Basic_Text;
    return text;
}
