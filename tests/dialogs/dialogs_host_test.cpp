// SPDX-License-Identifier: LGPL-2.1-or-later
// Hosts without Qt: the module's start on machines where no window can be
// shown (never an abort, never a hang), and COMM_INIT_SELECT in a plain C
// host that links only liblyralink.so, with no display or no module.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "platform/clock.h"
#include "platform/process.h"
#include "tests/support/emulator.h"

namespace {

namespace fs = std::filesystem;
using lyralink::platform::ChildProcess;
using Env = std::map<std::string, std::string>;

struct Outcome {
  std::string out;
  std::optional<int> status;
};

// No display of any kind, unless the test names one.
Env no_display(Env extra = {}) {
  Env env{{"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}, {"QT_QPA_PLATFORM", ""}, {"LYRALINK_DIALOGS", ""}};
  for (auto& [k, v] : extra) env[k] = v;
  return env;
}

Outcome run(const std::vector<std::string>& argv, const Env& env, int seconds = 30) {
  auto child = ChildProcess::spawn(argv, env);
  if (!child) return {};
  auto deadline = lyralink::platform::deadline_after_ms(static_cast<uint32_t>(seconds) * 1000);
  Outcome r;
  r.out = child->read_all(deadline);
  r.status = child->wait(deadline);
  return r;
}

Outcome start_module(const Env& env) { return run({LYRATEST_DEMO_HOST, LYRATEST_DIALOGS_MODULE, "start"}, env); }

// A Unix socket that accepts connections, as a compositor's does.
class Listener {
 public:
  explicit Listener(const std::string& path) {
    fd_ = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::strncpy(a.sun_path, path.c_str(), sizeof a.sun_path - 1);
    ok_ = ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 && ::listen(fd_, 4) == 0;
  }
  ~Listener() { ::close(fd_); }
  bool ok() const { return ok_; }

 private:
  int fd_ = -1;
  bool ok_ = false;
};

TEST(ModuleStart, NoDisplayAnywhereMeansNoWindows) {
  auto r = start_module(no_display());
  EXPECT_EQ(r.out, "start 0\n");
  EXPECT_EQ(r.status, 0);
}

TEST(ModuleStart, AnXServerThatDoesNotAnswerIsNoDisplay) {
  auto r = start_module(no_display({{"DISPLAY", ":987"}}));
  EXPECT_EQ(r.out, "start 0\n");
  EXPECT_EQ(r.status, 0);
}

TEST(ModuleStart, UnknownOrUnloadablePlatformsArePassedOver) {
  EXPECT_EQ(start_module(no_display({{"QT_QPA_PLATFORM", "bogus"}})).out, "start 0\n");
  EXPECT_EQ(start_module(no_display({{"QT_QPA_PLATFORM", "bogus;offscreen"}})).out, "start 1\n");
  EXPECT_EQ(start_module(no_display({{"QT_QPA_PLATFORM", "offscreen"}})).out, "start 1\n");
}

TEST(ModuleStart, ACompositorWithoutTheWaylandPluginIsNoDisplay) {
  std::string dir = lyratest::make_temp_dir("runtime");
  Listener compositor(dir + "/wayland-7");
  ASSERT_TRUE(compositor.ok());
  auto r = start_module(no_display({{"WAYLAND_DISPLAY", "wayland-7"}, {"XDG_RUNTIME_DIR", dir}}));
  EXPECT_EQ(r.out, "start 0\n");
  EXPECT_EQ(r.status, 0);
}

TEST(ModuleStart, QtFailingAfterTheChecksStillEndsNothing) {
  // A plugin file that loads but is none, and a compositor that accepts:
  // the checks pass, Qt cannot start its platform and reports it fatally.
  std::string dir = lyratest::make_temp_dir("runtime");
  std::string plugins = lyratest::make_temp_dir("plugins");
  fs::copy_file(LYRATEST_FAKE_PLUGIN, plugins + "/libqwayland-generic.so");
  Listener compositor(dir + "/wayland-7");
  ASSERT_TRUE(compositor.ok());
  auto r = start_module(no_display({{"QT_QPA_PLATFORM", "wayland"},
                                    {"QT_QPA_PLATFORM_PLUGIN_PATH", plugins},
                                    {"WAYLAND_DISPLAY", "wayland-7"},
                                    {"XDG_RUNTIME_DIR", dir}}));
  EXPECT_EQ(r.out, "start 0\n");
  EXPECT_EQ(r.status, 0);
}

class CHost : public ::testing::Test {
 protected:
  void SetUp() override {
    sim_ = lyratest::Emulator::start({"--serial", "COM3=740,sn=7"});
    ASSERT_TRUE(sim_);
    env_ = {{"LYRALINK_PORT_DIR", sim_->port_dir()},
            {"LYRALINK_REGISTRY_DIR", lyratest::make_temp_dir("registry")},
            {"LYRALINK_FTD2XX", "/nonexistent/libftd2xx.so"},
            {"LYRALINK_HOST_ADDRESSES", "127.0.0.1/255.0.0.0"}};
  }
  Outcome select_host(const std::vector<std::string>& args, const Env& extra) {
    Env env = no_display(extra);
    env.insert(env_.begin(), env_.end());
    std::vector<std::string> argv{LYRATEST_SELECT_HOST};
    argv.insert(argv.end(), args.begin(), args.end());
    return run(argv, env);
  }
  std::unique_ptr<lyratest::Emulator> sim_;
  Env env_;
};

TEST_F(CHost, WithoutADisplayTheDialogCountsAsCancelled) {
  auto r = select_host({}, {});
  EXPECT_EQ(r.out, "result 0 port -1 serial -1\n");
  EXPECT_EQ(r.status, 0);
  // The wanted serial number still selects, dialogs flag and all.
  auto chosen = select_host({"--serial", "7"}, {});
  EXPECT_EQ(chosen.out, "result 1 port 3 serial 7\n");
}

TEST_F(CHost, WithoutTheModuleTheLibraryDiscoversAndSelects) {
  Env missing{{"DISPLAY", ":987"}, {"LYRALINK_DIALOGS", "/nonexistent/liblyralink-dialogs.so"}};
  EXPECT_EQ(select_host({"--serial", "7"}, missing).out, "result 1 port 3 serial 7\n");
  EXPECT_EQ(select_host({}, missing).out, "result 0 port -1 serial -1\n");
  EXPECT_EQ(select_host({"--splash"}, missing).out, "result 0 port -1 serial -1\n");
}

TEST_F(CHost, ADisplayThatCannotBeReachedIsNoDisplay) {
  auto r = select_host({}, {{"DISPLAY", ":987"}});
  EXPECT_EQ(r.out, "result 0 port -1 serial -1\n");
  EXPECT_EQ(r.status, 0);
}

TEST(Linking, TheLibraryNeverLinksQtOnlyItsModuleDoes) {
  auto library = run({"readelf", "-d", LYRATEST_LYRALINK_LIBRARY}, {});
  ASSERT_NE(library.out.find("(NEEDED)"), std::string::npos);
  EXPECT_EQ(library.out.find("Qt"), std::string::npos) << library.out;
  EXPECT_EQ(library.out.find("xcb"), std::string::npos) << library.out;
  auto module = run({"readelf", "-d", LYRATEST_DIALOGS_MODULE}, {});
  EXPECT_NE(module.out.find("libQt6Widgets"), std::string::npos) << module.out;
  auto host = run({"readelf", "-d", LYRATEST_SELECT_HOST}, {});
  EXPECT_EQ(host.out.find("Qt"), std::string::npos) << host.out;
  // The module exports its entry and nothing else.
  auto symbols = run({"nm", "-D", "--defined-only", LYRATEST_DIALOGS_MODULE}, {});
  EXPECT_NE(symbols.out.find(" lyralink_dialogs_api\n"), std::string::npos) << symbols.out;
  EXPECT_EQ(std::count(symbols.out.begin(), symbols.out.end(), '\n'), 1) << symbols.out;
}

}  // namespace
