// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "job_control.h"

#include <QString>

#include <new>
#include <system_error>

// Runs work; running out of memory (or of threads) inside it fails the run
// with its reason instead of ending the process, and the run's usual
// clean-up follows. False when it did.
template <typename Work>
bool guarded(Job_Control &control, Work &&work) noexcept
{
    try {
        work();
        return true;
    } catch (const std::bad_alloc &) {
        control.fail(out_of_memory_message());
    } catch (const std::system_error &e) {
        control.fail(QStringLiteral("%1: %2").arg(out_of_memory_message(), QString::fromLocal8Bit(e.what())));
    }
    return false;
}
