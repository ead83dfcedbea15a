// SPDX-License-Identifier: LGPL-2.1-or-later
// The setup directory the build makes for lyralink itself: installed by a
// normal user into ~/.local/opt/lyralink with its menu entries, working
// from there, and removed again without a trace in the home directory or
// the settings store.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/setup/setup_sandbox.h"

namespace {

using setuptest::exists;
using setuptest::read_text;

const std::string kSetupDir = LYRATEST_SETUP_DIR;

TEST(LyralinkSetupDirectory, InstallsForANormalUserAndGoesWithoutATrace) {
  setuptest::Sandbox box("lyralink", true);
  // A copy, which the normal user can read wherever the build tree is.
  box.put_directory_copy(kSetupDir);
  const auto store_before = box.store_dump();  // also makes the store's files, which stay
  const auto tree_before = box.tree();

  auto r = box.run({box.media() + "/install", "--unattended"});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string app = box.home() + "/.local/opt/lyralink";
  const std::string log = app + "/uninst00.log";
  for (const char* f : {"/bin/lyractl", "/bin/lyrareg", "/bin/lyrasim", "/bin/mplxd", "/lib/liblyralink.so.1",
                        "/include/lyralink.h", "/remover"}) {
    EXPECT_TRUE(exists(app + f)) << f;
  }
  EXPECT_EQ(box.reg_get("HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\lyralink", "UninstallString"),
            app + "/remover \"" + log + "\"");
  const std::string menu = box.menu() + "/lyralink";
  EXPECT_EQ(read_text(menu + "/Remove lyralink.desktop"),
            "[Desktop Entry]\nType=Application\nName=Remove lyralink\nComment=Remove lyralink\nExec=\"" + app +
                "/remover\" \"" + log + "\"\nPath=" + app + "\n");
  bool with_recorder = exists(kSetupDir + "/pulsecap");
  EXPECT_EQ(exists(menu + "/lyralink transient recorder.desktop"), with_recorder);
  EXPECT_EQ(exists(app + "/bin/pulsecap"), with_recorder);
  bool with_dialogs = exists(kSetupDir + "/liblyralink-dialogs.so");
  EXPECT_EQ(exists(app + "/lib/liblyralink-dialogs.so"), with_dialogs);
  EXPECT_TRUE(r.err.find("lyralink is in " + app + ".\n") != std::string::npos) << r.err;

  // The installed tool runs on the installed library, not the build's.
  auto ldd = box.run({"ldd", app + "/bin/lyractl"});
  EXPECT_NE(ldd.out.find("=> " + app + "/bin/../lib/liblyralink.so.1"), std::string::npos) << ldd.out;
  if (with_recorder) {
    auto recorder = box.run({"ldd", app + "/bin/pulsecap"});
    EXPECT_NE(recorder.out.find("=> " + app + "/bin/../lib/liblyralink.so.1"), std::string::npos) << recorder.out;
    EXPECT_EQ(recorder.out.find("not found"), std::string::npos) << recorder.out;
    EXPECT_NE(read_text(menu + "/lyralink transient recorder.desktop")
                  .find("Exec=\"" + app + "/bin/pulsecap\"\nPath=" + app + "\n"),
              std::string::npos);
  }
  auto names = box.run({app + "/bin/lyractl", "names"});
  EXPECT_EQ(names.status, 0) << names.err;
  EXPECT_FALSE(names.out.empty());

  // The removal as the menu entry starts it, unattended.
  auto removed = box.run({app + "/remover", "--unattended", log});
  ASSERT_EQ(removed.status, 0) << removed.err;
  EXPECT_EQ(box.tree(), tree_before);
  EXPECT_EQ(box.store_dump(), store_before);
}

TEST(LyralinkSetupDirectory, SetupProgramsNeedOnlySystemLibraries) {
  for (const char* program : {"/install", "/remover"}) {
    setuptest::Sandbox box("needed");
    auto r = box.run({"readelf", "-d", kSetupDir + program});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.find("liblyralink"), std::string::npos) << program;
    EXPECT_EQ(r.out.find("RUNPATH"), std::string::npos) << program;
    EXPECT_EQ(r.out.find("RPATH"), std::string::npos) << program;
  }
}

}  // namespace
