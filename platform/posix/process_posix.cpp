// SPDX-License-Identifier: LGPL-2.1-or-later
#include <fcntl.h>
#include <sched.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

#include "platform/posix/descriptor_io.h"
#include "platform/process.h"
#include "platform/shell_folders.h"

extern char** environ;

namespace lyralink::platform {

std::unique_ptr<ChildProcess> ChildProcess::spawn(const std::vector<std::string>& argv,
                                                  const std::map<std::string, std::string>& environment,
                                                  SystemError* error) {
  if (argv.empty()) return nullptr;
  int to_child[2], from_child[2];
  if (pipe2(to_child, O_CLOEXEC) != 0) {
    report(error, last_system_error("pipe"));
    return nullptr;
  }
  if (pipe2(from_child, O_CLOEXEC) != 0) {
    report(error, last_system_error("pipe"));
    ::close(to_child[0]);
    ::close(to_child[1]);
    return nullptr;
  }
  // Environment: ours, with the given entries replaced or added.
  std::map<std::string, std::string> merged;
  for (char** e = environ; *e != nullptr; ++e) {
    const char* eq = std::strchr(*e, '=');
    if (eq != nullptr) merged[std::string(static_cast<const char*>(*e), eq)] = eq + 1;
  }
  for (const auto& [k, v] : environment) merged[k] = v;
  std::vector<std::string> env_text;
  for (const auto& [k, v] : merged) env_text.push_back(k + "=" + v);
  std::vector<char*> envp, args;
  for (auto& s : env_text) envp.push_back(s.data());
  envp.push_back(nullptr);
  std::vector<std::string> argv_copy = argv;
  for (auto& s : argv_copy) args.push_back(s.data());
  args.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, to_child[0], STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, from_child[1], STDOUT_FILENO);
  pid_t pid = 0;
  int rc = argv[0].find('/') == std::string::npos
               ? posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), envp.data())
               : posix_spawn(&pid, args[0], &actions, nullptr, args.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  ::close(to_child[0]);
  ::close(from_child[1]);
  if (rc != 0) {
    errno = rc;
    report(error, last_system_error("start " + argv[0]));
    ::close(to_child[1]);
    ::close(from_child[0]);
    return nullptr;
  }
  // A child that exits must not kill us with SIGPIPE when we write to it.
  ::signal(SIGPIPE, SIG_IGN);
  return std::unique_ptr<ChildProcess>(new ChildProcess(pid, to_child[1], from_child[0]));
}

ChildProcess::~ChildProcess() {
  if (!exit_status_) {
    ::kill(pid_, SIGTERM);
    if (!wait(deadline_after_ms(3000))) {
      ::kill(pid_, SIGKILL);
      wait(deadline_after_ms(3000));
    }
  }
  if (stdin_fd_ >= 0) ::close(stdin_fd_);
  ::close(stdout_fd_);
}

std::optional<std::string> ChildProcess::read_line(TimePoint deadline) {
  for (;;) {
    size_t nl = buffered_.find('\n');
    if (nl != std::string::npos) {
      std::string line = buffered_.substr(0, nl);
      buffered_.erase(0, nl + 1);
      return line;
    }
    pollfd p{stdout_fd_, POLLIN, 0};
    int left = milliseconds_until(deadline);
    if (left == 0) return std::nullopt;
    int rc = poll(&p, 1, left);
    if (rc < 0 && errno == EINTR) continue;
    if (rc <= 0) return std::nullopt;
    char buf[4096];
    ssize_t got = ::read(stdout_fd_, buf, sizeof buf);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      if (buffered_.empty()) return std::nullopt;
      std::string rest = std::move(buffered_);
      buffered_.clear();
      return rest;
    }
    buffered_.append(buf, static_cast<size_t>(got));
  }
}

std::string ChildProcess::read_all(TimePoint deadline) {
  std::string all;
  while (auto line = read_line(deadline)) all += *line + "\n";
  return all;
}

bool ChildProcess::write(const std::string& text) {
  return stdin_fd_ >= 0 && posix::write_all(stdin_fd_, text.data(), text.size());
}

void ChildProcess::close_stdin() {
  if (stdin_fd_ >= 0) ::close(stdin_fd_);
  stdin_fd_ = -1;
}

void ChildProcess::signal(int signal_number) {
  if (!exit_status_) ::kill(pid_, signal_number);
}

std::optional<int> ChildProcess::wait(TimePoint deadline) {
  if (exit_status_) return exit_status_;
  for (;;) {
    int status = 0;
    pid_t r = waitpid(pid_, &status, WNOHANG);
    if (r == pid_) {
      exit_status_ = posix::exit_status_of(status);
      return exit_status_;
    }
    if (r < 0 && errno != EINTR) return std::nullopt;
    if (Clock::now() >= deadline) return std::nullopt;
    sleep_ms(5);  // a child's exit has no descriptor to wait on here
  }
}

bool pin_to_cpu(int cpu) {
  cpu_set_t set;
  CPU_ZERO(&set);
  CPU_SET(cpu, &set);
  return sched_setaffinity(0, sizeof set, &set) == 0;
}

std::optional<uint64_t> process_cpu_time_us(pid_t pid) {
  // Fields 14 and 15 of /proc/<pid>/stat: user and system time in ticks.
  FILE* f = std::fopen(("/proc/" + std::to_string(pid) + "/stat").c_str(), "r");
  if (f == nullptr) return std::nullopt;
  char buf[1024];
  size_t n = std::fread(buf, 1, sizeof buf - 1, f);
  std::fclose(f);
  buf[n] = '\0';
  const char* p = std::strrchr(buf, ')');  // the command name may hold spaces
  if (p == nullptr) return std::nullopt;
  unsigned long long utime = 0, stime = 0;
  if (std::sscanf(p + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %llu %llu", &utime, &stime) != 2) {
    return std::nullopt;
  }
  long ticks = sysconf(_SC_CLK_TCK);
  return (utime + stime) * 1000000ull / static_cast<unsigned long long>(ticks > 0 ? ticks : 100);
}

std::string executable_directory() {
  const std::string p = own_executable_path();
  size_t slash = p.rfind('/');
  return slash == std::string::npos ? "." : p.substr(0, slash);
}

}  // namespace lyralink::platform
