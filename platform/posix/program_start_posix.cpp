// SPDX-License-Identifier: LGPL-2.1-or-later
// Starting setup programs and the removal script with posix_spawn; waiting
// for a child through its pidfd (poll), so no core is spun while it runs.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

#include "platform/posix/descriptor_io.h"
#include "platform/program_start.h"

extern char** environ;

namespace lyralink::platform {

namespace {

// Waits for `pid`, calling idle() every interval while it runs.
int wait_for_child(pid_t pid, const std::function<void()>& idle, int interval_ms) {
  int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
  for (;;) {
    int raw = 0;
    pid_t r = ::waitpid(pid, &raw, idle ? WNOHANG : 0);
    if (r == pid) {
      if (pidfd >= 0) ::close(pidfd);
      return posix::exit_status_of(raw);
    }
    if (r < 0 && errno != EINTR) {
      if (pidfd >= 0) ::close(pidfd);
      return -1;
    }
    if (r == 0) {
      idle();
      if (pidfd >= 0) {
        pollfd p{pidfd, POLLIN, 0};
        ::poll(&p, 1, interval_ms);
      } else {
        ::usleep(static_cast<useconds_t>(interval_ms) * 1000);  // kernels before 5.3 have no pidfd
      }
    }
  }
}

}  // namespace

std::optional<int> run_program(const std::string& program, const std::vector<std::string>& arguments,
                               const std::string& working_directory, const std::function<void()>& idle,
                               int idle_interval_ms, SystemError* error) {
  std::vector<std::string> argv_text{program};
  argv_text.insert(argv_text.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (auto& a : argv_text) argv.push_back(a.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addchdir_np(&actions, working_directory.c_str());
  pid_t pid = 0;
  int rc = ::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    errno = rc;
    report(error, last_system_error("start " + program));
    return std::nullopt;
  }
  int status = wait_for_child(pid, idle, idle_interval_ms);
  if (status < 0) return std::nullopt;
  return status;
}

struct StartedScript::Impl {
  pid_t pid;
  int hold_fd;  // kept open until this process ends; -1 without a hold
};

StartedScript::StartedScript(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

std::unique_ptr<StartedScript> StartedScript::start(const std::string& script_path, bool hold_until_exit,
                                                    SystemError* error) {
  int hold[2] = {-1, -1};
  if (hold_until_exit && ::pipe2(hold, O_CLOEXEC) != 0) {
    report(error, last_system_error("pipe"));
    return nullptr;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (hold_until_exit) {
    posix_spawn_file_actions_adddup2(&actions, hold[0], STDIN_FILENO);
  } else {
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  }
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addchdir_np(&actions, "/");
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
  std::string sh = "/bin/sh";
  std::string path = script_path;
  char* argv[] = {sh.data(), path.data(), nullptr};
  pid_t pid = 0;
  int rc = ::posix_spawn(&pid, sh.c_str(), &actions, &attributes, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (hold[0] >= 0) ::close(hold[0]);
  if (rc != 0) {
    if (hold[1] >= 0) ::close(hold[1]);
    errno = rc;
    report(error, last_system_error("start sh " + script_path));
    return nullptr;
  }
  return std::unique_ptr<StartedScript>(new StartedScript(std::make_unique<Impl>(Impl{pid, hold[1]})));
}

int StartedScript::wait() {
  if (impl_->hold_fd >= 0) {
    ::close(impl_->hold_fd);
    impl_->hold_fd = -1;
  }
  return wait_for_child(impl_->pid, {}, 0);
}

StartedScript::~StartedScript() {
  // The hold descriptor stays open on purpose: the script waits for this
  // process to end, not for this object. The kernel closes it at exit.
}

void kill_this_process() {
  ::kill(::getpid(), SIGKILL);
  for (;;) ::pause();
}

}  // namespace lyralink::platform
