// SPDX-License-Identifier: LGPL-2.1-or-later
// Starts a removal script that waits for this process, then runs until its
// own input ends: the stand-in for a remover that is still running.
#include <cstdio>

#include "platform/program_start.h"

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  auto script = lyralink::platform::StartedScript::start(argv[1], true);
  if (!script) return 1;
  std::printf("started\n");
  std::fflush(stdout);
  while (std::getchar() != EOF) {
  }
  return 0;
}
