// SPDX-License-Identifier: LGPL-2.1-or-later
// lyractl --log and LYRALINK_LOG in a program over liblyralink.so: the
// lines on standard error or in a file, and a log that cannot be written
// (a missing directory, a full device, a closed or broken standard error)
// reported once and never changing what the command does.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/process.h"
#include "tests/support/emulator.h"
#include "tests/wirelog/wire_log_support.h"

using lyratest::Emulator;

namespace {

struct Outcome {
  int exit_status = -1;
  std::string out;
};

size_t count_of(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

class LyractlLog : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    sim_ = Emulator::start({"--serial", "COM3=740,sn=515"});
    ASSERT_TRUE(sim_);
  }
  static void TearDownTestSuite() { sim_.reset(); }
  void SetUp() override {
    ASSERT_TRUE(sim_);
    dir_ = lyratest::make_temp_dir("lyractl-log");
  }

  // Runs a shell command line with lyractl as $L; stdout and whatever the
  // line sends there are returned.
  Outcome shell(const std::string& line, std::map<std::string, std::string> env = {}) {
    env["LYRALINK_PORT_DIR"] = sim_->port_dir();
    env["L"] = LYRACTL_PATH;
    auto child = lyralink::platform::ChildProcess::spawn({"/bin/sh", "-c", line}, env);
    Outcome r;
    if (!child) return r;
    child->close_stdin();
    r.out = child->read_all(lyralink::platform::deadline_after_ms(20000));
    r.exit_status = child->wait(lyralink::platform::deadline_after_ms(20000)).value_or(-1);
    return r;
  }

  static std::unique_ptr<Emulator> sim_;
  std::string dir_;
};
std::unique_ptr<Emulator> LyractlLog::sim_;

TEST_F(LyractlLog, LinesGoToStandardErrorBesideTheAnswer) {
  Outcome r = shell("\"$L\" --port COM3 --log stderr state740 2>&1");
  EXPECT_EQ(r.exit_status, 0) << r.out;
  std::vector<wirelogtest::LogLine> lines;
  std::string rest;
  size_t start = 0;
  while (start < r.out.size()) {
    size_t end = r.out.find('\n', start);
    std::string line = r.out.substr(start, end - start);
    if (auto l = wirelogtest::parse_line(line)) {
      lines.push_back(*l);
    } else {
      rest += line + "\n";
    }
    start = end == std::string::npos ? r.out.size() : end + 1;
  }
  ASSERT_EQ(lines.size(), 2u) << r.out;
  EXPECT_EQ(lines[0].direction, "tx");
  EXPECT_EQ(lines[0].hex, "a55a0101000000000000b99b");
  EXPECT_EQ(lines[1].length, 136u);
  EXPECT_EQ(lines[1].where, "COM3");
  // The answer itself is printed as without the log.
  Outcome plain = shell("\"$L\" --port COM3 state740");
  EXPECT_EQ(plain.exit_status, 0);
  EXPECT_NE(rest.find("state740 (code 257) on COM3: status 0 (ok)"), std::string::npos) << rest;
  EXPECT_EQ(count_of(plain.out, "\n"), count_of(rest, "\n"));
}

TEST_F(LyractlLog, TheVariableAndTheOptionAppendToAFile) {
  const std::string file = dir_ + "/wire.log";
  Outcome a = shell("LYRALINK_LOG='" + file + "' \"$L\" --port COM3 user-data 0");
  Outcome b = shell("\"$L\" --port COM3 --log '" + file + "' write-extension abcdefghijklmnopq");
  EXPECT_EQ(a.exit_status, 0);
  EXPECT_EQ(b.exit_status, 0);
  auto lines = wirelogtest::read_log(file);
  // user-data: one exchange; write-extension: clear + three text frames.
  ASSERT_EQ(lines.size(), 2u + 8u);
  EXPECT_NE(lines[0].pid, lines[2].pid);  // two processes, one file
  EXPECT_EQ(lines[2].hex.substr(4, 4), "1f01");  // 287
  EXPECT_EQ(lines[4].hex.substr(4, 16), "2001616263646566");  // 288 "abcdef"
  for (const auto& l : lines) EXPECT_EQ(l.status, 0) << l.note;
}

TEST_F(LyractlLog, AnUnwritableLogIsReportedOnceAndChangesNothing) {
  Outcome plain = shell("\"$L\" --port COM3 write-extension abcdefghijklmnopq 2>&1");
  for (const std::string& where : {std::string("/nonexistent-lyralink-dir/wire.log"), std::string("/dev/full")}) {
    Outcome r = shell("\"$L\" --port COM3 --log " + where + " write-extension abcdefghijklmnopq 2>&1");
    EXPECT_EQ(r.exit_status, plain.exit_status) << where;
    EXPECT_EQ(count_of(r.out, "lyralink: cannot write the wire log (LYRALINK_LOG=" + where + ")"), 1u) << r.out;
    EXPECT_NE(r.out.find(where == "/dev/full" ? "No space left on device; the wire log stops here"
                                              : "No such file or directory; no wire log is written"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("write-extension (code 287) on COM3: status 0 (ok)"), std::string::npos) << r.out;
  }
  // A failing command keeps its own status with a failing log.
  ASSERT_TRUE(sim_->control("fault error=0xAAAD,code=94"));
  Outcome failing = shell("\"$L\" --port COM3 --retries 2 --log /dev/full user-data 2>&1");
  ASSERT_TRUE(sim_->control("clear-faults"));
  EXPECT_EQ(failing.exit_status, 6) << failing.out;
  EXPECT_EQ(count_of(failing.out, "cannot write the wire log"), 1u);
}

TEST_F(LyractlLog, AClosedOrBrokenStandardErrorNeverEndsTheProgram) {
  // Closed: every write fails with EBADF.
  Outcome closed = shell("\"$L\" --port COM3 --log stderr state740 2>&-; echo \"exit=$?\"");
  EXPECT_NE(closed.out.find("status 0 (ok)"), std::string::npos) << closed.out;
  EXPECT_NE(closed.out.find("exit=0"), std::string::npos) << closed.out;
  // A pipe whose reader has gone: EPIPE, and the SIGPIPE that would kill
  // the program is taken back.
  Outcome broken = shell(
      "exec 3>&1; { sleep 0.3; \"$L\" --port COM3 --log stderr state740 2>&1 >&3; echo \"exit=$?\" >&3; } | true");
  EXPECT_NE(broken.out.find("status 0 (ok)"), std::string::npos) << broken.out;
  EXPECT_NE(broken.out.find("exit=0"), std::string::npos) << broken.out;
}

TEST_F(LyractlLog, TheOptionNeedsADestination) {
  Outcome r = shell("\"$L\" --port COM3 state --log 2>&1; echo \"exit=$?\"");
  Outcome empty = shell("\"$L\" --log '' --port COM3 state 2>&1; echo \"exit=$?\"");
  EXPECT_NE(empty.out.find("--log needs a file name or stderr"), std::string::npos) << empty.out;
  EXPECT_NE(empty.out.find("exit=64"), std::string::npos);
  EXPECT_NE(r.out.find("exit=64"), std::string::npos) << r.out;
}

}  // namespace
