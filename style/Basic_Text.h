// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "Basic_Style.h"

#include <QString>

// Decodes a text stored as GBK bytes. Without a GBK decoder the bytes are
// read as Latin-1, so the program still runs and only non-ASCII texts suffer.
QString gbk_text(const char* bytes);

class QLocale;

// True when the locale's first user-interface language is Chinese.
bool wants_chinese(const QLocale& locale);
// Picks the language of the text set (before it is first built) and, for
// Chinese, installs the translations of the texts added since the table.
void use_language_of(const QLocale& locale);

// Every text the program shows, in the language `ui_language` picked when the
// set was first built. Carries its own style part.
class Basic_Text : public Basic_Style
{
public:
    Basic_Text();

    // Process-wide text set, created on first use (needs a QApplication).
    static Basic_Text* instance();

    QString txt_title;
    QString txt_choose_type;
    QString txt_type_encryption;
    QString txt_type_decryption;
    QString txt_hint_encryption;
    QString txt_hint_decryption;
    QString txt_encryption;
    QString txt_decryption;
    QString txt_successful;
    QString txt_failure;
    QString txt_in_progress;
    QString txt_choose_encrypted_file;
    QString txt_choose_decryption_file;
    QString txt_select_encrypted_folder;
    QString txt_file_name;
    QString txt_file_type;
    QString txt_is_file;
    QString txt_is_dir;
    QString txt_add_file;
    QString txt_add_dir;
    QString txt_delete;
    QString txt_clear;
    QString txt_open_dir;
    QString txt_button_encryption;
    QString txt_button_decryption;
    // Texts beyond the original set: cancelling, progress, where results went,
    // and paths given on the command line that could not be listed.
    QString txt_cancel;
    QString txt_cancelled;
    QString txt_time_left;       // "%1" is the time left
    QString txt_saved_to;
    QString txt_not_listed;
    QString txt_no_such_path;
    QString txt_cannot_read;
    QString txt_not_file_or_folder;
    // The end of a run: a cancelled decryption keeps what it finished, and the
    // report says what was done, where it went and what failed.
    QString txt_cancelled_kept;
    QString txt_open_folder;
    QString txt_containers_unpacked;  // "%1 of %2"
    QString txt_files_written;        // "%1" is a count, as are the next two
    QString txt_files_already_there;
    QString txt_kept_beside;
    QString txt_what_failed;
    QString txt_more_in_details;
    QString txt_left_out;
    QString txt_working_folder_advice;  // "%1" is the folder
    QString txt_working_in_home;        // "%1" is the folder containers go to
    QString txt_not_container;
};
