// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What the encryption and decryption runs share.

#include "package_pipeline.h"

class Job_Control;

namespace pipeline {

// Brings the progress to its total and reports it: the run's last word.
void finish_progress(Job_Control &control);
// The result of a run that stops here: cancelled, or failed with reason
// (empty when result's errors already say it).
Package_Result fail(Package_Result result, const QString &reason, const Job_Control &control);

} // namespace pipeline
