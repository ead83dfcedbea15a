// SPDX-License-Identifier: LGPL-2.1-or-later
// The undo operations, the removal script and the file primitives of the
// setup on real files and a real settings store in temporary directories.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/busy_file.h"
#include "platform/file_system.h"
#include "platform/process.h"
#include "platform/program_start.h"
#include "setup/common/removal_script.h"
#include "setup/common/remover.h"
#include "setup/common/undo.h"
#include "tests/support/emulator.h"

namespace {

namespace fs = std::filesystem;
using namespace lyralink::setup;
using lyralink::platform::RegistryRoot;
using lyralink::platform::RegistryValue;

std::string read_text_of(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class Undo : public ::testing::Test {
 protected:
  void SetUp() override {
    // Canonical: the calls that never pass a link are tried on it.
    dir_ = fs::canonical(lyratest::make_temp_dir("undo")).string();
    ::setenv("LYRALINK_REGISTRY_DIR", (dir_ + "/reg").c_str(), 1);
    host_ = std::make_unique<SetupHost>();
    ASSERT_NE(host_->machine(), nullptr);
  }
  std::string file(const std::string& name, const std::string& content = "x") {
    std::string path = dir_ + "/" + name;
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path) << content;
    return path;
  }
  lyralink::platform::SettingsStore& machine() { return *host_->machine(); }
  lyralink::platform::SettingsStore& user() { return *host_->store(RegistryRoot::current_user); }
  std::string dir_;
  std::unique_ptr<SetupHost> host_;
};

TEST_F(Undo, SharedFileCounts) {
  machine().create_key(kSharedDllsKey);
  machine().set_value(kCurrentVersionKey, RegistryValue::string("ProgramFilesDir", "/opt"));
  std::string three = file("three"), two = file("two"), one = file("one"), none = file("none");
  for (auto [path, n] : {std::pair{three, 3u}, {two, 2u}, {one, 1u}}) {
    machine().set_value(kSharedDllsKey, RegistryValue::dword(path, n));
  }
  Undoer u = Undoer::for_remover(*host_);
  for (const auto& p : {three, two, one, none}) u.undo({ActionKind::shared_file, p});
  EXPECT_TRUE(fs::exists(three));
  EXPECT_EQ(machine().get_value(kSharedDllsKey, three)->as_dword(), 2u);
  EXPECT_TRUE(fs::exists(two));
  EXPECT_EQ(machine().get_value(kSharedDllsKey, two)->as_dword(), 1u);
  EXPECT_FALSE(fs::exists(one));
  EXPECT_FALSE(machine().get_value(kSharedDllsKey, one));
  EXPECT_FALSE(fs::exists(none));
  // The last count gone, the emptied key goes; the key above it holds a value and stays.
  u.undo({ActionKind::shared_file, three});
  u.undo({ActionKind::shared_file, three});
  u.undo({ActionKind::shared_file, two});
  EXPECT_FALSE(machine().key_exists(kSharedDllsKey));
  EXPECT_TRUE(machine().key_exists(kCurrentVersionKey));
  // Without any SharedDLLs key the file has no count: it is deleted.
  std::string orphan = file("orphan");
  u.undo({ActionKind::shared_file, orphan});
  EXPECT_FALSE(fs::exists(orphan));
}

TEST_F(Undo, PrivateFilesGoWithTheirPartFilesEvenReadOnly) {
  std::string path = file("sub/data.bin");
  std::string part = file("sub/.data.bin.part");
  ::chmod(path.c_str(), 0444);
  Undoer u = Undoer::for_remover(*host_);
  u.undo({ActionKind::private_file, path});
  EXPECT_FALSE(fs::exists(path));
  EXPECT_FALSE(fs::exists(part));
  u.undo({ActionKind::private_file, path});            // missing: passed over
  u.undo({ActionKind::private_file, dir_ + "/sub"});   // a directory is never deleted as a file
  EXPECT_TRUE(fs::is_directory(dir_ + "/sub"));
  u.undo({ActionKind::shell_link, dir_ + "/sub"});
  EXPECT_TRUE(fs::is_directory(dir_ + "/sub"));
}

TEST_F(Undo, RegistryKeysValuesAndApplication) {
  user().create_key("Software\\A\\B");
  user().set_value("Software\\A\\B", RegistryValue::dword("Count", 10));
  user().set_value("Software\\A\\B", RegistryValue::string("Other", "x"));
  user().create_key("AppKey");
  user().create_key("Software\\Shared\\Mine");
  user().create_key("Software\\Shared\\Theirs");
  Undoer u = Undoer::for_remover(*host_);
  u.undo({ActionKind::reg_value, "HKEY_CURRENT_USER\\Software\\A\\B,Count"});
  EXPECT_FALSE(user().get_value("Software\\A\\B", "Count"));
  EXPECT_TRUE(user().get_value("Software\\A\\B", "Other"));
  u.undo({ActionKind::reg_key, "HKEY_CURRENT_USER\\Software\\A\\B"});
  EXPECT_FALSE(user().key_exists("Software\\A\\B"));  // with its remaining value
  EXPECT_TRUE(user().key_exists("Software\\A"));
  u.undo({ActionKind::reg_key, "HKEY_CURRENT_USER\\AppKey"});
  EXPECT_FALSE(user().key_exists("AppKey"));
  // A key that another application still uses below stays.
  u.undo({ActionKind::reg_key, "HKEY_CURRENT_USER\\Software\\Shared\\Mine"});
  u.undo({ActionKind::reg_key, "HKEY_CURRENT_USER\\Software\\Shared"});
  EXPECT_TRUE(user().key_exists("Software\\Shared\\Theirs"));
  for (const char* junk : {"HKEY_CLASSES_ROOT\\Software", "HKEY_CURRENT_USER\\", "HKEY_CURRENT_USER\\A\\\\B", "nothing"}) {
    u.undo({ActionKind::reg_key, junk});
    u.undo({ActionKind::reg_value, junk});
  }
  EXPECT_TRUE(user().key_exists("Software\\A"));

  // RegApp: the entry, then the Uninstall chain while it is empty.
  machine().create_key(uninstall_key("Mine"));
  machine().set_value(uninstall_key("Mine"), RegistryValue::string("DisplayName", "Mine"));
  machine().create_key(uninstall_key("Theirs"));
  u.undo({ActionKind::reg_app, "Mine"});
  EXPECT_FALSE(machine().key_exists(uninstall_key("Mine")));
  EXPECT_TRUE(machine().key_exists(uninstall_key("Theirs")));
  u.undo({ActionKind::reg_app, "Theirs"});
  EXPECT_FALSE(machine().key_exists("Software"));
}

TEST_F(Undo, ReplacementRemembersKeysAndKeepsValuesUnlessClear) {
  for (int i = 0; i < 12; ++i) {
    user().create_key("Software\\K" + std::to_string(i));
    user().set_value("Software\\K" + std::to_string(i), RegistryValue::string("V", "1"));
  }
  Undoer keep = Undoer::for_replacement(*host_, true, true);
  for (int i = 0; i < 12; ++i) {
    keep.undo({ActionKind::reg_value, "HKEY_CURRENT_USER\\Software\\K" + std::to_string(i) + ",V"});
    keep.undo({ActionKind::reg_key, "HKEY_CURRENT_USER\\Software\\K" + std::to_string(i)});
  }
  ASSERT_EQ(keep.remembered_keys().size(), kRememberedKeyPlaces);  // the 11th and 12th are dropped
  EXPECT_EQ(keep.remembered_keys()[9].path, "Software\\K9");
  EXPECT_TRUE(user().get_value("Software\\K0", "V"));
  Undoer clear = Undoer::for_replacement(*host_, true, false);
  clear.undo({ActionKind::reg_value, "HKEY_CURRENT_USER\\Software\\K0,V"});
  clear.undo({ActionKind::reg_key, "HKEY_CURRENT_USER\\Software\\K0"});
  EXPECT_FALSE(user().key_exists("Software\\K0"));
  EXPECT_TRUE(clear.remembered_keys().empty());
  Undoer neither = Undoer::for_replacement(*host_, false, false);
  neither.undo({ActionKind::reg_value, "HKEY_CURRENT_USER\\Software\\K1,V"});
  EXPECT_TRUE(user().get_value("Software\\K1", "V"));
}

TEST_F(Undo, DirectoriesGoToTheScriptForRemoverAndAtOnceForReplacement) {
  std::string menu = dir_ + "/menu";
  std::string link = file("menu/Tool.desktop");
  fs::create_directories(dir_ + "/app/bin");
  file("app/keep/note");
  // The last actions of a log: the menu folder, then the link in it.
  std::string log = "ACTION: CreateDir: " + dir_ + "/app\nACTION: CreateDir: " + dir_ + "/app/bin\n" +
                    "ACTION: CreateDir: " + dir_ + "/gone\nACTION: CreateDir: " + menu +
                    "\nACTION: PrivateFile: " + link + "\n";
  Undoer remover = Undoer::for_remover(*host_);
  remover.undo_all(parse_log(log));
  EXPECT_FALSE(fs::exists(link));
  EXPECT_EQ(remover.directories(), (std::vector<std::string>{menu, dir_ + "/app/bin", dir_ + "/app"}));
  EXPECT_TRUE(fs::exists(menu));  // removing it is the script's job
  Undoer replacement = Undoer::for_replacement(*host_, false, false);
  replacement.undo_all(parse_log("ACTION: CreateDir: " + dir_ + "/app\nACTION: CreateDir: " + dir_ + "/app/bin\n" +
                                 "ACTION: CreateDir: " + dir_ + "/app/keep\n"));
  EXPECT_FALSE(fs::exists(dir_ + "/app/bin"));
  EXPECT_TRUE(fs::exists(dir_ + "/app/keep/note"));  // not empty: stays, and so does its parent
  EXPECT_TRUE(replacement.directories().empty());
}

TEST_F(Undo, RemovalScriptKeepsAwkwardPathsIntactAndRunsNothingOfThem) {
  std::string pwned = dir_ + "/pwned";
  std::vector<std::string> names = {"a b", "it's", "$(touch " + pwned + ")", "`touch " + pwned + "`",
                                    "line\nbreak", "semi;colon && x", "\"dq\""};
  std::string base = dir_ + "/app";
  fs::create_directories(base);
  RemovalScript script(base + "/remover", false);
  { std::ofstream(base + "/remover") << "program"; }
  for (const auto& n : names) fs::create_directories(base + "/" + n + "/inner");
  fs::create_directories(base + "/full");
  file("app/full/stays");
  for (const auto& n : names) script.add_directory(base + "/" + n + "/inner");
  for (const auto& n : names) script.add_directory(base + "/" + n);
  script.add_directory(base + "/missing");
  script.add_directory(base + "/full");
  script.add_directory(base);
  auto path = lyralink::platform::create_temporary_file(dir_ + "/script-XXXXXX", "");
  ASSERT_TRUE(path);
  ASSERT_TRUE(lyralink::platform::write_file(*path, script.text(*path), 0600));
  auto started = lyralink::platform::StartedScript::start(*path, false);
  ASSERT_TRUE(started);
  EXPECT_EQ(started->wait(), 0);
  for (const auto& n : names) EXPECT_FALSE(fs::exists(base + "/" + n)) << n;
  EXPECT_FALSE(fs::exists(base + "/remover"));
  EXPECT_TRUE(fs::exists(base + "/full/stays"));  // never a recursive delete
  EXPECT_FALSE(fs::exists(pwned));
  EXPECT_FALSE(fs::exists(*path));
}

TEST_F(Undo, RemovalScriptWaitsUntilRemoverHasEnded) {
  std::string app = dir_ + "/held";
  fs::create_directories(app);
  RemovalScript script(std::nullopt, true);
  script.add_directory(app);
  auto path = lyralink::platform::create_temporary_file(dir_ + "/script-XXXXXX", "");
  ASSERT_TRUE(path);
  ASSERT_TRUE(lyralink::platform::write_file(*path, script.text(*path), 0600));
  auto helper = lyralink::platform::ChildProcess::spawn({LYRATEST_HOLD_HELPER, *path});
  ASSERT_TRUE(helper);
  ASSERT_EQ(helper->read_line(lyralink::platform::deadline_after_ms(5000)), "started");
  lyralink::platform::sleep_ms(200);
  EXPECT_TRUE(fs::exists(app));  // the script is still waiting
  helper->close_stdin();
  ASSERT_EQ(helper->wait(lyralink::platform::deadline_after_ms(5000)), 0);
  auto deadline = lyralink::platform::deadline_after_ms(5000);
  while (fs::exists(*path) && lyralink::platform::Clock::now() < deadline) lyralink::platform::sleep_ms(10);
  EXPECT_FALSE(fs::exists(app));
  EXPECT_FALSE(fs::exists(*path));
}

TEST_F(Undo, CopyThroughPartFileKeepsModeAndTime) {
  std::string source = file("src/tool", "new content");
  ::chmod(source.c_str(), 0750);
  auto when = fs::file_time_type::clock::now() - std::chrono::hours(5);
  fs::last_write_time(source, when);
  std::string target = file("dst/tool", "old");
  EXPECT_EQ(lyralink::platform::copy_file(source, target), lyralink::platform::CopyResult::copied);
  std::ifstream in(target);
  std::string content((std::istreambuf_iterator<char>(in)), {});
  EXPECT_EQ(content, "new content");
  EXPECT_EQ(fs::status(target).permissions(), fs::perms(0750));
  EXPECT_EQ(fs::last_write_time(target), when);
  EXPECT_FALSE(fs::exists(dir_ + "/dst/.tool.part"));
  EXPECT_EQ(lyralink::platform::copy_file(dir_ + "/src/none", target), lyralink::platform::CopyResult::source_missing);
  lyralink::platform::SystemError error;
  EXPECT_EQ(lyralink::platform::copy_file(source, dir_ + "/nodir/tool", &error), lyralink::platform::CopyResult::failed);
  EXPECT_NE(error.error_number, 0);
}

// ---- nothing outside the installation through a symbolic link ----

using lyralink::platform::InPlace;

std::string mode_of(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return "none";
  char text[8];
  std::snprintf(text, sizeof text, "%04o", st.st_mode & 07777);
  return text;
}

TEST_F(Undo, InPlaceCallsNeverPassALink) {
  namespace p = lyralink::platform;
  std::string victim = file("victim/file", "victim");
  fs::create_directories(dir_ + "/victim/dir");
  fs::create_directories(dir_ + "/app");
  fs::create_directory_symlink(dir_ + "/victim", dir_ + "/app/sub");
  // A link on the way: nothing is touched, and the answer says why.
  EXPECT_EQ(p::delete_file_in_place(dir_ + "/app/sub/file"), InPlace::through_link);
  EXPECT_EQ(p::remove_directory_in_place(dir_ + "/app/sub/dir"), InPlace::through_link);
  EXPECT_EQ(p::make_directory_writable_in_place(dir_ + "/app/sub/dir"), InPlace::through_link);
  p::InPlace place = InPlace::done;
  EXPECT_FALSE(p::read_owned_file(dir_ + "/app/sub/file", &place));
  EXPECT_EQ(place, InPlace::through_link);
  EXPECT_TRUE(fs::exists(victim));
  EXPECT_TRUE(fs::is_directory(dir_ + "/victim/dir"));
  // The link as the last level: a file deletion takes the link itself, a
  // directory call leaves it, and a read refuses it.
  EXPECT_EQ(p::remove_directory_in_place(dir_ + "/app/sub"), InPlace::through_link);
  EXPECT_EQ(p::make_directory_writable_in_place(dir_ + "/app/sub"), InPlace::through_link);
  fs::create_symlink(victim, dir_ + "/app/file-link");
  EXPECT_FALSE(p::read_owned_file(dir_ + "/app/file-link", &place));
  EXPECT_EQ(place, InPlace::through_link);
  EXPECT_EQ(p::delete_file_in_place(dir_ + "/app/file-link"), InPlace::done);
  EXPECT_FALSE(fs::is_symlink(dir_ + "/app/file-link"));
  EXPECT_TRUE(fs::exists(victim));
  // Without links they act; what is not there is missing; ".." is refused.
  std::string own = file("app/own", "own");
  auto read = p::read_owned_file(dir_ + "/./app//own", &place);
  ASSERT_TRUE(read);
  EXPECT_EQ(read->content, "own");
  EXPECT_EQ(place, InPlace::done);
  EXPECT_EQ(p::delete_file_in_place(dir_ + "/app/sub/../own"), InPlace::failed);
  EXPECT_EQ(p::delete_file_in_place(dir_ + "/app/own"), InPlace::done);
  EXPECT_EQ(p::delete_file_in_place(dir_ + "/app/own"), InPlace::missing);
  EXPECT_EQ(p::delete_file_in_place(dir_ + "/app/none/own"), InPlace::missing);
  EXPECT_EQ(p::delete_file_in_place(victim + "/below-a-file"), InPlace::missing);
  EXPECT_EQ(p::delete_file_in_place(dir_ + "/victim/dir"), InPlace::failed);  // never a directory
  fs::create_directories(dir_ + "/app/ro");
  ::chmod((dir_ + "/app/ro").c_str(), 0555);
  EXPECT_EQ(p::make_directory_writable_in_place(dir_ + "/app/ro"), InPlace::done);
  EXPECT_EQ(mode_of(dir_ + "/app/ro"), "0755");
  EXPECT_EQ(p::remove_directory_in_place(dir_ + "/app/ro"), InPlace::done);
  EXPECT_EQ(p::remove_directory_in_place(dir_ + "/app"), InPlace::failed);  // not empty
}

TEST_F(Undo, DirectoriesSwappedForLinksKeepWhatTheLinksPointAt) {
  // The installation: app/data with a tool, app/data/sub; then app/data is
  // replaced by a link to a directory outside that looks the same.
  std::string app = dir_ + "/app";
  file("app/data/tool");
  fs::create_directories(app + "/data/sub");
  std::string victim = dir_ + "/victim";
  std::string victim_tool = file("victim/tool", "victim's");
  std::string victim_part = file("victim/.tool.part", "victim's part");
  fs::create_directories(victim + "/sub");
  ::chmod((victim + "/sub").c_str(), 0555);
  fs::rename(app + "/data", dir_ + "/moved");
  fs::create_directory_symlink(victim, app + "/data");
  std::string log = "ACTION: CreateDir: " + app + "\nACTION: CreateDir: " + app + "/data\nACTION: CreateDir: " + app +
                    "/data/sub\nACTION: PrivateFile: " + app + "/data/tool\n";

  Undoer remover = Undoer::for_remover(*host_);
  remover.undo_all(parse_log(log));
  EXPECT_EQ(read_text_of(victim_tool), "victim's");
  EXPECT_TRUE(fs::exists(victim_part));
  EXPECT_EQ(mode_of(victim + "/sub"), "0555");  // not made writable through the link
  EXPECT_EQ(remover.directories(), (std::vector<std::string>{app}));
  EXPECT_EQ(remover.through_links(),
            (std::vector<std::string>{app + "/data/tool", app + "/data/sub", app + "/data"}));

  ::chmod((victim + "/sub").c_str(), 0755);
  Undoer replacement = Undoer::for_replacement(*host_, false, false);
  replacement.undo_all(parse_log(log));
  EXPECT_TRUE(fs::is_directory(victim + "/sub"));  // rmdir would have reached it through the link
  EXPECT_TRUE(fs::exists(victim_tool));
  EXPECT_TRUE(fs::is_symlink(app + "/data"));
  EXPECT_EQ(replacement.through_links().size(), 3u);
  EXPECT_TRUE(fs::exists(dir_ + "/moved/tool"));  // the moved original is not chased either
}

TEST_F(Undo, RemovalScriptActsOnlyInsideTheLoggedTree) {
  // The script is written while the installation is in place; before it
  // runs, the application directory is replaced by a link to a directory
  // outside that holds a "remover" and an empty "bin".
  std::string app = dir_ + "/app";
  fs::create_directories(app + "/bin");
  { std::ofstream(app + "/remover") << "program"; }
  RemovalScript script(app + "/remover", false);
  script.add_directory(app + "/bin");
  script.add_directory(app);
  auto path = lyralink::platform::create_temporary_file(dir_ + "/script-XXXXXX", "");
  ASSERT_TRUE(path);
  ASSERT_TRUE(lyralink::platform::write_file(*path, script.text(*path), 0600));
  std::string victim = dir_ + "/victim";
  fs::create_directories(victim + "/bin");
  { std::ofstream(victim + "/remover") << "victim's"; }
  fs::rename(app, dir_ + "/moved");
  fs::create_directory_symlink(victim, app);

  auto started = lyralink::platform::StartedScript::start(*path, false);
  ASSERT_TRUE(started);
  EXPECT_EQ(started->wait(), 0);
  EXPECT_TRUE(fs::exists(victim + "/remover"));
  EXPECT_TRUE(fs::is_directory(victim + "/bin"));
  EXPECT_TRUE(fs::is_symlink(app));
  EXPECT_TRUE(fs::exists(dir_ + "/moved/remover"));
  EXPECT_FALSE(fs::exists(*path));  // its own file still goes

  // The same script with everything in place takes it all away.
  fs::remove(app);
  fs::rename(dir_ + "/moved", app);
  path = lyralink::platform::create_temporary_file(dir_ + "/script-XXXXXX", "");
  ASSERT_TRUE(path);
  ASSERT_TRUE(lyralink::platform::write_file(*path, script.text(*path), 0600));
  started = lyralink::platform::StartedScript::start(*path, false);
  ASSERT_TRUE(started);
  EXPECT_EQ(started->wait(), 0);
  EXPECT_FALSE(fs::exists(app));
}

// A face that swaps the application directory for a link when remover asks
// its question: the log has been read by then, the removal not begun.
class SwappingUi final : public SetupUi {
 public:
  explicit SwappingUi(std::function<void()> swap) : swap_(std::move(swap)) {}
  void show_background(const std::string&) override {}
  void information(const std::string&, const std::string& text) override { messages << text << "\n"; }
  void error(const std::string&, const std::string& text) override { messages << text << "\n"; }
  bool ask(const std::string&, const std::string&) override {
    swap_();
    return true;
  }
  std::optional<std::string> choose_path(const std::string&, const std::function<PathVerdict(const std::string&)>&) override {
    return std::nullopt;
  }
  void show_progress(const std::string&) override {}
  void set_status(const std::string&) override {}
  void hide_progress() override {}
  void close_progress() override {}
  void pause() override {}
  void idle() override {}
  std::ostringstream messages;

 private:
  std::function<void()> swap_;
};

TEST_F(Undo, RemoverWhoseApplicationDirectoryBecomesALinkLeavesItsTargetAlone) {
  std::string app = dir_ + "/app";
  file("app/remover", "installed remover");
  file("app/bin/tool");
  std::string log = app + "/uninst00.log";
  ASSERT_TRUE(lyralink::platform::create_new_file(
      log, to_disk_text(log_header() + title_line("App") + action_line(ActionKind::create_dir, app) +
                        action_line(ActionKind::create_dir, app + "/bin") +
                        action_line(ActionKind::private_file, app + "/bin/tool")),
      0600));
  // The target looks like the installation: each of its files would go.
  std::string victim = dir_ + "/victim";
  for (const char* name : {"remover", "bin/tool", "uninst00.log"}) file(std::string("victim/") + name, "victim's");

  Remover remover(*host_);
  ASSERT_EQ(remover.start(log), Remover::Start::ready) << remover.refusal();
  SwappingUi ui([&] {
    fs::rename(app, dir_ + "/moved");
    fs::create_directory_symlink(victim, app);
  });
  EXPECT_TRUE(remover.run(ui, "", true));
  for (const char* name : {"remover", "bin/tool", "uninst00.log"}) {
    EXPECT_EQ(read_text_of(victim + "/" + name), "victim's") << name;
  }
  EXPECT_TRUE(fs::is_symlink(app));
  const std::string said = ui.messages.str();
  EXPECT_NE(said.find("Software was removed.\n"), std::string::npos) << said;
  for (const std::string& path : {app + "/bin/tool", app + "/bin", app + "/remover", log}) {
    EXPECT_NE(said.find("\n" + path + "\n"), std::string::npos) << path << " in " << said;
  }

  // The same log started through the link is refused at once.
  Remover again(*host_);
  EXPECT_EQ(again.start(log), Remover::Start::refused);
  EXPECT_NE(again.refusal().find("symbolic link"), std::string::npos) << again.refusal();
}

TEST_F(Undo, BusyFiles) {
  std::string program = dir_ + "/prog";
  fs::copy_file(LYRATEST_HOLD_HELPER, program);
  EXPECT_FALSE(lyralink::platform::file_in_use(program));
  EXPECT_FALSE(lyralink::platform::file_in_use(dir_ + "/missing"));
  std::string script = file("s.sh", "true\n");
  {
    auto running = lyralink::platform::ChildProcess::spawn({program, script});
    ASSERT_TRUE(running);
    ASSERT_EQ(running->read_line(lyralink::platform::deadline_after_ms(5000)), "started");
    EXPECT_TRUE(lyralink::platform::file_in_use(program));
    running->close_stdin();
    running->wait(lyralink::platform::deadline_after_ms(5000));
  }
  EXPECT_FALSE(lyralink::platform::file_in_use(program));
  std::string data = file("data");
  auto reader = lyralink::platform::ChildProcess::spawn({"/bin/sh", "-c", "exec 3<\"$0\"; echo ready; cat", data});
  ASSERT_EQ(reader->read_line(lyralink::platform::deadline_after_ms(5000)), "ready");
  EXPECT_FALSE(lyralink::platform::file_in_use(data));  // reading does not count
  auto writer = lyralink::platform::ChildProcess::spawn({"/bin/sh", "-c", "exec 3>>\"$0\"; echo ready; cat", data});
  ASSERT_EQ(writer->read_line(lyralink::platform::deadline_after_ms(5000)), "ready");
  EXPECT_TRUE(lyralink::platform::file_in_use(data));
}

}  // namespace
