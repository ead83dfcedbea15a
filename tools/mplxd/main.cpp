// SPDX-License-Identifier: LGPL-2.1-or-later
// mplxd: the Multiplex server. See usage_text() in server.cpp.
#include <cstdio>
#include <string>
#include <vector>

#include "platform/event_wait.h"
#include "tools/mplxd/server.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  mplxd::ParsedArguments parsed = mplxd::parse_arguments(args);
  if (parsed.help) {
    std::fputs(mplxd::usage_text(), stdout);
    return 0;
  }
  if (!parsed.options) {
    std::fprintf(stderr, "mplxd: %s\nTry 'mplxd --help'.\n", parsed.error.c_str());
    return 2;
  }
  // Termination signals are taken as events, before any thread starts, so
  // that every thread inherits them blocked and the names are always
  // removed on the way out.
  auto requests = lyralink::platform::TerminationRequests::take_over();
  if (!requests) {
    std::fprintf(stderr, "mplxd: cannot set up signal handling\n");
    return 1;
  }
  mplxd::Log log(stdout);
  std::string error;
  auto server = mplxd::Server::start(*parsed.options, log, &error);
  if (!server) {
    std::fprintf(stderr, "mplxd: %s\n", error.c_str());
    return 1;
  }
  int signal_number = server->run(*requests);
  server.reset();
  log.line("mplxd " + parsed.options->port_name + ": stopped (signal " + std::to_string(signal_number) + ")");
  return 0;
}
