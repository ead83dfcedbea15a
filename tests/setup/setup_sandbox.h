/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// A private machine for running install and remover: its own setup
// directory, program-files directory, home, menu folder, temporary
// directory and settings store, all under one temporary directory. The
// store is read and seeded through lyrareg.
//
// With as_normal_user, programs run as "nobody" when the tests run as root
// (so that the folders of a normal user apply), and as the test's own user
// otherwise. "nobody" may be unable to reach the build tree (a checkout in
// a private directory such as /root), so everything it runs is a copy in
// the sandbox, whose directories are made reachable (mode 0755) here.
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace setuptest {

struct RunResult {
  int status = -1;
  std::string out;  // standard output
  std::string err;  // standard error
};

class Sandbox {
 public:
  explicit Sandbox(const std::string& tag, bool as_normal_user = false);

  const std::string& root() const { return root_; }
  std::string media() const { return root_ + "/media"; }      // the setup directory
  std::string programs() const { return root_ + "/opt"; }     // ProgramFilesDir (when set)
  std::string home() const { return root_ + "/home"; }
  std::string menu() const { return home() + "/.local/share/applications"; }
  std::string tmp() const { return root_ + "/tmp"; }

  // Puts install and remover of the build into the setup directory, and
  // (unless skipped) sets ProgramFilesDir to programs().
  void prepare_media(bool set_program_files = true);
  void write_script(const std::string& text) const;
  void put_file(const std::string& name, const std::string& content, unsigned mode = 0644) const;
  void put_copy(const std::string& name, const std::string& source) const;
  // Copies every file of `source` (a setup directory of the build) into the
  // setup directory, keeping the modes.
  void put_directory_copy(const std::string& source) const;

  // Runs a program with the sandbox's environment (plus `extra`).
  RunResult run(const std::vector<std::string>& argv, const std::map<std::string, std::string>& extra = {}) const;
  RunResult install(const std::vector<std::string>& args = {"--unattended"},
                    const std::map<std::string, std::string>& extra = {}) const;
  RunResult remove(const std::string& log_path, const std::string& remover = "") const;

  // lyrareg through the sandbox's store.
  RunResult reg(const std::vector<std::string>& args) const;
  std::optional<std::string> reg_get(const std::string& key, const std::string& name) const;
  void reg_set_sz(const std::string& key, const std::string& name, const std::string& text) const;
  void reg_set_dword(const std::string& key, const std::string& name, uint32_t value) const;
  // Every key and value of both roots, one line each, sorted.
  std::vector<std::string> store_dump() const;

  // Every entry below the sandbox except the setup directory and the store:
  // path, kind, permission bits and (for files) content.
  std::map<std::string, std::string> tree() const;

  std::map<std::string, std::string> environment() const;
  bool as_normal_user() const { return normal_user_; }

 private:
  std::string root_;
  bool normal_user_;
  bool switch_user_;
  std::string lyrareg_;  // the build's lyrareg, or its copy in the sandbox
};

std::string read_text(const std::string& path);
bool exists(const std::string& path);
// The bytes install writes for a log with these lines after the header.
std::string log_bytes(const std::string& title, const std::vector<std::string>& action_lines);

// Paths of the build's programs.
std::string install_program();
std::string remover_program();
std::string lyrareg_program();

}  // namespace setuptest
