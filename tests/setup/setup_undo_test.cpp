// The undo operations, the removal script and the file primitives of the
// setup on real files and a real settings store in temporary directories.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/busy_file.h"
#include "platform/file_system.h"
#include "platform/process.h"
#include "platform/program_start.h"
#include "setup/common/removal_script.h"
#include "setup/common/undo.h"
#include "tests/support/emulator.h"

namespace {

namespace fs = std::filesystem;
using namespace lyralink::setup;
using lyralink::platform::RegistryRoot;
using lyralink::platform::RegistryValue;

class Undo : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = lyratest::make_temp_dir("undo");
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
