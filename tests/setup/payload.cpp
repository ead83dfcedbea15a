// SPDX-License-Identifier: LGPL-2.1-or-later
// A small program with a version note (set by the build), for the version
// rule and for busy targets: with --hold it runs until its input ends.
#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "--hold") == 0) {
    while (std::getchar() != EOF) {
    }
  }
  return 0;
}
