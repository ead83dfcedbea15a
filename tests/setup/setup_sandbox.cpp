// SPDX-License-Identifier: LGPL-2.1-or-later
#include "tests/setup/setup_sandbox.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/process.h"
#include "setup/common/uninstall_log.h"
#include "tests/support/emulator.h"

namespace fs = std::filesystem;

namespace setuptest {

namespace {

constexpr uid_t kNobody = 65534;

void chown_tree(const std::string& root) {
  std::error_code ec;
  if (::lchown(root.c_str(), kNobody, kNobody) != 0) ADD_FAILURE() << "chown " << root;
  for (auto it = fs::recursive_directory_iterator(root, ec); it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (::lchown(it->path().c_str(), kNobody, kNobody) != 0) ADD_FAILURE() << "chown " << it->path();
  }
}

}  // namespace

std::string install_program() { return LYRATEST_INSTALL; }
std::string remover_program() { return LYRATEST_REMOVER; }
std::string lyrareg_program() { return LYRATEST_LYRAREG; }

std::string read_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

bool exists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

std::string log_bytes(const std::string& title, const std::vector<std::string>& action_lines) {
  std::string text = lyralink::setup::log_header() + lyralink::setup::title_line(title);
  for (const auto& line : action_lines) text += "ACTION: " + line + "\n\n";
  return lyralink::setup::to_disk_text(text);
}

Sandbox::Sandbox(const std::string& tag, bool as_normal_user)
    : root_(fs::canonical(lyratest::make_temp_dir(tag)).string()),
      normal_user_(as_normal_user),
      switch_user_(as_normal_user && ::geteuid() == 0),
      lyrareg_(lyrareg_program()) {
  for (const char* dir : {"/media", "/opt", "/home", "/tmp", "/reg", "/.capture"}) fs::create_directories(root_ + dir);
  if (switch_user_) {
    // The temporary directories above the sandbox are ours: reachable
    // whatever the umask. Above them is the system's temporary directory.
    for (const std::string& dir : {fs::path(root_).parent_path().string(), root_}) {
      if (::chmod(dir.c_str(), 0755) != 0) ADD_FAILURE() << "chmod " << dir;
    }
    // lyrareg links the project's code statically; its copy needs no file
    // of the build tree.
    fs::create_directories(root_ + "/.programs");
    lyrareg_ = root_ + "/.programs/lyrareg";
    fs::copy_file(lyrareg_program(), lyrareg_);
  }
}

std::map<std::string, std::string> Sandbox::environment() const {
  return {{"LYRALINK_REGISTRY_DIR", root_ + "/reg"},
          {"HOME", home()},
          {"XDG_DATA_HOME", home() + "/.local/share"},
          {"XDG_CONFIG_HOME", home() + "/.config"},
          {"TMPDIR", tmp()},
          {"PATH", "/usr/local/bin:/usr/bin:/bin"}};
}

void Sandbox::prepare_media(bool set_program_files) {
  for (const auto& [name, source] : {std::pair<std::string, std::string>{"install", install_program()},
                                     {"remover", remover_program()}}) {
    std::string target = media() + "/" + name;
    std::error_code ec;
    // A hard link is quick; a program that must change owner gets a copy,
    // so that the build's own file keeps its owner.
    if (switch_user_ || (fs::create_hard_link(source, target, ec), ec)) fs::copy_file(source, target);
  }
  if (set_program_files) reg_set_sz("HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion", "ProgramFilesDir", programs());
}

void Sandbox::write_script(const std::string& text) const { put_file("install.lst", text); }

void Sandbox::put_file(const std::string& name, const std::string& content, unsigned mode) const {
  std::string path = media() + "/" + name;
  { std::ofstream(path, std::ios::binary) << content; }
  ::chmod(path.c_str(), static_cast<mode_t>(mode));
}

void Sandbox::put_copy(const std::string& name, const std::string& source) const {
  fs::copy_file(source, media() + "/" + name, fs::copy_options::overwrite_existing);
}

void Sandbox::put_directory_copy(const std::string& source) const {
  fs::copy(source, media(), fs::copy_options::recursive | fs::copy_options::overwrite_existing);
}

RunResult Sandbox::run(const std::vector<std::string>& argv, const std::map<std::string, std::string>& extra) const {
  static int counter = 0;
  std::string err_file = root_ + "/.capture/err-" + std::to_string(++counter);
  std::vector<std::string> full;
  if (switch_user_) {
    chown_tree(root_);
    full = {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
  }
  full.insert(full.end(), {"/bin/sh", "-c", "exec \"$@\" 2>\"$0\"", err_file});
  full.insert(full.end(), argv.begin(), argv.end());
  auto env = environment();
  for (const auto& [k, v] : extra) env[k] = v;
  RunResult result;
  lyralink::platform::SystemError error;
  auto child = lyralink::platform::ChildProcess::spawn(full, env, &error);
  if (!child) {
    ADD_FAILURE() << "cannot start " << argv[0] << ": " << error.message();
    return result;
  }
  child->close_stdin();
  auto deadline = lyralink::platform::deadline_after_ms(60000);
  result.out = child->read_all(deadline);
  result.status = child->wait(deadline).value_or(-1);
  result.err = read_text(err_file);
  ::unlink(err_file.c_str());
  return result;
}

RunResult Sandbox::install(const std::vector<std::string>& args, const std::map<std::string, std::string>& extra) const {
  std::vector<std::string> argv{media() + "/install"};
  argv.insert(argv.end(), args.begin(), args.end());
  return run(argv, extra);
}

RunResult Sandbox::remove(const std::string& log_path, const std::string& remover) const {
  std::string program = remover;
  if (program.empty()) program = log_path.substr(0, log_path.rfind('/')) + "/remover";
  return run({program, "--unattended", log_path});
}

RunResult Sandbox::reg(const std::vector<std::string>& args) const {
  std::vector<std::string> argv{lyrareg_};
  argv.insert(argv.end(), args.begin(), args.end());
  return run(argv);
}

std::optional<std::string> Sandbox::reg_get(const std::string& key, const std::string& name) const {
  auto r = reg({"get", key, name});
  if (r.status != 0) return std::nullopt;
  if (!r.out.empty() && r.out.back() == '\n') r.out.pop_back();
  return r.out;
}

void Sandbox::reg_set_sz(const std::string& key, const std::string& name, const std::string& text) const {
  auto r = reg({"set", key, name, "--sz", text});
  ASSERT_EQ(r.status, 0) << r.err;
}

void Sandbox::reg_set_dword(const std::string& key, const std::string& name, uint32_t value) const {
  auto r = reg({"set", key, name, "--dword", std::to_string(value)});
  ASSERT_EQ(r.status, 0) << r.err;
}

std::vector<std::string> Sandbox::store_dump() const {
  std::vector<std::string> lines;
  std::vector<std::string> pending{"HKCU", "HKLM"};
  while (!pending.empty()) {
    std::string key = pending.back();
    pending.pop_back();
    auto r = reg({"list", key});
    EXPECT_EQ(r.status, 0) << key << ": " << r.err;
    std::istringstream in(r.out);
    std::string line;
    while (std::getline(in, line)) {
      if (line.find('\t') != std::string::npos) {
        lines.push_back(key + " = " + line);
      } else {
        lines.push_back(line);
        pending.push_back(line);
      }
    }
  }
  std::sort(lines.begin(), lines.end());
  return lines;
}

std::map<std::string, std::string> Sandbox::tree() const {
  std::map<std::string, std::string> entries;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(root_, ec); it != fs::recursive_directory_iterator(); it.increment(ec)) {
    std::string rel = it->path().string().substr(root_.size());
    if (rel == "/media" || rel == "/reg" || rel == "/.capture" || rel == "/.programs") {
      it.disable_recursion_pending();
      continue;
    }
    struct stat st {};
    if (::lstat(it->path().c_str(), &st) != 0) continue;
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", st.st_mode & 07777);
    if (S_ISDIR(st.st_mode)) {
      entries[rel] = std::string("dir ") + mode;
    } else if (S_ISLNK(st.st_mode)) {
      entries[rel] = "link " + fs::read_symlink(it->path(), ec).string();
    } else {
      entries[rel] = std::string("file ") + mode + " " + read_text(it->path());
    }
  }
  return entries;
}

}  // namespace setuptest
