// SPDX-License-Identifier: LGPL-2.1-or-later
// install and remover end to end, unattended: real files, a real settings
// store and real menu entries in a sandbox; the whole tree and the whole
// store compared before the install and after the removal.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/process.h"
#include "tests/setup/setup_sandbox.h"

namespace {

namespace fs = std::filesystem;
using setuptest::exists;
using setuptest::read_text;
using setuptest::Sandbox;

const std::string kPayloadV1 = LYRATEST_PAYLOAD_V1;
const std::string kPayloadV2 = LYRATEST_PAYLOAD_V2;
const std::string kPayloadSpecial = LYRATEST_PAYLOAD_SPECIAL;

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// A script that uses every section: the kinds of files, directories with
// awkward names, registry entries that parse and some that do not, menu
// entries and programs to run.
std::string full_script() {
  return "[Setup]\nTitle=Demo App\nDefaultDir=$ProgramFiles/Demo App\nUninstall=DemoApp\nVersion=2.0\n"
         "Publisher=Lab Tools\n"
         "[Conditions]\nCondition1=$WinPath/host*\nText1=No hosts file.\n"
         "[Directories]\nDirectory1=$AppPath/bin\nDirectory2=$AppPath/it's $HOME `x` dir/\n"
         "[Files]\nFile1=tool,$AppPath/bin,private\nFile2=libdemo.so,$AppPath/bin,shared\n"
         "File3=settings.ini,$AppPath,unreal\n"
         "[Registry]\nEntry1=HKEY_CURRENT_USER\\Software\\Demo\\Settings,REG_DW(Count,10)\n"
         "Entry2=HKEY_CURRENT_USER\\Software\\Demo\\Settings,REG_SZ(Greeting,Hello, world)\n"
         "Entry3=HKEY_LOCAL_MACHINE\\Software\\Demo,REG_UN(Marker)\n"
         "Entry4=HKEY_CLASSES_ROOT\\Demo,REG_SZ(a,b)\n"
         "Entry5=HKEY_CURRENT_USER\\Software\\Demo\\\\Broken,REG_SZ(a,b)\n"
         "Entry6=HKEY_CURRENT_USER\\Software\\Demo,REG_SZ(Open,no close\n"
         "[ShellLinks]\nGroup=Demo App\nLink1=Demo tool,$AppPath/bin/tool,--hold,$AppPath\n"
         "Link2=Uninstall Demo,$Uninstall\n"
         "[Execute]\nExecute1=post.sh,Running post.sh\nExecute2=../escape.sh\n"
         "[ClosingWords]\nText=Installed in $AppPath\\nBye\n";
}

void put_full_media(const Sandbox& box) {
  box.write_script(full_script());
  box.put_copy("tool", kPayloadV1);
  box.put_file("libdemo.so", "shared library stand-in\n");
  box.put_file("post.sh", "#!/bin/sh\npwd > \"$SETUP_TEST_OUT\"\n", 0755);
  { std::ofstream(box.root() + "/escape.sh") << "#!/bin/sh\ntouch \"$SETUP_TEST_OUT.escaped\"\n"; }
  ::chmod((box.root() + "/escape.sh").c_str(), 0755);
}

TEST(SetupEndToEnd, InstallWritesEverythingAndRemoveTakesItAllOff) {
  Sandbox box("full");
  box.prepare_media();
  put_full_media(box);
  box.reg_set_sz("HKCU\\Software", "Unrelated", "stays");  // an existing level is never logged
  const auto tree_before = box.tree();
  const auto store_before = box.store_dump();

  std::string out_file = box.root() + "/.capture/execute.txt";
  auto r = box.install({"--unattended"}, {{"SETUP_TEST_OUT", out_file}});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string app = box.programs() + "/Demo App";
  const std::string menu = box.menu() + "/Demo App";
  const std::string log = app + "/uninst00.log";

  // The log, byte for byte.
  EXPECT_EQ(read_text(log),
            setuptest::log_bytes(
                "Demo App",
                {"CreateDir: " + app, "CreateDir: " + app + "/bin", "CreateDir: " + app + "/it's $HOME `x` dir",
                 "PrivateFile: " + app + "/bin/tool", "SharedFile: " + app + "/bin/libdemo.so",
                 "PrivateFile: " + app + "/settings.ini", "RegApp: DemoApp",
                 "RegKey: HKEY_CURRENT_USER\\Software\\Demo", "RegKey: HKEY_CURRENT_USER\\Software\\Demo\\Settings",
                 "RegValue: HKEY_CURRENT_USER\\Software\\Demo\\Settings,Count",
                 "RegValue: HKEY_CURRENT_USER\\Software\\Demo\\Settings,Greeting",
                 "RegKey: HKEY_LOCAL_MACHINE\\Software\\Demo", "RegValue: HKEY_LOCAL_MACHINE\\Software\\Demo,Marker",
                 "CreateDir: " + box.home() + "/.local", "CreateDir: " + box.home() + "/.local/share",
                 "CreateDir: " + box.menu(), "CreateDir: " + menu, "PrivateFile: " + menu + "/Demo tool.desktop",
                 "PrivateFile: " + menu + "/Uninstall Demo.desktop"}));
  struct stat st {};
  ASSERT_EQ(::stat(log.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);

  // Files: copied with their mode, the unreal one not at all; remover beside them.
  EXPECT_EQ(read_text(app + "/bin/tool"), read_text(kPayloadV1));
  EXPECT_EQ(::stat((app + "/bin/tool").c_str(), &st), 0);
  EXPECT_TRUE(st.st_mode & S_IXUSR);
  EXPECT_EQ(read_text(app + "/bin/libdemo.so"), "shared library stand-in\n");
  EXPECT_FALSE(exists(app + "/settings.ini"));
  EXPECT_EQ(read_text(app + "/remover"), read_text(setuptest::remover_program()));
  EXPECT_TRUE(fs::is_directory(app + "/it's $HOME `x` dir"));

  // The store: registration, shared count, entries; the unparsable entries left no trace.
  const std::string key = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\DemoApp";
  EXPECT_EQ(box.reg_get(key, "DisplayName"), "Demo App");
  EXPECT_EQ(box.reg_get(key, "Publisher"), "Lab Tools");
  EXPECT_EQ(box.reg_get(key, "UninstallString"), app + "/remover \"" + log + "\"");
  EXPECT_EQ(box.reg_get(key, "Version"), "2.0");
  EXPECT_EQ(box.reg_get(key, "DisplayVersion"), "2.0");
  EXPECT_EQ(box.reg_get("HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs", app + "/bin/libdemo.so"), "1");
  EXPECT_EQ(box.reg_get("HKCU\\Software\\Demo\\Settings", "Count"), "10");
  EXPECT_EQ(box.reg_get("HKCU\\Software\\Demo\\Settings", "Greeting"), "Hello, world");
  EXPECT_EQ(box.reg({"list", "HKLM\\Software\\Demo"}).out, "");  // REG_UN: the key, no value
  EXPECT_NE(box.reg({"list", "HKLM\\Software\\Demo"}).status, 1);

  // Menu entries.
  EXPECT_EQ(read_text(menu + "/Uninstall Demo.desktop"),
            "[Desktop Entry]\nType=Application\nName=Uninstall Demo\nComment=Uninstall Demo\nExec=\"" + app +
                "/remover\" \"" + log + "\"\nPath=" + app + "\n");
  EXPECT_EQ(read_text(menu + "/Demo tool.desktop"),
            "[Desktop Entry]\nType=Application\nName=Demo tool\nComment=Demo tool\nExec=\"" + app +
                "/bin/tool\" \"--hold\"\nPath=" + app + "\n");

  // The program of the setup directory ran there; the one outside it did not.
  EXPECT_EQ(read_text(out_file), box.media() + "\n");
  EXPECT_FALSE(exists(out_file + ".escaped"));
  EXPECT_TRUE(contains(r.out, "Running post.sh"));
  EXPECT_TRUE(contains(r.out, "Copying " + app + "/bin/tool"));
  EXPECT_TRUE(contains(r.err, "Demo App Setup was completed successfully.\nInstalled in " + app + "\nBye\n"));

  // Removal through the installed remover: nothing left, the script gone too.
  auto removed = box.remove(log);
  ASSERT_EQ(removed.status, 0) << removed.err;
  EXPECT_EQ(removed.err, "Do you want to remove this application?\nSoftware was removed.\n");
  EXPECT_EQ(box.tree(), tree_before);
  EXPECT_EQ(box.store_dump(), store_before);
}

std::string simple_script(const std::string& extra_files = "", const std::string& version = "1.0",
                          const std::string& title = "Simple") {
  return "[Setup]\nTitle=" + title + "\nDefaultDir=$ProgramFiles/Simple\nUninstall=Simple\nVersion=" + version +
         "\n[Files]\nFile1=tool,$AppPath,private\n" + extra_files;
}

TEST(SetupEndToEnd, StartChecksEndSilentlyOrWithTheConditionText) {
  Sandbox box("start");
  box.prepare_media();
  box.put_copy("tool", kPayloadV1);
  const auto before = box.tree();
  // Each required key missing: exit 1 without a word, nothing done.
  for (const char* missing : {"Title=", "DefaultDir=", "Uninstall=", "Version="}) {
    std::string script = "[Setup]\nTitle=T\nDefaultDir=$ProgramFiles/T\nUninstall=T\nVersion=1\n";
    script.replace(script.find(missing), std::string(missing).size(), std::string("X") + missing);
    box.write_script(script);
    auto r = box.install();
    EXPECT_EQ(r.status, 1) << missing;
    EXPECT_EQ(r.err, "") << missing;
  }
  box.write_script("[Setup]\nTitle=T\nDefaultDir=$AppPath/x\nUninstall=T\nVersion=1\n");
  EXPECT_EQ(box.install().status, 1);
  // A failing first condition: its text, nothing installed.
  box.write_script(simple_script() + "[Conditions]\nCondition1=$WinPath/no-such-file-*\nText1=Needs the\\nfile.\n"
                                     "Condition2=/\nText2=never shown\n");
  auto r = box.install();
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Needs the\nfile.\n");
  EXPECT_EQ(box.tree(), before);
  // Usage errors.
  EXPECT_EQ(box.install({"--bogus"}).status, 2);
  EXPECT_EQ(box.install({"--target", "/x"}).status, 2);
  EXPECT_EQ(box.run({box.media() + "/remover", "--unattended"}).status, 2);
  // Windows without a display, and a program of another name.
  box.write_script(simple_script());
  auto headless = box.run({"env", "-u", "DISPLAY", "-u", "WAYLAND_DISPLAY", "-u", "QT_QPA_PLATFORM", box.media() + "/install"});
  EXPECT_EQ(headless.status, 1);
  EXPECT_TRUE(contains(headless.err, "--unattended"));
  fs::copy_file(box.media() + "/install", box.media() + "/setup");
  auto renamed = box.run({box.media() + "/setup", "--unattended"});
  EXPECT_EQ(renamed.status, 1);
  EXPECT_TRUE(contains(renamed.err, "must be named install"));
  fs::remove(box.media() + "/setup");
  EXPECT_EQ(box.tree(), before);
}

TEST(SetupEndToEnd, TargetOptionAndPathCheck) {
  Sandbox box("target");
  box.prepare_media();
  box.put_copy("tool", kPayloadV1);
  box.write_script(simple_script());
  for (const char* bad : {"relative/dir", "/a//b", "/a/../b", "/a,b"}) {
    auto r = box.install({"--unattended", "--target", bad});
    EXPECT_EQ(r.status, 1) << bad;
    EXPECT_EQ(r.err, "This is no valid path!\n\nPlease correct it.\n") << bad;
  }
  std::string target = box.programs() + "/elsewhere/";
  auto r = box.install({"--unattended", "--target", target});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(exists(box.programs() + "/elsewhere/tool"));
  EXPECT_TRUE(exists(box.programs() + "/elsewhere/uninst00.log"));
  // A ProgramFilesDir that names no directory makes DefaultDir fail: silent end.
  box.reg_set_sz("HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion", "ProgramFilesDir", box.root() + "/gone");
  auto silent = box.install();
  EXPECT_EQ(silent.status, 1);
  EXPECT_EQ(silent.err, "");
}

TEST(SetupEndToEnd, FaultyFileEntriesEndTheRunAfterWhatWasLogged) {
  Sandbox box("files");
  box.prepare_media();
  box.put_copy("tool", kPayloadV1);
  const auto tree_before = box.tree();
  const auto store_before = box.store_dump();
  const std::string app = box.programs() + "/Simple";
  struct Case {
    std::string entry;
    std::string message;
  } cases[] = {
      {"File2=one,comma\n", "needs a file name, a target directory and a kind"},
      {"File2=../secret,$AppPath,private\n", "names a file outside the setup directory"},
      {"File2=missing,$AppPath,private\n", "has no file missing"},
      {"File2=tool,relative/dir,private\n", "not an absolute path"},
      {"File2=tool,$Nope,private\n", "cannot be expanded"},
  };
  for (const auto& c : cases) {
    box.write_script(simple_script(c.entry));
    auto r = box.install();
    EXPECT_EQ(r.status, 1) << c.entry;
    EXPECT_TRUE(contains(r.err, c.message)) << r.err;
    // The log holds what was done before: the application path and File1.
    std::string log = app + "/uninst00.log";
    EXPECT_EQ(read_text(log), setuptest::log_bytes("Simple", {"CreateDir: " + app, "PrivateFile: " + app + "/tool"}));
    EXPECT_FALSE(exists(app + "/remover"));  // the run ended before remover was copied
    auto removed = box.remove(log, box.media() + "/remover");
    EXPECT_EQ(removed.status, 0) << removed.err;
    EXPECT_EQ(box.tree(), tree_before) << c.entry;
    EXPECT_EQ(box.store_dump(), store_before) << c.entry;
    EXPECT_TRUE(exists(box.media() + "/remover"));  // a remover outside the application stays
  }
}

TEST(SetupEndToEnd, VersionRuleOnExistingTargets) {
  Sandbox box("versions");
  box.prepare_media();
  const std::string app = box.programs() + "/Simple";
  fs::create_directories(app);
  auto place = [&](const std::string& name, const std::string& source) {
    // The target is the program with a tail of its own, so that a copy over it shows.
    fs::copy_file(source, app + "/" + name, fs::copy_options::overwrite_existing);
    std::ofstream(app + "/" + name, std::ios::app | std::ios::binary) << "TARGET";
  };
  place("same", kPayloadV1);
  box.put_copy("same", kPayloadV1);
  place("older", kPayloadV1);
  box.put_copy("older", kPayloadV2);
  place("newer", kPayloadV2);
  box.put_copy("newer", kPayloadV1);
  place("special", kPayloadSpecial);
  box.put_copy("special", kPayloadV1);
  // Without version information the last-write times decide.
  box.put_file("text-new", "source");
  box.put_file("text-old", "source");
  { std::ofstream(app + "/text-new") << "target"; }
  { std::ofstream(app + "/text-old") << "target"; }
  auto now = fs::file_time_type::clock::now();
  fs::last_write_time(app + "/text-new", now - std::chrono::hours(2));
  fs::last_write_time(box.media() + "/text-new", now - std::chrono::hours(1));
  fs::last_write_time(box.media() + "/text-old", now - std::chrono::hours(3));
  fs::last_write_time(app + "/text-old", now - std::chrono::hours(1));
  box.put_copy("tool", kPayloadV1);
  box.write_script(simple_script(
      "File2=same,$AppPath,private\nFile3=older,$AppPath,private\nFile4=newer,$AppPath,shared\n"
      "File5=special,$AppPath,private\nFile6=text-new,$AppPath,private\nFile7=text-old,$AppPath,private\n"));
  auto r = box.install();
  ASSERT_EQ(r.status, 0) << r.err;
  auto kept = [&](const std::string& name) {
    std::string t = read_text(app + "/" + name);
    return t.size() >= 6 && t.compare(t.size() - 6, 6, "TARGET") == 0;
  };
  EXPECT_TRUE(kept("same"));
  EXPECT_FALSE(kept("older"));
  EXPECT_EQ(read_text(app + "/older"), read_text(kPayloadV2));
  EXPECT_TRUE(kept("newer"));
  EXPECT_FALSE(kept("special"));
  EXPECT_EQ(read_text(app + "/text-new"), "source");
  EXPECT_EQ(read_text(app + "/text-old"), "target");
  // Logged and counted whether or not it was copied.
  std::string log = read_text(app + "/uninst00.log");
  EXPECT_TRUE(contains(log, "ACTION: PrivateFile: " + app + "/same\r\n"));
  EXPECT_TRUE(contains(log, "ACTION: SharedFile: " + app + "/newer\r\n"));
  EXPECT_EQ(box.reg_get("HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs", app + "/newer"), "1");
  EXPECT_FALSE(contains(r.out, "Copying " + app + "/same"));
  EXPECT_TRUE(contains(r.out, "Copying " + app + "/older"));
}

TEST(SetupEndToEnd, BusyTargetsStopTheCopy) {
  Sandbox box("busy");
  box.prepare_media();
  const std::string app = box.programs() + "/Simple";
  fs::create_directories(app);
  fs::copy_file(kPayloadV1, app + "/tool");
  box.put_copy("tool", kPayloadV2);
  box.write_script(simple_script());
  const std::string in_use = "The process cannot access the file because it is being used by another process.\n";
  {
    // The target is a running program.
    auto holder = lyralink::platform::ChildProcess::spawn({app + "/tool", "--hold"});
    ASSERT_TRUE(holder);
    auto r = box.install();
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, in_use);
    EXPECT_EQ(read_text(app + "/tool"), read_text(kPayloadV1));
    holder->close_stdin();
    holder->wait(lyralink::platform::deadline_after_ms(5000));
  }
  fs::remove(app + "/uninst00.log");
  {
    // Another process has the target open for writing.
    auto writer = lyralink::platform::ChildProcess::spawn({"/bin/sh", "-c", "exec 3>>\"$0\"; echo ready; cat", app + "/tool"});
    ASSERT_TRUE(writer);
    ASSERT_EQ(writer->read_line(lyralink::platform::deadline_after_ms(5000)), "ready");
    auto r = box.install();
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, in_use);
    writer->close_stdin();
    writer->wait(lyralink::platform::deadline_after_ms(5000));
  }
  fs::remove(app + "/uninst00.log");
  auto r = box.install();
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(read_text(app + "/tool"), read_text(kPayloadV2));
}

TEST(SetupEndToEnd, LogNumbersAndRegistryKeyWalk) {
  Sandbox box("numbers");
  box.prepare_media();
  box.put_copy("tool", kPayloadV1);
  const std::string app = box.programs() + "/Simple";
  fs::create_directories(app);
  { std::ofstream(app + "/uninst00.log") << "old"; }
  { std::ofstream(app + "/uninst01.log") << "old"; }
  box.reg_set_sz("HKCU\\Software", "Existing", "x");
  box.write_script(simple_script("[Registry]\nEntry1=HKEY_CURRENT_USER\\Software\\A\\B,REG_DW(Count,10)\n"
                                 "Entry2=HKEY_CLASSES_ROOT\\Software\\A,REG_DW(Count,10)\n"));
  auto r = box.install();
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(box.reg_get("HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Simple", "UninstallString"),
            app + "/remover \"" + app + "/uninst02.log\"");
  EXPECT_EQ(read_text(app + "/uninst02.log"),
            setuptest::log_bytes("Simple", {"PrivateFile: " + app + "/tool", "RegApp: Simple",
                                            "RegKey: HKEY_CURRENT_USER\\Software\\A",
                                            "RegKey: HKEY_CURRENT_USER\\Software\\A\\B",
                                            "RegValue: HKEY_CURRENT_USER\\Software\\A\\B,Count"}));
  EXPECT_EQ(box.reg_get("HKCU\\Software\\A\\B", "Count"), "10");
  // All 99 names taken: the run ends.
  Sandbox full("numbers-full");
  full.prepare_media();
  full.put_copy("tool", kPayloadV1);
  full.write_script(simple_script());
  fs::create_directories(full.programs() + "/Simple");
  for (int n = 0; n < 99; ++n) {
    char name[32];
    std::snprintf(name, sizeof name, "/uninst%02d.log", n);
    std::ofstream(full.programs() + "/Simple" + name) << "x";
  }
  auto taken = full.install();
  EXPECT_EQ(taken.status, 1);
  EXPECT_TRUE(contains(taken.err, "uninst98.log"));
}

TEST(SetupEndToEnd, EarlierInstallationQuestionsCompareVersionsAsBytes) {
  Sandbox box("earlier");
  box.prepare_media();
  box.put_copy("tool", kPayloadV1);
  const std::string key = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Simple";
  struct Case {
    std::string installed_title, installed_version, question;
  } cases[] = {
      {"Simple", "1.9", "A more current version of this application\nwas found on this computer.\n\nReplace?\n"},
      {"Simple", "1.10", "The current version of this application\nwas found on this computer.\n\nReplace?\n"},
      {"Simple", "1.1", "An obsolete version of this application\nwas found on this computer.\n\nReplace?\n"},
      {"Other", "1.10", "\"Simple\" competes with \"Other\"!\n\nReplace?\n"},
  };
  for (const auto& c : cases) {
    box.reg({"delete", key});
    box.reg_set_sz(key, "DisplayName", c.installed_title);
    box.reg_set_sz(key, "Version", c.installed_version);
    box.write_script(simple_script("", "1.10"));
    auto r = box.install();
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err.substr(0, c.question.size()), c.question);
    // The registered entry had no uninstall command: nothing else was removed.
    fs::remove_all(box.programs() + "/Simple");
  }
}

// Installs version 1 (registry entries in Software\Demo\Old and
// Software\Demo\Shared), then version 2 over it, which has only the Shared
// entry, under each combination of the clear and keep flags.
struct ReplaceCase {
  std::string name;
  std::string registry_line;  // "Registry=..." of version 2
  std::string v2_title;       // another title competes, which sets clear
  bool registry_deleted;      // clear and not keep
};

void PrintTo(const ReplaceCase& c, std::ostream* os) { *os << c.name; }

class Replacement : public ::testing::TestWithParam<ReplaceCase> {};

TEST_P(Replacement, EarlierInstallationIsRemovedFirst) {
  const ReplaceCase& c = GetParam();
  Sandbox box("replace");
  box.prepare_media();
  const auto tree_before = box.tree();
  const std::string app = box.programs() + "/Demo";
  auto script = [](const std::string& title, const std::string& version, const std::string& registry,
                   const std::string& entries) {
    return "[Setup]\nTitle=" + title + "\nDefaultDir=$ProgramFiles/Demo\nUninstall=Demo\nVersion=" + version + "\n" +
           registry + "\n[Directories]\nDirectory1=$AppPath/data\n[Files]\nFile1=tool,$AppPath/data,private\n"
           "[Registry]\n" + entries;
  };
  box.put_copy("tool", kPayloadV1);
  box.write_script(script("Demo", "1.0", "", "Entry1=HKEY_CURRENT_USER\\Software\\Demo\\Old,REG_SZ(OldValue,1)\n"
                                              "Entry2=HKEY_CURRENT_USER\\Software\\Demo\\Shared,REG_SZ(V,1)\n"));
  ASSERT_EQ(box.install().status, 0);
  ASSERT_TRUE(exists(app + "/uninst00.log"));

  box.put_copy("tool", kPayloadV2);
  box.write_script(script(c.v2_title, "2.0", c.registry_line, "Entry1=HKEY_CURRENT_USER\\Software\\Demo\\Shared,REG_SZ(V,2)\n"));
  auto r = box.install();
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(read_text(app + "/data/tool"), read_text(kPayloadV2));
  std::string log = read_text(app + "/uninst00.log");  // the old log went, so the number is free again
  EXPECT_TRUE(contains(log, "TITLE: " + c.v2_title + "\r\n"));
  EXPECT_EQ(box.reg_get("HKCU\\Software\\Demo\\Shared", "V"), "2");
  EXPECT_EQ(box.reg_get("HKCU\\Software\\Demo\\Old", "OldValue").has_value(), !c.registry_deleted);
  // Kept keys of the old installation that the new one uses again become its own.
  EXPECT_EQ(contains(log, "ACTION: RegKey: HKEY_CURRENT_USER\\Software\\Demo\\Shared\r\n"), true);
  EXPECT_EQ(contains(log, "ACTION: CreateDir: " + app + "\r\n"), true);  // removed at once, made again

  ASSERT_EQ(box.remove(app + "/uninst00.log").status, 0);
  EXPECT_EQ(box.tree(), tree_before);
  // What stays of the store is the kept settings of version 1, and only them.
  auto dump = box.store_dump();
  bool old_left = false;
  for (const auto& line : dump) old_left = old_left || contains(line, "OldValue");
  EXPECT_EQ(old_left, !c.registry_deleted);
  for (const auto& line : dump) EXPECT_FALSE(contains(line, "Shared")) << line;
}

INSTANTIATE_TEST_SUITE_P(ClearAndKeep, Replacement,
                         ::testing::Values(ReplaceCase{"Neither", "", "Demo", false},
                                           ReplaceCase{"Clear", "Registry=clear", "Demo", true},
                                           ReplaceCase{"Keep", "Registry=keep", "Demo", false},
                                           ReplaceCase{"CompetingTitleClears", "", "Demo Two", true},
                                           ReplaceCase{"CompetingTitleWithKeep", "Registry=keep", "Demo Two", false}),
                         [](const ::testing::TestParamInfo<ReplaceCase>& param) { return param.param.name; });

TEST(SetupEndToEnd, RemoverRefusesLogsItCannotTrust) {
  Sandbox box("refuse");
  box.prepare_media();
  box.put_copy("tool", kPayloadV1);
  box.write_script(simple_script());
  ASSERT_EQ(box.install().status, 0);
  const std::string app = box.programs() + "/Simple";
  const std::string log = app + "/uninst00.log";
  const auto installed = box.tree();
  const auto store = box.store_dump();

  ::chmod(log.c_str(), 0666);
  auto writable = box.remove(log);
  EXPECT_EQ(writable.status, 1);
  EXPECT_TRUE(contains(writable.err, "can be changed by other users")) << writable.err;
  ::chmod(log.c_str(), 0644);

  std::string original = read_text(log);
  { std::ofstream(log, std::ios::app | std::ios::binary) << "ACTION: PrivateFile: " << app << "/../x\r\n"; }
  auto dotdot = box.remove(log);
  EXPECT_EQ(dotdot.status, 1);
  EXPECT_TRUE(contains(dotdot.err, "not a plain absolute path")) << dotdot.err;
  { std::ofstream(log, std::ios::binary | std::ios::trunc) << original; }

  if (::geteuid() == 0) {
    ASSERT_EQ(::chown(log.c_str(), 65534, 65534), 0);
    auto foreign = box.remove(log);
    EXPECT_EQ(foreign.status, 1);
    EXPECT_TRUE(contains(foreign.err, "belongs to another user")) << foreign.err;
    ASSERT_EQ(::chown(log.c_str(), 0, 0), 0);
  }
  auto missing = box.remove(app + "/uninst55.log");
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(box.tree(), installed);
  EXPECT_EQ(box.store_dump(), store);
  // Quoted and unquoted, with the log as the joined arguments.
  auto quoted = box.run({app + "/remover", "--unattended", "\"" + log + "\""});
  EXPECT_EQ(quoted.status, 0) << quoted.err;
}

// A directory of the installation replaced by a symbolic link to a
// directory outside that holds files of the same names: remover deletes
// nothing there, says which paths it left, and takes off the rest.
TEST(SetupEndToEnd, RemoverNeverDeletesThroughASymbolicLink) {
  Sandbox box("links");
  box.prepare_media();
  box.put_copy("tool", kPayloadV1);
  box.write_script(simple_script("File2=data.txt,$AppPath/data,private\n") + "[Directories]\nDirectory1=$AppPath/data\n");
  box.put_file("data.txt", "data");
  const auto tree_before = box.tree();
  ASSERT_EQ(box.install().status, 0);
  const std::string app = box.programs() + "/Simple";
  const std::string log = app + "/uninst00.log";
  const std::string victim = box.root() + "/victim";
  fs::create_directories(victim + "/data");
  for (const char* name : {"/tool", "/remover", "/uninst00.log", "/data/data.txt"}) {
    std::ofstream(victim + name) << "victim's";
  }
  ::chmod((victim + "/uninst00.log").c_str(), 0644);

  // The application directory itself swapped for a link: the log is
  // reached through it, so nothing is done at all.
  fs::rename(app, box.root() + "/moved");
  fs::create_directory_symlink(victim, app);
  auto through_app = box.remove(log, box.root() + "/moved/remover");
  EXPECT_EQ(through_app.status, 1);
  EXPECT_TRUE(contains(through_app.err, "reached through a symbolic link")) << through_app.err;
  fs::remove(app);
  fs::rename(box.root() + "/moved", app);

  // A sub-directory swapped: everything else goes.
  fs::rename(app + "/data", box.root() + "/moved-data");
  fs::create_directory_symlink(victim + "/data", app + "/data");
  auto removed = box.remove(log);
  ASSERT_EQ(removed.status, 0) << removed.err;
  EXPECT_TRUE(contains(removed.err, "Software was removed.\nA symbolic link stands where the installation had a "
                                    "directory, so these were left alone:\n" +
                                        app + "/data/data.txt\n" + app + "/data\n"))
      << removed.err;
  for (const char* name : {"/tool", "/remover", "/uninst00.log", "/data/data.txt"}) {
    EXPECT_EQ(read_text(victim + name), "victim's") << name;
  }
  EXPECT_FALSE(exists(app + "/tool"));
  EXPECT_FALSE(exists(app + "/remover"));
  EXPECT_FALSE(exists(log));
  EXPECT_TRUE(fs::is_symlink(app + "/data"));  // and so the application directory is not empty
  EXPECT_EQ(read_text(box.root() + "/moved-data/data.txt"), "data");
  fs::remove(app + "/data");
  fs::remove(app);
  fs::remove_all(victim);
  fs::remove_all(box.root() + "/moved-data");
  EXPECT_EQ(box.tree(), tree_before);  // the removal script went as well
}

TEST(SetupEndToEnd, RemoverTakesARelativeLogPathFromItsWorkingDirectory) {
  Sandbox box("relative");
  box.prepare_media();
  box.put_copy("tool", kPayloadV1);
  box.write_script(simple_script());
  const auto tree_before = box.tree();
  const auto store_before = box.store_dump();
  ASSERT_EQ(box.install().status, 0);
  const std::string app = box.programs() + "/Simple";
  const auto installed = box.tree();
  auto in_app = [&](const std::string& log) {
    return box.run({"/bin/sh", "-c", "cd \"$0\" && exec ./remover --unattended \"$1\"", app, log});
  };
  // ".." is refused as in an absolute path, and a missing log ends silently.
  auto up = in_app("../Simple/uninst00.log");
  EXPECT_EQ(up.status, 1);
  EXPECT_TRUE(contains(up.err, "without \"..\"")) << up.err;
  EXPECT_EQ(in_app("uninst55.log").status, 1);
  EXPECT_EQ(box.tree(), installed);

  auto removed = in_app("uninst00.log");
  ASSERT_EQ(removed.status, 0) << removed.err;
  EXPECT_EQ(removed.err, "Do you want to remove this application?\nSoftware was removed.\n");
  EXPECT_EQ(box.tree(), tree_before);
  EXPECT_EQ(box.store_dump(), store_before);
}

// The program part of the registered uninstall command is only text in the
// settings store: replacing an installation deletes the remover beside the
// earlier log and no file the command names instead.
TEST(SetupEndToEnd, ReplacementDeletesOnlyTheEarlierInstallationsRemover) {
  Sandbox box("replace-remover");
  box.prepare_media();
  box.put_copy("tool", kPayloadV1);
  box.write_script(simple_script());
  ASSERT_EQ(box.install().status, 0);
  const std::string app = box.programs() + "/Simple";
  const std::string victim = box.root() + "/victim";
  { std::ofstream(victim) << "victim's"; }
  const std::string key = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Simple";
  box.reg_set_sz(key, "UninstallString", victim + " \"" + app + "/uninst00.log\"");

  // Version 2 stops at a file its setup directory lacks, after the earlier
  // installation went and before its own remover is copied.
  box.write_script(simple_script("File2=missing.bin,$AppPath,private\n", "2.0"));
  auto r = box.install();
  ASSERT_EQ(r.status, 1) << r.err;
  EXPECT_TRUE(contains(r.err, "The setup directory has no file missing.bin.")) << r.err;
  EXPECT_EQ(read_text(victim), "victim's");
  EXPECT_FALSE(exists(app + "/remover"));
}

TEST(SetupEndToEnd, InstallKilledAnywhereIsRemovedCompletelyFromItsLog) {
  Sandbox box("kill");
  box.prepare_media();
  put_full_media(box);
  box.reg_set_sz("HKCU\\Software", "Unrelated", "stays");
  // A remover outside the application, for logs of runs killed before the
  // installed one was copied; it stays where it is.
  const std::string remover = box.media() + "/remover";
  const auto tree_before = box.tree();
  const auto store_before = box.store_dump();
  const std::string app = box.programs() + "/Demo App";
  const std::map<std::string, std::string> env{{"SETUP_TEST_OUT", box.root() + "/.capture/execute.txt"}};

  // One complete run tells how many writes the log gets: two stop points each.
  ASSERT_EQ(box.install({"--unattended"}, env).status, 0);
  std::string full_log = read_text(app + "/uninst00.log");
  ASSERT_EQ(box.remove(app + "/uninst00.log").status, 0);
  ASSERT_EQ(box.tree(), tree_before);
  size_t actions = 0;
  for (size_t at = full_log.find("ACTION:"); at != std::string::npos; at = full_log.find("ACTION:", at + 1)) ++actions;
  const size_t writes = 1 + actions - 3;  // the three levels of the application path come with the first write
  int removed_runs = 0;
  for (size_t n = 1; n <= 2 * writes; ++n) {
    auto r = box.install({"--unattended"}, {{"SETUP_TEST_OUT", box.root() + "/.capture/execute.txt"},
                                            {"LYRALINK_SETUP_KILL_AT", std::to_string(n)}});
    ASSERT_EQ(r.status, 128 + 9) << "stop point " << n;
    std::string log = app + "/uninst00.log";
    if (n == 1) {
      // Stopped before the log could be made: only the empty levels of the
      // application path exist, and no store entry.
      ASSERT_FALSE(exists(log));
      EXPECT_EQ(box.store_dump(), store_before);
      fs::remove(app);
      EXPECT_EQ(box.tree(), tree_before);
      continue;
    }
    ASSERT_TRUE(exists(log)) << "stop point " << n;
    auto removed = box.remove(log, remover);
    ASSERT_EQ(removed.status, 0) << "stop point " << n << ": " << removed.err;
    ++removed_runs;
    EXPECT_EQ(box.tree(), tree_before) << "stop point " << n;
    EXPECT_EQ(box.store_dump(), store_before) << "stop point " << n;
    if (HasFailure()) break;
  }
  EXPECT_EQ(removed_runs, static_cast<int>(2 * writes - 1));
}

// A normal user's folders: $WinSysPath is ~/.local/lib, and $ProgramFiles,
// without ProgramFilesDir, ~/.local/opt, made level by level as part of the
// application path.
TEST(SetupEndToEnd, NormalUserFoldersAndSharedSystemLibrary) {
  Sandbox box("user", true);
  box.prepare_media(false);
  box.put_file("lib.so", "library");
  box.put_copy("tool", kPayloadV1);
  box.write_script("[Setup]\nTitle=User App\nDefaultDir=$ProgramFiles/User App\nUninstall=UserApp\nVersion=1\n"
                   "[Files]\nFile1=lib.so,$WinSysPath,shared\nFile2=tool,$AppPath,private\n");
  // The system library directory is no application path and is not made
  // by install; a second application already shares the library there.
  const std::string lib = box.home() + "/.local/lib/lib.so";
  const std::string counts = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";
  fs::create_directories(box.home() + "/.local/lib");
  { std::ofstream(lib) << "library"; }
  box.reg_set_dword(counts, lib, 2);
  const auto tree_before = box.tree();
  const auto store_before = box.store_dump();
  auto r = box.install();
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string app = box.home() + "/.local/opt/User App";
  EXPECT_TRUE(exists(app + "/tool"));
  EXPECT_EQ(read_text(lib), "library");
  EXPECT_EQ(box.reg_get(counts, lib), "3");
  EXPECT_EQ(read_text(app + "/uninst00.log"),
            setuptest::log_bytes("User App", {"CreateDir: " + box.home() + "/.local/opt", "CreateDir: " + app,
                                              "SharedFile: " + lib, "PrivateFile: " + app + "/tool",
                                              "RegApp: UserApp"}));
  auto removed = box.remove(app + "/uninst00.log");
  ASSERT_EQ(removed.status, 0) << removed.err;
  EXPECT_EQ(box.reg_get(counts, lib), "2");
  EXPECT_EQ(box.tree(), tree_before);
  EXPECT_EQ(box.store_dump(), store_before);
}

}  // namespace
