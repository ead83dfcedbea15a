// SPDX-License-Identifier: LGPL-2.1-or-later
// The plain rules of the setup pair: uninstall log, setup script, path
// macros, version rule, path check, registry texts, menu entries, the
// removal script's text, log trust and the title font.
#include <gtest/gtest.h>

#include <map>

#include "platform/mount_points.h"
#include "setup/common/copy_rule.h"
#include "setup/common/desktop_entry.h"
#include "setup/common/installer.h"
#include "setup/common/log_trust.h"
#include "setup/common/path_check.h"
#include "setup/common/path_macros.h"
#include "setup/common/registry_entry.h"
#include "setup/common/removal_script.h"
#include "setup/common/setup_script.h"
#include "setup/common/title_font.h"
#include "setup/common/uninstall_log.h"

namespace {

using namespace lyralink::setup;
using lyralink::platform::Drive;
using lyralink::platform::DriveType;
using lyralink::platform::RegistryRoot;
using lyralink::platform::VersionInfo;

// ---- uninstall log ----

TEST(UninstallLog, WrittenLinesAreExactAndCrLfOnDisk) {
  std::string text = log_header() + title_line("Demo") + action_line(ActionKind::create_dir, "/opt/demo") +
                     action_line(ActionKind::reg_value, "HKEY_CURRENT_USER\\Software\\A\\B,Count");
  EXPECT_EQ(text,
            "!!! PLEASE DO NOT MODIFY OR DELETE THIS FILE !!!\n\n"
            "This file contains information about the installation of an application.\n"
            "It will be used to automatically remove all application components from\n"
            "your computer if you choose to do so.\n\n\n"
            "TITLE: Demo\n\n"
            "ACTION: CreateDir: /opt/demo\n\n"
            "ACTION: RegValue: HKEY_CURRENT_USER\\Software\\A\\B,Count\n\n");
  EXPECT_EQ(to_disk_text("a\nb\n\n"), "a\r\nb\r\n\r\n");
  for (auto kind : {ActionKind::shared_file, ActionKind::private_file, ActionKind::shell_link, ActionKind::create_dir,
                    ActionKind::reg_app, ActionKind::reg_key, ActionKind::reg_value}) {
    std::string line = action_line(kind, "x");
    auto parsed = parse_log(to_disk_text(line));
    ASSERT_EQ(parsed.actions.size(), 1u) << line;
    EXPECT_EQ(parsed.actions[0], (LogAction{kind, "x"}));
  }
}

TEST(UninstallLog, ReaderTakesLfOrCrLfBlanksAndShellLinks) {
  std::string lf = "TITLE:   My App\n\nACTION: SharedFile:\t  /a b/c.so\nACTION:   ShellLink: ignored\n"
                   "ACTION: RegKey:HKEY_CURRENT_USER\\X\nACTION: Bogus: /x\njunk ACTION: PrivateFile: /no\n";
  for (const std::string& text : {lf, to_disk_text(lf)}) {
    auto log = parse_log(text);
    ASSERT_TRUE(log.title);
    EXPECT_EQ(*log.title, "My App");
    EXPECT_TRUE(log.title_ended);
    ASSERT_EQ(log.actions.size(), 3u);
    EXPECT_EQ(log.actions[0], (LogAction{ActionKind::shared_file, "/a b/c.so"}));
    EXPECT_EQ(log.actions[1], (LogAction{ActionKind::shell_link, "ignored"}));
    EXPECT_EQ(log.actions[2], (LogAction{ActionKind::reg_key, "HKEY_CURRENT_USER\\X"}));
  }
}

TEST(UninstallLog, TextThatOnlyContainsTheMarkIsNoAction) {
  // A title holding the action mark must never be acted upon.
  auto log = parse_log("TITLE: ACTION: PrivateFile: /etc/passwd\n\nACTION: PrivateFile: /opt/a/f\n");
  ASSERT_EQ(log.actions.size(), 1u);
  EXPECT_EQ(log.actions[0].argument, "/opt/a/f");
}

TEST(UninstallLog, LogCutInTheMiddleKeepsEveryCompleteAction) {
  std::string full = log_header() + title_line("T") + action_line(ActionKind::create_dir, "/opt/t") +
                     action_line(ActionKind::private_file, "/opt/t/a");
  std::string cut = to_disk_text(full);
  cut.resize(cut.size() - 3);  // inside the line end of the last action
  auto log = parse_log(cut);
  ASSERT_EQ(log.actions.size(), 2u);
  EXPECT_EQ(log.actions[1].argument, "/opt/t/a");
}

TEST(UninstallLog, WindowTitleRule) {
  EXPECT_EQ(uninstall_window_title(parse_log("TITLE: Demo\n")), "Uninstall Demo");
  EXPECT_EQ(uninstall_window_title(parse_log("no title\n")), "Uninstall");
  EXPECT_EQ(uninstall_window_title(parse_log("TITLE: Demo")), "Uninstall");  // no line end
  EXPECT_EQ(uninstall_window_title(parse_log("TITLE: " + std::string(39, 'x') + "\n")),
            "Uninstall " + std::string(39, 'x'));
  EXPECT_EQ(uninstall_window_title(parse_log("TITLE: " + std::string(40, 'x') + "\n")), "Uninstall");
  EXPECT_EQ(uninstall_window_title(parse_log("TITLE: " + std::string(45, 'x') + "\n")), "Uninstall");
}

TEST(UninstallLog, CommandLineAndUninstallString) {
  EXPECT_EQ(log_path_from_command_line("/opt/a b/uninst00.log"), "/opt/a b/uninst00.log");
  EXPECT_EQ(log_path_from_command_line("\"/opt/a b/uninst00.log\""), "/opt/a b/uninst00.log");
  EXPECT_EQ(log_path_from_command_line("x \"/opt/\"q\"/l.log\" y"), "/opt/\"q\"/l.log");
  EXPECT_EQ(log_path_from_command_line("\"only one"), "");
  std::string registered = uninstall_string("/opt/app", "/opt/app/uninst02.log");
  EXPECT_EQ(registered, "/opt/app/remover \"/opt/app/uninst02.log\"");
  auto back = parse_uninstall_string(registered);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->remover_path, "/opt/app/remover");
  EXPECT_EQ(back->log_path, "/opt/app/uninst02.log");
  EXPECT_FALSE(parse_uninstall_string("/opt/app/remover /opt/app/uninst00.log"));
  EXPECT_EQ(log_file_name(0), "uninst00.log");
  EXPECT_EQ(log_file_name(98), "uninst98.log");
}

// ---- setup script ----

TEST(SetupScript, ProfileRules) {
  auto p = ProfileText::parse(
      "\xEF\xBB\xBF; comment\r\n[setup]\r\n  title =  \"Quoted Title\"  \r\nTITLE=second wins not\r\n"
      "[Files]\nFile1=a\nFile2=b\nFile3=\nFile4=d\n[Empty]\nno equals sign\n[SETUP]\nVersion=9\n");
  EXPECT_EQ(p.value("Setup", "Title", 49), "Quoted Title");
  EXPECT_EQ(p.value("Setup", "Version", 15), "9");  // a second [Setup] adds to the first
  EXPECT_EQ(p.numbered("files", "file", 259), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(p.value("Setup", "Title", 6), "Quoted");
  EXPECT_FALSE(p.value("Nope", "Title", 49));
  // Cutting never splits a UTF-8 sequence: "ü" is two bytes.
  EXPECT_EQ(cut_text("Grüße", 3), "Gr");
  EXPECT_EQ(cut_text("Grüße", 4), "Grü");
}

TEST(SetupScript, RequiredKeysLengthsAndDefaults) {
  std::string base = "[Setup]\nTitle=T\nDefaultDir=$AppPath\nUninstall=U\nVersion=1\n";
  auto script = read_setup_script(ProfileText::parse(base));
  ASSERT_TRUE(script);
  EXPECT_EQ(script->publisher, "Veltra GmbH");
  EXPECT_EQ(script->registry, RegistryMode::neither);
  EXPECT_FALSE(script->group);
  for (const char* missing : {"Title", "DefaultDir", "Uninstall", "Version"}) {
    std::string text = base;
    size_t at = text.find(std::string(missing) + "=");
    text.insert(at + std::string(missing).size() + 1, "\n;");  // leaves the key empty
    EXPECT_FALSE(read_setup_script(ProfileText::parse(text))) << missing;
  }
  auto long_one = read_setup_script(ProfileText::parse(
      "[Setup]\nTitle=" + std::string(60, 't') + "\nDefaultDir=/d\nUninstall=U\nVersion=1.2.3.4.5.6.7.8.9\n"
      "Registry=Clear\nPublisher=Lab\n[ShellLinks]\nGroup=\n[Conditions]\nCondition1=/a\nCondition2=/b\nText2=B\\nfailed\n"));
  ASSERT_TRUE(long_one);
  EXPECT_EQ(long_one->title.size(), 49u);
  EXPECT_EQ(long_one->version, "1.2.3.4.5.6.7.8");
  EXPECT_EQ(long_one->registry, RegistryMode::neither);  // exact lower case only
  EXPECT_EQ(long_one->publisher, "Lab");
  EXPECT_FALSE(long_one->group);
  ASSERT_EQ(long_one->conditions.size(), 2u);
  EXPECT_EQ(long_one->conditions[0].text, "");
  EXPECT_EQ(message_text(long_one->conditions[1].text), "B\nfailed");
}

// ---- path macros ----

MacroContext context() {
  MacroContext c;
  c.system_directory = "/usr/local/lib";
  c.windows_directory = "/etc";
  c.program_files = "/opt";
  c.other_app = [](const std::string& name) -> std::optional<std::string> {
    if (name == "editor") return std::string("/usr/bin/editor");
    return std::nullopt;
  };
  return c;
}

TEST(PathMacros, EachMacroAndWhereItFails) {
  MacroContext c = context();
  EXPECT_EQ(expand_leading_macro("$WinSysPath/x", c), "/usr/local/lib/x");
  EXPECT_EQ(expand_leading_macro("$WinPath/hosts", c), "/etc/hosts");
  EXPECT_EQ(expand_leading_macro("$OtherAppPath(editor)/plugins", c), "/usr/bin/plugins");
  EXPECT_EQ(expand_leading_macro("$OtherApp(editor)/dropped", c), "/usr/bin/editor");
  EXPECT_EQ(expand_leading_macro("$ProgramFiles/app", c), "/opt/app");
  EXPECT_FALSE(expand_leading_macro("$AppPath/x", c));  // no application path yet
  EXPECT_FALSE(expand_leading_macro("$OtherApp(nothing)", c));
  EXPECT_FALSE(expand_leading_macro("$OtherAppPath(editor", c));  // no ")"
  EXPECT_FALSE(expand_leading_macro("$Unknown", c));
  c.program_files.reset();
  EXPECT_FALSE(expand_leading_macro("$ProgramFiles/app", c));
  c.application_path = "/opt/app";
  EXPECT_FALSE(expand_leading_macro("$Uninstall", c));  // no log yet
  c.log_path = "/opt/app/uninst00.log";
  EXPECT_EQ(expand_leading_macro("$Uninstall,rest", c), "/opt/app/remover,/opt/app/uninst00.log,/opt/app");
  EXPECT_EQ(expand_leading_macro("plain/value", c), "plain/value");
}

TEST(PathMacros, WhichDollarEachKeyExpands) {
  MacroContext c = context();
  c.application_path = "/opt/$AppPath";  // inserted text is never expanded again
  c.log_path = "/opt/l.log";
  EXPECT_EQ(expand_leading_macro("x$AppPath", c), "x$AppPath");   // Condition: first character only
  EXPECT_EQ(expand_first_macro("lib.so,$WinSysPath,shared", c), "lib.so,/usr/local/lib,shared");
  EXPECT_EQ(expand_first_macro("a,$WinPath,$Nope", c), "a,/etc,$Nope");  // File: the first '$' only
  EXPECT_EQ(expand_every_macro("Tool,$AppPath/bin/t,--x,$AppPath", c), "Tool,/opt/$AppPath/bin/t,--x,/opt/$AppPath");
  EXPECT_EQ(expand_every_macro("Remove,$Uninstall", c), "Remove,/opt/$AppPath/remover,/opt/l.log,/opt/$AppPath");
  EXPECT_FALSE(expand_every_macro("costs $5", c));
  EXPECT_EQ(expand_every_macro("no macros", c), "no macros");
}

// ---- version rule ----

VersionInfo version(uint64_t file_version, std::optional<std::string> special = std::nullopt) {
  VersionInfo v;
  v.file_version = file_version;
  if (special) v.strings["SpecialBuild"] = *special;
  return v;
}

TEST(CopyRule, VersionTable) {
  const uint64_t v1 = 0x0001000000000000ull, v1_1 = 0x0001000000000001ull, v2 = 0x0002000000000000ull;
  struct Row {
    FileFacts target, source;
    bool replace;
    const char* what;
  } rows[] = {
      {{version(v1), 5}, {version(v2), 1}, true, "target older"},
      {{version(v1), 1}, {version(v1_1), 1}, true, "older in the least significant half"},
      {{version(v1), 1}, {version(v1), 9}, false, "same version, newer source"},
      {{version(v2), 1}, {version(v1), 9}, false, "target newer"},
      {{version(v2, "lab"), 1}, {version(v1), 1}, true, "special build the source lacks"},
      {{version(v1, "lab"), 1}, {version(v1, "field"), 1}, true, "another special build"},
      {{version(v1, "lab"), 1}, {version(v1, "lab"), 1}, false, "same special build"},
      {{version(v1), 1}, {version(v1, "lab"), 1}, false, "only the source special"},
      {{std::nullopt, 5}, {version(v2), 6}, true, "no version: source written later"},
      {{std::nullopt, 6}, {version(v2), 6}, false, "no version: same time"},
      {{version(v1), 7}, {std::nullopt, 6}, false, "no version: source older"},
      {{std::nullopt, std::nullopt}, {std::nullopt, 1}, true, "target time unknown"},
  };
  for (const auto& r : rows) EXPECT_EQ(should_replace(r.target, r.source), r.replace) << r.what;
}

// ---- path check ----

std::vector<Drive> drives() {
  return {{"/", "ext4", "/dev/vda", DriveType::fixed},
          {"/media/stick", "vfat", "/dev/sdb1", DriveType::removable},
          {"/srv/data", "ext4", "/dev/sdb2", DriveType::removable},
          {"/net", "nfs4", "server:/x", DriveType::network},
          {"/tmp", "tmpfs", "tmpfs", DriveType::ram}};
}

TEST(PathCheck, Rules) {
  auto check = [](const std::string& p, const std::string& pf = "/opt") {
    return check_application_path(p, drives(), pf, "/etc");
  };
  EXPECT_EQ(check("/opt/Programs/App"), PathVerdict::ok);
  EXPECT_EQ(check("/opt/App/"), PathVerdict::ok);
  for (const char* bad : {"", "/", "opt/app", "/a//b", "/a?b", "/a*b", "/a:b", "/a<b", "/a>b", "/a|b", "/a\"b",
                          "/a,b", "/a\nb", "/a/../b", "/a/./b", "/a/..", "//a"}) {
    EXPECT_EQ(check(bad), PathVerdict::invalid) << bad;
  }
  EXPECT_EQ(check("/media/stick/app"), PathVerdict::removable);
  EXPECT_EQ(check("/media/sticky/app"), PathVerdict::ok);  // a mount point counts only on a '/' boundary
  EXPECT_EQ(check("/net/app"), PathVerdict::removable);
  EXPECT_EQ(check("/tmp/app"), PathVerdict::removable);
  // A drive of another type passes when program files live on it.
  EXPECT_EQ(check("/srv/data/app", "/srv/data/programs"), PathVerdict::ok);
  EXPECT_EQ(check_application_path("/tmp/x", {}, "/opt", "/etc"), PathVerdict::invalid);  // no drive present
  EXPECT_EQ(without_trailing_slash("/opt/App/"), "/opt/App");
  EXPECT_EQ(without_trailing_slash("/"), "/");
  EXPECT_EQ(path_verdict_message(PathVerdict::invalid), "This is no valid path!\n\nPlease correct it.");
  EXPECT_EQ(path_verdict_message(PathVerdict::removable), "This is a removable drive!\n\nPlease change it.");
}

TEST(Drives, MountinfoAndClassification) {
  std::string text =
      "27 1 254:0 / / rw,relatime - ext4 /dev/vda rw\n"
      "40 27 8:17 / /media/my\\040stick rw shared:1 - vfat /dev/sdb1 rw\n"
      "41 27 0:50 / /mnt/share rw - cifs //srv/share rw\n"
      "42 27 0:51 / /mnt/ssh rw - fuse.sshfs me@host: rw\n"
      "43 27 11:0 / /media/cd ro - iso9660 /dev/sr0 ro\n"
      "44 27 0:23 / /dev/shm rw - tmpfs tmpfs rw\n"
      "broken line\n";
  auto d = lyralink::platform::parse_mountinfo(text);
  ASSERT_EQ(d.size(), 6u);
  EXPECT_EQ(d[1].mount_point, "/media/my stick");
  auto removable = [](const std::string& name) { return name == "sdb1"; };
  std::vector<DriveType> types;
  for (const auto& e : d) types.push_back(lyralink::platform::classify_drive(e.fs_type, e.source, removable));
  EXPECT_EQ(types, (std::vector<DriveType>{DriveType::fixed, DriveType::removable, DriveType::network,
                                           DriveType::network, DriveType::cd, DriveType::ram}));
  std::vector<Drive> stacked{{"/", "ext4", "", DriveType::fixed}, {"/m", "ext4", "", DriveType::fixed},
                             {"/m", "vfat", "", DriveType::removable}};
  EXPECT_EQ(lyralink::platform::drive_holding("/m/x", stacked)->type, DriveType::removable);
  EXPECT_EQ(lyralink::platform::drive_holding("/mx", stacked)->mount_point, "/");
}

// ---- registry texts ----

TEST(RegistryEntry, ParsesTheThreeTypes) {
  auto dw = parse_registry_entry("HKEY_CURRENT_USER\\Software\\A\\B,REG_DW(Count,10)");
  ASSERT_TRUE(dw);
  EXPECT_EQ(dw->root, RegistryRoot::current_user);
  EXPECT_EQ(dw->key_path, "Software\\A\\B");
  EXPECT_EQ(dw->type, EntryValueType::dword);
  EXPECT_EQ(dw->name, "Count");
  EXPECT_EQ(dw->number, 10u);
  auto sz = parse_registry_entry("HKEY_LOCAL_MACHINE\\Software\\X,REG_SZ(Path,/a,b (c)) tail)");
  ASSERT_TRUE(sz);
  EXPECT_EQ(sz->text, "/a,b (c)) tail");  // up to the last ")"
  auto un = parse_registry_entry("HKEY_LOCAL_MACHINE\\Software\\X,REG_UN()");
  ASSERT_TRUE(un);
  EXPECT_EQ(un->type, EntryValueType::unset);
  EXPECT_EQ(un->name, "");
  EXPECT_EQ(parse_registry_entry("HKEY_CURRENT_USER\\K,REG_DW(Max,4294967295)")->number, 4294967295u);
}

TEST(RegistryEntry, AnythingThatDoesNotParseIsRefused) {
  for (const char* bad : {"HKEY_CLASSES_ROOT\\Foo,REG_SZ(a,b)", "HKEY_CURRENT_USER\\A\\\\B,REG_SZ(a,b)",
                          "HKEY_CURRENT_USER\\A\\,REG_SZ(a,b)", "HKEY_CURRENT_USER\\,REG_SZ(a,b)",
                          "HKEY_CURRENT_USER\\A,REG_SZ(a,b", "HKEY_CURRENT_USER\\A,REG_SZ(ab)",
                          "HKEY_CURRENT_USER\\A,REG_XX(a,b)", "HKEY_CURRENT_USER\\A,REG_DW(n,ten)",
                          "HKEY_CURRENT_USER\\A,REG_DW(n,4294967296)", "HKEY_CURRENT_USER\\A,REG_DW(n,)",
                          "HKEY_CURRENT_USER\\A,REG_UN(a,b)", "HKEY_CURRENT_USER\\A", "HKEY_CURRENT_USER",
                          "hkey_current_user\\A,REG_SZ(a,b)", "HKEY_CURRENT_USER\\A,)"}) {
    EXPECT_FALSE(parse_registry_entry(bad)) << bad;
  }
}

TEST(RegistryEntry, KeyWalkAndActionArguments) {
  EXPECT_EQ(key_prefixes("Software\\A\\B"), (std::vector<std::string>{"Software", "Software\\A", "Software\\A\\B"}));
  auto key = parse_key_argument("HKEY_CURRENT_USER\\Software\\A\\B");
  ASSERT_TRUE(key);
  EXPECT_EQ(key->path, "Software\\A\\B");
  EXPECT_EQ(parse_key_argument("HKEY_CURRENT_USER\\AppKey")->path, "AppKey");
  EXPECT_FALSE(parse_key_argument("HKEY_CURRENT_USER\\"));
  EXPECT_FALSE(parse_key_argument("HKEY_USERS\\X"));
  auto value = parse_value_argument("HKEY_LOCAL_MACHINE\\Software\\A,B\\C,Count");
  ASSERT_TRUE(value);
  EXPECT_EQ(value->root, RegistryRoot::local_machine);
  EXPECT_EQ(value->key_path, "Software\\A,B\\C");
  EXPECT_EQ(value->name, "Count");
  EXPECT_EQ(parse_value_argument("HKEY_CURRENT_USER\\K,")->name, "");
  EXPECT_TRUE(same_key_path("software\\a", "SOFTWARE\\A"));
}

// ---- menu entries ----

TEST(DesktopEntry, ExecQuotingAndEscapes) {
  EXPECT_EQ(quote_exec_argument("/opt/a b/tool"), "\"/opt/a b/tool\"");
  EXPECT_EQ(quote_exec_argument("$HOME `x` \"q\" \\ 100%"), "\"\\$HOME \\`x\\` \\\"q\\\" \\\\ 100%%\"");
  std::string text = desktop_entry_text("Remove", "/opt/app/remover", "/opt/app/uninst00.log", "/opt/app");
  EXPECT_EQ(text,
            "[Desktop Entry]\nType=Application\nName=Remove\nComment=Remove\n"
            "Exec=\"/opt/app/remover\" \"/opt/app/uninst00.log\"\nPath=/opt/app\n");
  // No arguments: no second argument at all; a backslash of the quoting is
  // doubled again by the value escapes.
  EXPECT_EQ(desktop_entry_text("T", "/opt/a\\b", "", ""),
            "[Desktop Entry]\nType=Application\nName=T\nComment=T\nExec=\"/opt/a\\\\\\\\b\"\n");
  EXPECT_EQ(escape_desktop_value(" lead\nline"), "\\slead\\nline");
}

// ---- removal script text ----

TEST(RemovalScript, QuotesEveryPathAndOrdersItsSteps) {
  EXPECT_EQ(shell_quote("it's"), "'it'\\''s'");
  EXPECT_EQ(shell_quote("$(rm -rf /)`x`\n"), "'$(rm -rf /)`x`\n'");
  RemovalScript s("/opt/a'b/remover", true);
  s.add_directory("/opt/a'b/bin/");
  s.add_directory("/opt//a'b");
  std::string text = s.text("/tmp/lyralink-remove-X");
  // Every entry goes by its last name alone, from within its directory
  // entered and checked first; the paths are written in their normal form.
  size_t wait = text.find("cat >/dev/null");
  size_t del = text.find("( inside '/opt/a'\\''b' && rm -f -- 'remover' )");
  size_t inner = text.find("( inside '/opt/a'\\''b' && rmdir -- 'bin' )");
  size_t outer = text.find("( inside '/opt' && rmdir -- 'a'\\''b' )");
  size_t self = text.find("( inside '/tmp' && rm -f -- 'lyralink-remove-X' )");
  ASSERT_NE(wait, std::string::npos) << text;
  ASSERT_NE(del, std::string::npos) << text;
  ASSERT_NE(inner, std::string::npos) << text;
  ASSERT_NE(outer, std::string::npos) << text;
  ASSERT_NE(self, std::string::npos) << text;
  EXPECT_LT(wait, del);
  EXPECT_LT(del, inner);
  EXPECT_LT(inner, outer);
  EXPECT_LT(outer, self);
  EXPECT_EQ(text.find("rm -r"), std::string::npos);
  // No removal names a path with a '/' in it: every one would be resolved
  // by rm or rmdir through whatever links stand on the way.
  for (const char* command : {"rm -f -- '", "rmdir -- '"}) {
    for (size_t at = text.find(command); at != std::string::npos; at = text.find(command, at + 1)) {
      size_t start = at + std::string(command).size();
      EXPECT_EQ(text.substr(start, text.find('\'', start) - start).find('/'), std::string::npos) << text.substr(at);
    }
  }
  RemovalScript unknown(std::nullopt, false);
  std::string bare = unknown.text("/tmp/s");
  EXPECT_EQ(bare.find("cat >/dev/null"), std::string::npos);
  EXPECT_EQ(bare.find("while ("), std::string::npos);
}

// ---- log trust ----

TEST(LogTrust, OwnerModeAndPaths) {
  auto log = parse_log("ACTION: PrivateFile: /opt/a/f\nACTION: RegKey: HKEY_CURRENT_USER\\..\nACTION: CreateDir: /opt/a\n");
  EXPECT_FALSE(log_refusal("/opt/a/uninst00.log", 1000, 0644, 1000, log));
  EXPECT_FALSE(log_refusal("/opt/a/uninst00.log", 0, 0644, 1000, log));  // root's logs are trusted
  EXPECT_TRUE(log_refusal("/opt/a/uninst00.log", 1001, 0644, 1000, log));
  EXPECT_TRUE(log_refusal("/opt/a/uninst00.log", 1000, 0664, 1000, log));
  EXPECT_TRUE(log_refusal("/opt/a/uninst00.log", 1000, 0646, 1000, log));
  for (const char* path : {"relative/f", "/opt/../etc/passwd", "/opt/a/..", ""}) {
    auto bad = parse_log(std::string("ACTION: PrivateFile: /opt/ok\nACTION: SharedFile: ") + path + "\n");
    EXPECT_TRUE(log_refusal("/l", 1000, 0600, 1000, bad)) << path;
  }
  EXPECT_TRUE(is_plain_absolute_path("/opt/..a/b.."));
  EXPECT_FALSE(is_plain_absolute_path(std::string("/opt/a\0b", 8)));
}

TEST(LogTrust, RelativeLogPathsAreTakenFromTheWorkingDirectory) {
  EXPECT_EQ(log_path_from_working_directory("uninst00.log", "/opt/app"), "/opt/app/uninst00.log");
  EXPECT_EQ(log_path_from_working_directory("./uninst00.log", "/opt/app"), "/opt/app/uninst00.log");
  EXPECT_EQ(log_path_from_working_directory("app/uninst01.log", "/"), "/app/uninst01.log");
  EXPECT_EQ(log_path_from_working_directory("/opt//b/./uninst00.log", "/elsewhere"), "/opt/b/uninst00.log");
  // ".." stays, so the trust checks of an absolute path refuse it alike.
  std::string up = log_path_from_working_directory("../other/uninst00.log", "/opt/app");
  EXPECT_EQ(up, "/opt/app/../other/uninst00.log");
  EXPECT_FALSE(is_plain_absolute_path(up));

  EXPECT_EQ(normal_path("/"), "/");
  EXPECT_EQ(normal_path("//./"), "/");
  EXPECT_EQ(normal_path("/opt/a b/"), "/opt/a b");
  EXPECT_EQ(directory_of("/opt/app/uninst00.log"), "/opt/app");
  EXPECT_EQ(directory_of("/uninst00.log"), "/");
}

TEST(Installer, PlainFileNames) {
  EXPECT_TRUE(is_plain_file_name("remover"));
  EXPECT_TRUE(is_plain_file_name("..hidden"));
  for (const char* bad : {"", ".", "..", "a/b", "../x", "/abs"}) EXPECT_FALSE(is_plain_file_name(bad)) << bad;
}

// ---- title font ----

TEST(TitleFont, ShrinksTwoByOneUntilItFits) {
  // A stand-in measure: 10 characters of width w each.
  auto measure = [](TitleFontSize s) { return 10 * s.width; };
  TitleFontSize big = fit_title_font(measure, 2000);
  EXPECT_EQ(big.height, 100);
  EXPECT_EQ(big.width, 50);
  TitleFontSize fitted = fit_title_font(measure, 450);  // needs 10 * w <= 400
  EXPECT_EQ(fitted.width, 40);
  EXPECT_EQ(fitted.height, 80);
  TitleFontSize floor = fit_title_font(measure, 0);  // never fits: stops while it has a size
  EXPECT_GT(floor.height, 0);
  EXPECT_GT(floor.width, 0);
}

}  // namespace
