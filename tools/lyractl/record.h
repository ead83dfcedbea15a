/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// lyractl LINK record SECONDS FILE: the recorder's recording, head-less.
#include <string>

namespace lyractl {

// Records SECONDS (a decimal number as typed, checked by the caller with
// pulsecap::is_decimal_seconds; counted exactly, digit by digit, as the
// recorder counts) on the open link into FILE (WAVE when it ends in
// ".wav") exactly as pulsecap does, with a progress line on standard
// error when that is a terminal. Returns the exit status: 0, the status of
// the command that failed, 64 when SECONDS is more than the memory holds,
// 73 when FILE cannot be created, 74 when it cannot be written.
int run_record(const std::string& seconds, const std::string& file);

}  // namespace lyractl
