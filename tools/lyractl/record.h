/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// lyractl LINK record SECONDS FILE: the recorder's recording, head-less.
#include <optional>
#include <string>

namespace lyractl {

// SECONDS as given on the command line: a decimal number of any
// precision, not negative ("0.1", "2", ".5"); nullopt for anything else.
std::optional<double> parse_seconds(const std::string& text);

// Records on the open link into FILE (WAVE when it ends in ".wav") exactly
// as pulsecap does, with a progress line on standard error when that is a
// terminal. Returns the exit status: 0, the status of the command that
// failed, 64 when SECONDS is more than the memory holds, 73 when FILE
// cannot be created, 74 when it cannot be written.
int run_record(double seconds, const std::string& file);

}  // namespace lyractl
