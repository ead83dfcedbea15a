// SPDX-License-Identifier: LGPL-2.1-or-later
// lyractl discover, --select, --ethernet and --head against lyrasim
// (analysers on pseudo-terminals, the stand-in bridge library and UDP on
// loopback): what it prints, in text and JSON, and its exit status.
#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <filesystem>
#include <sstream>

#include "platform/process.h"
#include "tests/discovery/discovery_support.h"

using namespace lyratest;
namespace plat = lyralink::platform;

namespace {

struct Outcome {
  int exit_status = -1;
  std::string out;
};

class LyractlDiscovery : public ::testing::Test {
 protected:
  void SetUp() override {
    registry_ = make_temp_dir("registry");
    port_ = std::to_string(free_udp_port());
    sim_ = Emulator::start({"--udp-port", port_, "--serial", "COM3=740,sn=7,bauds=38400/307200", "--serial",
                            "COM5=310,sn=8", "--udp", "127.0.0.2=740,sn=2", "--udp",
                            "127.0.0.3=740,sn=3,use=0,uses=1,head=42"});
    ASSERT_TRUE(sim_);
  }
  std::map<std::string, std::string> environment() const {
    return {{"LYRALINK_PORT_DIR", sim_->port_dir()},
            {"LYRALINK_UDP_PORT", port_},
            {"LYRALINK_HOST_ADDRESSES", "127.0.0.1/255.0.0.0"},
            {"LYRALINK_REGISTRY_DIR", registry_},
            {"LYRALINK_FTD2XX", standin_bridge_path()},
            {"LYRASIM_USB", "740,sn=12,com=4;310,sn=13,com=5,desc=MCA-310;740,sn=15"}};
  }
  Outcome run(std::vector<std::string> args, std::map<std::string, std::string> env = {}) {
    // Through sh, so that what lyractl writes to standard error is seen too.
    std::string line = "exec";
    for (const auto& a : args) line += " '" + a + "'";
    line += " 2>&1";
    std::map<std::string, std::string> all = environment();
    for (const auto& [k, v] : env) all[k] = v;
    std::vector<std::string> argv = {"/bin/sh", "-c", line};
    auto child = plat::ChildProcess::spawn(argv, all);
    Outcome r;
    if (!child) return r;
    child->close_stdin();
    r.out = child->read_all(plat::deadline_after_ms(30000));
    r.exit_status = child->wait(plat::deadline_after_ms(10000)).value_or(-1);
    return r;
  }
  std::string registry_, port_;
  std::unique_ptr<Emulator> sim_;
};

// Counts the opens of one file by any process from the moment it is made:
// the kernel queues an inotify event for each open as it happens, so once
// the opener has exited every one of them is there to be read. The closes
// are watched too: two identical events in a row would be merged into one.
class OpenCounter {
 public:
  explicit OpenCounter(const std::string& path) : fd_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
    if (fd_ >= 0) watching_ = ::inotify_add_watch(fd_, path.c_str(), IN_OPEN | IN_CLOSE) >= 0;
  }
  ~OpenCounter() {
    if (fd_ >= 0) ::close(fd_);
  }
  OpenCounter(const OpenCounter&) = delete;
  OpenCounter& operator=(const OpenCounter&) = delete;
  bool watching() const { return watching_; }
  int opens() {
    alignas(inotify_event) char buf[4096];
    for (ssize_t n; (n = ::read(fd_, buf, sizeof buf)) > 0;) {
      for (const char* p = buf; p < buf + n;) {
        const auto* e = reinterpret_cast<const inotify_event*>(p);
        if ((e->mask & IN_OPEN) != 0) ++opens_;
        p += sizeof(inotify_event) + e->len;
      }
    }
    return opens_;
  }

 private:
  int fd_;
  bool watching_ = false;
  int opens_ = 0;
};

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) out.push_back(l);
  return out;
}

TEST_F(LyractlDiscovery, ListsEveryAnalyserWithAlignedColumnsAndAsJson) {
  OpenCounter com3(sim_->port_dir() + "/COM3"), com5(sim_->port_dir() + "/COM5");
  ASSERT_TRUE(com3.watching() && com5.watching());
  Outcome r = run({LYRACTL_PATH, "discover"});
  EXPECT_EQ(r.exit_status, 0) << r.out;
  // Opened by the search and by nothing else: each open of a real line
  // raises and drops its modem lines, and with analysers found there is
  // nothing to explain.
  EXPECT_EQ(com3.opens(), 1);
  EXPECT_EQ(com5.opens(), 1);
  const auto lines = lines_of(r.out);
  ASSERT_GE(lines.size(), 8u) << r.out;
  EXPECT_EQ(lines[0].rfind("ANALYSER", 0), 0u) << r.out;
  const std::vector<std::string> starts = {"MCA-740#00002 on 127.0.0.2", "MCA-740#00003 on 127.0.0.3",
                                           "MCA-740#00012 on USB",       "MCA-310#00013 on USB",
                                           "MCA-740#00007 on COM3",      "MCA-310#00008 on COM5"};
  for (size_t i = 0; i < starts.size(); ++i) EXPECT_EQ(lines[1 + i].rfind(starts[i], 0), 0u) << lines[1 + i];
  // The columns of the list texts and of the fields line up.
  const size_t fw = lines[0].find("FIRMWARE");
  const size_t port = lines[0].find("PORT ID");
  for (size_t i = 1; i <= starts.size(); ++i) {
    EXPECT_EQ(lines[i].find("FW# "), fw) << lines[i];
    EXPECT_NE(lines[i].find_first_not_of(' ', port), std::string::npos);
    EXPECT_EQ(lines[i][port - 1], ' ') << lines[i];
  }
  EXPECT_NE(lines[2].find("(in use)"), std::string::npos);
  EXPECT_NE(lines[3].find("0x0101"), std::string::npos);
  EXPECT_NE(lines[4].find("(unsuitable)"), std::string::npos);
  EXPECT_NE(r.out.find("6 analysers found, 3 applicable."), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("MCA-740#00015"), std::string::npos);  // its bridge has no serial port number

  Outcome j = run({LYRACTL_PATH, "discover", "--json"});
  EXPECT_EQ(j.exit_status, 0);
  EXPECT_EQ(j.out.rfind("[{\"text\":\"MCA-740#00002 on 127.0.0.2\\u0009 FW# 13.04\",\"port\":\"\",\"ip\":\"127.0.0.2\","
                        "\"serial\":2,\"port_id\":0,\"applicable\":true},",
                        0),
            0u)
      << j.out;
  EXPECT_NE(j.out.find("{\"text\":\"MCA-740#00012 on USB\\u0009 FW# 13.04\",\"port\":\"USB\",\"ip\":\"\",\"serial\":12,"
                       "\"port_id\":257,\"applicable\":true}"),
            std::string::npos);
  EXPECT_NE(j.out.find("{\"text\":\"MCA-310#00008 on COM5\\u0009 FW# 03.10\\u0009(unsuitable)\",\"port\":\"COM5\","
                       "\"ip\":\"\",\"serial\":8,\"port_id\":5,\"applicable\":false}]"),
            std::string::npos)
      << j.out;
  // Every port was closed again.
  EXPECT_TRUE(port_free(*sim_, "COM3"));
  EXPECT_TRUE(port_free(*sim_, "COM5"));
}

TEST_F(LyractlDiscovery, OpensLinksBySearching) {
  struct Case {
    std::vector<std::string> args;
    int exit_status;
    std::string shown;
  };
  const Case cases[] = {
      {{"--select", "7", "state740"}, 0, "state740 (code 257) on COM3 at 307200 baud: status 0 (ok)"},
      {{"--select", "any", "--select-port", "0", "--json", "power"}, 0, "\"link\":\"Ethernet\",\"command\":\"power\""},
      {{"--ethernet", "2", "power"}, 0, "power (code 89) on Ethernet: status 0 (ok)"},
      {{"--ethernet", "3", "power"}, 69, "no free analyser with serial number 3"},  // in use
      {{"--head", "3", "eeprom"}, 0, "eeprom (code 264) on Ethernet: status 0 (ok)"},
      {{"--select", "99", "state"}, 69, "no analyser with serial number 99"},
      {{"--select", "0", "state"}, 64, "--select needs a serial number"},
      {{"--select-port", "3", "--port", "COM3", "state"}, 64, "--select-port goes with --select"},
      {{"discover", "--bogus"}, 64, "discover takes only --json"},
      {{"--port", "COM3", "discover"}, 64, "give no link"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = c.args;
    args.insert(args.begin(), LYRACTL_PATH);
    std::string line;
    for (const auto& a : c.args) line += a + " ";
    SCOPED_TRACE(line);
    Outcome r = run(args);
    EXPECT_EQ(r.exit_status, c.exit_status) << r.out;
    EXPECT_NE(r.out.find(c.shown), std::string::npos) << r.out;
  }
}

TEST_F(LyractlDiscovery, SaysWhyNothingWasFound) {
  const std::string empty = make_temp_dir("no-ports");
  Outcome r = run({LYRACTL_PATH, "discover"},
                  {{"LYRALINK_PORT_DIR", empty}, {"LYRALINK_HOST_ADDRESSES", ""}, {"LYRALINK_FTD2XX", "/nonexistent.so"}});
  EXPECT_EQ(r.exit_status, 0);
  EXPECT_EQ(r.out.rfind("No analyser found.\n", 0), 0u) << r.out;
  EXPECT_NE(r.out.find("searched 0 serial ports"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("no network interface is up"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("/nonexistent.so not found"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("special IP"), std::string::npos) << r.out;
  Outcome j = run({LYRACTL_PATH, "discover", "--json"},
                  {{"LYRALINK_PORT_DIR", empty}, {"LYRALINK_HOST_ADDRESSES", ""}, {"LYRALINK_FTD2XX", "/nonexistent.so"}});
  EXPECT_EQ(j.out.rfind("[]\n", 0), 0u) << j.out;
}

TEST_F(LyractlDiscovery, APortThatCannotBeOpenedGetsThePermissionHint) {
  // A serial port this user may not open: for root, the command runs as
  // the user nobody on a terminal only root may use. The build tree may lie
  // where nobody cannot enter (a checkout in root's home, mode 0700), so
  // nobody runs copies of lyractl and its library from a directory of the
  // test's own, open to all. The copy's run path still names the build
  // tree; LD_LIBRARY_PATH, searched first, names the copy's directory.
  namespace fs = std::filesystem;
  const fs::path own = make_temp_dir("nobody");
  const fs::path ports = own / "ports";
  fs::create_directory(ports);
  const fs::path terminal = fs::read_symlink(sim_->port_dir() + "/COM5");
  fs::create_symlink(terminal, ports / "COM5");
  std::vector<std::string> args = {LYRACTL_PATH, "discover"};
  // Nothing else to find: the notes explain an empty list.
  std::map<std::string, std::string> env = {
      {"LYRALINK_PORT_DIR", ports.string()}, {"LYRALINK_HOST_ADDRESSES", ""}, {"LYRALINK_FTD2XX", "/nonexistent.so"}};
  if (::geteuid() == 0) {
    const fs::path registry = own / "registry";
    fs::create_directory(registry);
    fs::copy_file(LYRACTL_PATH, own / "lyractl");
    fs::copy_file(LYRALINK_LIBRARY_PATH, own / LYRALINK_LIBRARY_SONAME);
    const auto open_to_all = fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                             fs::perms::others_read | fs::perms::others_exec;
    // The test's own temporary area and this directory in it; above them
    // only the system's temporary directory.
    for (const fs::path& d : {own.parent_path(), own, ports}) fs::permissions(d, open_to_all);
    fs::permissions(registry, fs::perms::all);
    fs::permissions(terminal, fs::perms::owner_read | fs::perms::owner_write);
    args = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", (own / "lyractl").string(),
            "discover"};
    env["LD_LIBRARY_PATH"] = own.string();
    env["LYRALINK_REGISTRY_DIR"] = registry.string();
  } else {
    fs::permissions(terminal, fs::perms::none);
  }
  Outcome r = run(args, env);
  EXPECT_EQ(r.exit_status, 0) << r.out;
  EXPECT_NE(r.out.find("COM5 (" + ports.string() + "/COM5): permission denied"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("dialout"), std::string::npos) << r.out;
}

}  // namespace
