#include "Basic_Text.h"

#include <QStringDecoder>

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

const Text_Pair texts[33] = {
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
};

} // namespace

Basic_Text::Basic_Text()
{
    QString* const members[33] = {
        &txt_title, &txt_choose_type, &txt_type_encryption, &txt_type_decryption,
        &txt_hint_encryption, &txt_hint_decryption, &txt_encryption, &txt_decryption,
        &txt_successful, &txt_failure, &txt_in_progress, &txt_choose_encrypted_file,
        &txt_choose_decryption_file, &txt_select_encrypted_folder, &txt_file_name,
        &txt_file_type, &txt_is_file, &txt_is_dir, &txt_add_file, &txt_add_dir,
        &txt_delete, &txt_clear, &txt_open_dir, &txt_button_encryption,
        &txt_button_decryption, &txt_cancel, &txt_cancelled, &txt_time_left,
        &txt_saved_to, &txt_not_listed, &txt_no_such_path, &txt_cannot_read,
        &txt_not_file_or_folder,
    };
    const bool chinese = ui_language == 1;
    for (int i = 0; i < 33; ++i)
        *members[i] = gbk_text(chinese ? texts[i].chinese : texts[i].english);
}

Basic_Text* Basic_Text::instance()
{
    // Separate from the style singleton; lives for the whole process.
    static Basic_Text* text = new Basic_Text;
    return text;
}
