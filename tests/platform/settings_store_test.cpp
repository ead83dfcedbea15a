// SPDX-License-Identifier: LGPL-2.1-or-later
// The settings store on real SQLite files, and lyrareg over it.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/process.h"
#include "platform/settings_store.h"
#include "tests/support/emulator.h"

namespace {

using lyralink::platform::RegistryRoot;
using lyralink::platform::RegistryType;
using lyralink::platform::RegistryValue;
using lyralink::platform::SettingsStore;

class SettingsStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = lyratest::make_temp_dir("registry");
    ::setenv("LYRALINK_REGISTRY_DIR", dir_.c_str(), 1);
  }
  void TearDown() override { ::unsetenv("LYRALINK_REGISTRY_DIR"); }
  std::unique_ptr<SettingsStore> user() { return SettingsStore::open(RegistryRoot::current_user); }
  std::string dir_;
};

TEST_F(SettingsStoreTest, KeysAndValuesCompareWithoutLetterCaseAndKeepTheirOwn) {
  auto s = user();
  ASSERT_TRUE(s);
  ASSERT_TRUE(s->create_key("Software\\LYRALINK\\Special IPs"));
  EXPECT_TRUE(s->key_exists("software\\lyralink\\SPECIAL ips"));
  ASSERT_TRUE(s->set_value("SOFTWARE\\lyralink\\special IPs", RegistryValue::string("#00", "10.0.0.25")));
  auto v = s->get_value("Software\\LYRALINK\\Special IPs", "#00");
  ASSERT_TRUE(v);
  EXPECT_EQ(v->data, "10.0.0.25");
  // Creating it again in other letters changes nothing.
  ASSERT_TRUE(s->create_key("SOFTWARE\\LYRALINK"));
  EXPECT_EQ(*s->subkeys(""), std::vector<std::string>{"Software"});
  EXPECT_EQ(*s->subkeys("software"), std::vector<std::string>{"LYRALINK"});
}

TEST_F(SettingsStoreTest, StringsKeepTheStoredLengthAndDwordsTheirNumber) {
  auto s = user();
  ASSERT_TRUE(s->create_key("A"));
  std::string with_zero("ab\0cd", 5);
  ASSERT_TRUE(s->set_value("A", RegistryValue::string("raw", with_zero)));
  ASSERT_TRUE(s->set_value("A", RegistryValue::string("empty", "")));
  ASSERT_TRUE(s->set_value("A", RegistryValue::dword("count", 0xFFFFFFFFu)));
  EXPECT_EQ(s->get_value("A", "raw")->data, with_zero);
  auto empty = s->get_value("A", "EMPTY");
  ASSERT_TRUE(empty);
  EXPECT_EQ(empty->data.size(), 0u);
  EXPECT_EQ(empty->type, RegistryType::sz);
  auto count = s->get_value("a", "Count");
  EXPECT_EQ(count->type, RegistryType::dword);
  EXPECT_EQ(count->as_dword(), 0xFFFFFFFFu);
}

TEST_F(SettingsStoreTest, ValuesEnumerateInCreationOrderAndSubkeysAlphabetically) {
  auto s = user();
  ASSERT_TRUE(s->create_key("K"));
  for (const char* name : {"zeta", "Alpha", "#01", "mid"}) ASSERT_TRUE(s->set_value("K", RegistryValue::string(name, name)));
  // Rewriting keeps the place (and the first spelling of the name).
  ASSERT_TRUE(s->set_value("K", RegistryValue::dword("ALPHA", 7)));
  auto values = s->values("K");
  ASSERT_TRUE(values);
  std::vector<std::string> names;
  for (const auto& v : *values) names.push_back(v.name);
  EXPECT_EQ(names, (std::vector<std::string>{"zeta", "Alpha", "#01", "mid"}));
  EXPECT_EQ((*values)[1].as_dword(), 7u);

  for (const char* sub : {"beta", "Alpha", "gamma", "ALPHA2", "_x"}) ASSERT_TRUE(s->create_key(std::string("K\\") + sub));
  EXPECT_EQ(*s->subkeys("K"), (std::vector<std::string>{"_x", "Alpha", "ALPHA2", "beta", "gamma"}));
}

TEST_F(SettingsStoreTest, DeletingAndMissingThings) {
  auto s = user();
  ASSERT_TRUE(s->create_key("P\\Q\\R"));
  ASSERT_TRUE(s->set_value("P\\Q\\R", RegistryValue::string("v", "x")));
  EXPECT_FALSE(s->delete_key("P\\Q", false)) << "a key with subkeys stays without with_subkeys";
  EXPECT_TRUE(s->key_exists("P\\Q\\R"));
  EXPECT_TRUE(s->delete_key("P\\Q", true));
  EXPECT_FALSE(s->key_exists("P\\Q\\R"));
  EXPECT_TRUE(s->key_exists("P"));
  EXPECT_FALSE(s->delete_key("P\\Q", true));
  EXPECT_FALSE(s->delete_key("", true)) << "the root stays";
  EXPECT_FALSE(s->get_value("P", "none"));
  EXPECT_FALSE(s->delete_value("P", "none"));
  EXPECT_FALSE(s->set_value("missing", RegistryValue::string("a", "b")));
  EXPECT_FALSE(s->values("missing"));
  EXPECT_FALSE(s->subkeys("missing"));
  for (const char* bad : {"A\\\\B", "\\A", "A\\"}) {
    EXPECT_FALSE(s->create_key(bad)) << bad;
    EXPECT_FALSE(s->key_exists(bad)) << bad;
  }
}

TEST_F(SettingsStoreTest, RootsAreSeparateFilesThatArePrivate) {
  ASSERT_TRUE(user()->create_key("OnlyUser"));
  auto machine = SettingsStore::open(RegistryRoot::local_machine);
  ASSERT_TRUE(machine);
  EXPECT_FALSE(machine->key_exists("OnlyUser"));
  EXPECT_EQ(SettingsStore::store_file_path(RegistryRoot::current_user), dir_ + "/user.db");
  EXPECT_EQ(SettingsStore::store_file_path(RegistryRoot::local_machine), dir_ + "/machine.db");
  struct stat st {};
  ASSERT_EQ(stat((dir_ + "/user.db").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(SettingsStoreTest, DefaultPlacesFollowTheXdgDirectories) {
  ::unsetenv("LYRALINK_REGISTRY_DIR");
  ::setenv("XDG_CONFIG_HOME", (dir_ + "/cfg").c_str(), 1);
  ::setenv("XDG_DATA_HOME", (dir_ + "/data").c_str(), 1);
  EXPECT_EQ(SettingsStore::store_file_path(RegistryRoot::current_user), dir_ + "/cfg/lyralink/user.db");
  if (geteuid() != 0)
    EXPECT_EQ(SettingsStore::store_file_path(RegistryRoot::local_machine), dir_ + "/data/lyralink/machine.db");
  else
    EXPECT_EQ(SettingsStore::store_file_path(RegistryRoot::local_machine), "/var/lib/lyralink/machine.db");
  auto s = SettingsStore::open(RegistryRoot::current_user);
  ASSERT_TRUE(s);
  struct stat st {};
  ASSERT_EQ(stat((dir_ + "/cfg/lyralink").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  ::unsetenv("XDG_CONFIG_HOME");
  ::unsetenv("XDG_DATA_HOME");
}

TEST_F(SettingsStoreTest, WritersInSeveralProcessesLoseNothing) {
  ASSERT_TRUE(user()->create_key("Shared"));
  constexpr int kWriters = 4, kEach = 40;
  std::vector<pid_t> pids;
  for (int w = 0; w < kWriters; ++w) {
    pid_t pid = fork();
    if (pid == 0) {
      auto s = SettingsStore::open(RegistryRoot::current_user);
      bool ok = s != nullptr;
      for (int i = 0; ok && i < kEach; ++i) {
        std::string key = "Shared\\w" + std::to_string(w);
        // Appended, not "n" + std::to_string(i): GCC 12 at -O3 warns -Wrestrict on that.
        std::string name = "n";
        name += std::to_string(i);
        ok = s->create_key(key) && s->set_value(key, RegistryValue::dword(name, static_cast<uint32_t>(i)));
      }
      _exit(ok ? 0 : 1);
    }
    pids.push_back(pid);
  }
  for (pid_t pid : pids) {
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  auto s = user();
  for (int w = 0; w < kWriters; ++w) EXPECT_EQ(s->values("Shared\\w" + std::to_string(w))->size(), size_t{kEach});
}

// ---- lyrareg ----

struct ToolRun {
  int status;
  std::string out;
};

ToolRun lyrareg(const std::vector<std::string>& args, const std::string& dir) {
  std::vector<std::string> argv{LYRATEST_LYRAREG};
  argv.insert(argv.end(), args.begin(), args.end());
  auto child = lyralink::platform::ChildProcess::spawn(argv, {{"LYRALINK_REGISTRY_DIR", dir}});
  if (!child) return {-1, ""};
  auto deadline = lyralink::platform::deadline_after_ms(10000);
  std::string out = child->read_all(deadline);
  return {child->wait(deadline).value_or(-1), out};
}

TEST_F(SettingsStoreTest, LyraregGetSetListDelete) {
  EXPECT_EQ(lyrareg({"set", "HKCU\\Software\\LYRALINK\\Special IPs", "#00", "--sz", "10.0.0.25"}, dir_).status, 0);
  EXPECT_EQ(lyrareg({"set", "HKEY_CURRENT_USER\\Software\\LYRALINK\\Special IPs", "#01", "--sz", "a b"}, dir_).status, 0);
  EXPECT_EQ(lyrareg({"set", "HKCU\\Software\\LYRALINK", "", "--dword", "4294967295"}, dir_).status, 0);
  EXPECT_EQ(lyrareg({"set", "HKLM\\SOFTWARE\\X", "Count", "--dword", "0x10"}, dir_).status, 0);

  ToolRun get = lyrareg({"get", "hkcu\\software\\lyralink\\special ips", "#00"}, dir_);
  EXPECT_EQ(get.status, 0);
  EXPECT_EQ(get.out, "10.0.0.25\n");
  EXPECT_EQ(lyrareg({"get", "HKLM\\Software\\x", "count"}, dir_).out, "16\n");
  EXPECT_EQ(lyrareg({"get", "HKCU\\Software\\LYRALINK", ""}, dir_).out, "4294967295\n");

  ToolRun list = lyrareg({"list", "HKCU\\Software\\LYRALINK"}, dir_);
  EXPECT_EQ(list.status, 0);
  EXPECT_EQ(list.out, "\tREG_DWORD\t4294967295\nHKCU\\Software\\LYRALINK\\Special IPs\n");
  EXPECT_EQ(lyrareg({"list", "HKCU\\Software\\LYRALINK\\Special IPs"}, dir_).out,
            "#00\tREG_SZ\t10.0.0.25\n#01\tREG_SZ\ta b\n");
  EXPECT_EQ(lyrareg({"list", "HKCU"}, dir_).out, "HKCU\\Software\n");

  EXPECT_EQ(lyrareg({"get", "HKCU\\Software\\LYRALINK\\Special IPs", "#05"}, dir_).status, 1);
  EXPECT_EQ(lyrareg({"get", "HKCU\\Nope", "x"}, dir_).status, 1);
  EXPECT_EQ(lyrareg({"list", "HKCU\\Nope"}, dir_).status, 1);
  EXPECT_EQ(lyrareg({"delete", "HKCU\\Software\\LYRALINK\\Special IPs", "#01"}, dir_).status, 0);
  EXPECT_EQ(lyrareg({"delete", "HKCU\\Software\\LYRALINK\\Special IPs", "#01"}, dir_).status, 1);
  EXPECT_EQ(lyrareg({"delete", "HKCU\\Software"}, dir_).status, 0);
  EXPECT_EQ(lyrareg({"list", "HKCU"}, dir_).out, "");
  EXPECT_EQ(lyrareg({"delete", "HKCU\\Software"}, dir_).status, 1);
}

TEST_F(SettingsStoreTest, LyraregUsageErrors) {
  for (const auto& args : std::vector<std::vector<std::string>>{
           {},
           {"get"},
           {"get", "HKCR\\Software", "x"},
           {"get", "HKCU\\A\\\\B", "x"},
           {"set", "HKCU\\A", "x", "--dword", "-1"},
           {"set", "HKCU\\A", "x", "--dword", "4294967296"},
           {"set", "HKCU\\A", "x", "--binary", "00"},
           {"frob", "HKCU"},
           {"delete", "HKCU"}}) {
    ToolRun r = lyrareg(args, dir_);
    EXPECT_EQ(r.status, 2) << (args.empty() ? "" : args[0]);
  }
  EXPECT_EQ(lyrareg({"--help"}, dir_).status, 0);
}

}  // namespace
