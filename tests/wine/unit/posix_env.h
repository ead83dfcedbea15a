/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// The POSIX environment calls the unit tests use to set up their cases
// (::setenv, ::unsetenv), for their Windows build, where the C runtime has
// neither. Included before every source of a cross-built test program.
extern "C" {
int setenv(const char* name, const char* value, int overwrite);
int unsetenv(const char* name);
}
