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

struct ChildProcess::Impl {
  pid_t pid;
  int stdin_fd;
  int stdout_fd;
  std::string buffered;
  std::optional<int> exit_status;
};

ChildProcess::ChildProcess(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

ProcessId ChildProcess::pid() const { return impl_->pid; }

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
  auto impl = std::make_unique<Impl>(Impl{pid, to_child[1], from_child[0], {}, {}});
  return std::unique_ptr<ChildProcess>(new ChildProcess(std::move(impl)));
}

ChildProcess::~ChildProcess() {
  if (!impl_->exit_status) {
    ::kill(impl_->pid, SIGTERM);
    if (!wait(deadline_after_ms(3000))) {
      ::kill(impl_->pid, SIGKILL);
      wait(deadline_after_ms(3000));
    }
  }
  if (impl_->stdin_fd >= 0) ::close(impl_->stdin_fd);
  ::close(impl_->stdout_fd);
}

std::optional<std::string> ChildProcess::read_line(TimePoint deadline) {
  for (;;) {
    size_t nl = impl_->buffered.find('\n');
    if (nl != std::string::npos) {
      std::string line = impl_->buffered.substr(0, nl);
      impl_->buffered.erase(0, nl + 1);
      return line;
    }
    pollfd p{impl_->stdout_fd, POLLIN, 0};
    int left = milliseconds_until(deadline);
    if (left == 0) return std::nullopt;
    int rc = poll(&p, 1, left);
    if (rc < 0 && errno == EINTR) continue;
    if (rc <= 0) return std::nullopt;
    char buf[4096];
    ssize_t got = ::read(impl_->stdout_fd, buf, sizeof buf);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      if (impl_->buffered.empty()) return std::nullopt;
      std::string rest = std::move(impl_->buffered);
      impl_->buffered.clear();
      return rest;
    }
    impl_->buffered.append(buf, static_cast<size_t>(got));
  }
}

std::string ChildProcess::read_all(TimePoint deadline) {
  std::string all;
  while (auto line = read_line(deadline)) all += *line + "\n";
  return all;
}

bool ChildProcess::write(const std::string& text) {
  return impl_->stdin_fd >= 0 && posix::write_all(impl_->stdin_fd, text.data(), text.size());
}

void ChildProcess::close_stdin() {
  if (impl_->stdin_fd >= 0) ::close(impl_->stdin_fd);
  impl_->stdin_fd = -1;
}

void ChildProcess::terminate() {
  if (!impl_->exit_status) ::kill(impl_->pid, SIGTERM);
}

void ChildProcess::kill() {
  if (!impl_->exit_status) ::kill(impl_->pid, SIGKILL);
}

std::optional<int> ChildProcess::wait(TimePoint deadline) {
  if (impl_->exit_status) return impl_->exit_status;
  for (;;) {
    int status = 0;
    pid_t r = waitpid(impl_->pid, &status, WNOHANG);
    if (r == impl_->pid) {
      impl_->exit_status = posix::exit_status_of(status);
      return impl_->exit_status;
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

std::optional<uint64_t> process_cpu_time_us(ProcessId pid) {
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
