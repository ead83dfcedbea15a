// SPDX-License-Identifier: LGPL-2.1-or-later
// The setup windows offscreen: the background's painting, the path
// dialog's tree and check, the progress window, and install and remover
// driven through their windows with an operator that answers the boxes.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/environment.h"
#include "platform/file_system.h"
#include "setup/common/installer.h"
#include "setup/common/remover.h"
#include "setup/common/windows/background_window.h"
#include "setup/common/windows/path_dialog.h"
#include "setup/common/windows/progress_window.h"
#include "setup/common/windows/qt_ui.h"
#include "tests/support/emulator.h"

namespace {

namespace fs = std::filesystem;
using namespace lyralink::setup;
using lyralink::platform::Drive;
using lyralink::platform::DriveType;

// Screenshots for the guide when LYRALINK_SHOT_DIR names a directory.
void save_shot(QWidget& w, const char* name) {
  auto dir = lyralink::platform::environment_value("LYRALINK_SHOT_DIR");
  if (dir) w.grab().save(QString::fromStdString(*dir + "/" + name));
}

TEST(BackgroundWindow, GradientTitleAndTransparentLogo) {
  QImage logo = make_logo();
  ASSERT_EQ(logo.size(), QSize(120, 36));
  QImage image(800, 600, QImage::Format_RGB32);
  {
    QPainter p(&image);
    paint_background(p, 800, 600, "Demo Setup", logo);
  }
  for (int y : {0, 150, 300, 599}) {
    QColor c = image.pixelColor(790, y - (y == 599 ? 50 : 0));  // right edge, clear of the title and the logo
    int row = y - (y == 599 ? 50 : 0);
    EXPECT_EQ(c, QColor(0, 64 + row * 192 / 600, 0)) << row;
  }
  // The shadowed title: white letters at (25, 25) and black below right of them.
  int white = 0, black = 0;
  for (int y = 25; y < 140; ++y) {
    for (int x = 25; x < 700; ++x) {
      QColor c = image.pixelColor(x, y);
      if (c == Qt::white) ++white;
      if (c == Qt::black) ++black;
    }
  }
  EXPECT_GT(white, 500);
  EXPECT_GT(black, 100);
  // The logo in the lower right: its white shows the gradient, its bars stay.
  const int lx = 800 - 120 - 20, ly = 600 - 36 - 40;
  int kept = 0, through = 0;
  for (int y = 0; y < 36; ++y) {
    for (int x = 0; x < 120; ++x) {
      QColor on_screen = image.pixelColor(lx + x, ly + y);
      if (logo.pixelColor(x, y) == Qt::white) {
        through += on_screen == QColor(0, 64 + (ly + y) * 192 / 600, 0);
      } else {
        kept += on_screen == logo.pixelColor(x, y);
      }
    }
  }
  EXPECT_GT(through, 120 * 36 / 2);
  EXPECT_GT(kept, 100);
}

TEST(BackgroundWindow, TitleFontShrinksTwoByOneToFitTheWidth) {
  TitleFontSize short_size = title_font_size_for("Demo Setup", 1024);
  EXPECT_EQ(short_size.height, 100);
  EXPECT_EQ(short_size.width, 50);
  QString long_text = QString(49, 'W');
  TitleFontSize fitted = title_font_size_for(long_text, 1024);
  EXPECT_LT(fitted.height, 100);
  EXPECT_EQ(100 - fitted.height, 2 * (50 - fitted.width));
  EXPECT_LE(QFontMetrics(title_font(fitted)).horizontalAdvance(long_text), 1024 - 50);
  TitleFontSize one_bigger{fitted.height + 2, fitted.width + 1};
  EXPECT_GT(QFontMetrics(title_font(one_bigger)).horizontalAdvance(long_text), 1024 - 50);
}

TEST(BackgroundWindow, CoversTheScreenWithoutAFrame) {
  BackgroundWindow w("Install", "Demo App Setup");
  w.show_on_screen();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
  EXPECT_EQ(w.windowTitle(), "Install");
  EXPECT_TRUE(w.windowFlags() & Qt::FramelessWindowHint);
  EXPECT_EQ(w.geometry(), w.screen()->geometry());
  QImage shot = w.grab().toImage();
  EXPECT_EQ(shot.pixelColor(shot.width() - 5, 0), QColor(0, 64, 0));
  save_shot(w, "setup-background.png");
}

class PathDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::canonical(lyratest::make_temp_dir("pathdialog")).string();
    for (const char* d : {"/opt/Zeta", "/opt/alpha/deep", "/opt/beta", "/stick/media"}) fs::create_directories(dir_ + d);
    drives_ = {{"/", "ext4", "/dev/vda", DriveType::fixed}, {dir_ + "/stick", "vfat", "/dev/sdb1", DriveType::removable}};
  }
  PathDialog::Check check() {
    return [this](const std::string& p) { return check_application_path(p, drives_, dir_ + "/opt", "/etc"); };
  }
  QTreeWidgetItem* child(QTreeWidgetItem* item, const QString& name) {
    for (int i = 0; i < item->childCount(); ++i) {
      if (item->child(i)->text(0) == name) return item->child(i);
    }
    return nullptr;
  }
  std::string dir_;
  std::vector<Drive> drives_;
};

TEST_F(PathDialogTest, TreeOpensOnTheDefaultPathLazily) {
  std::string default_path = dir_ + "/opt/alpha/New App";
  PathDialog dialog(default_path, drives_, check(), "Demo");
  dialog.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
  EXPECT_EQ(dialog.windowTitle(), "Application path");
  EXPECT_EQ(dialog.edit()->text().toStdString(), default_path);  // opening selects without overwriting it
  EXPECT_EQ(dialog.findChild<QPushButton*>("ok")->text(), "OK");
  EXPECT_EQ(dialog.findChild<QPushButton*>("exit")->text(), "Exit setup");
  EXPECT_TRUE(dialog.ok_button()->isDefault());
  QTreeWidget* tree = dialog.tree();
  ASSERT_EQ(tree->topLevelItemCount(), 2);
  EXPECT_EQ(tree->topLevelItem(0)->text(0), "/");
  QTreeWidgetItem* stick = tree->topLevelItem(1);
  EXPECT_EQ(PathDialog::node_path(stick).toStdString(), dir_ + "/stick");
  // A removable drive is never read until opened: one placeholder.
  ASSERT_EQ(stick->childCount(), 1);
  EXPECT_TRUE(PathDialog::is_placeholder(stick->child(0)));
  // The existing part of the default path is open, its deepest level selected.
  QTreeWidgetItem* current = tree->currentItem();
  ASSERT_NE(current, nullptr);
  EXPECT_EQ(PathDialog::node_path(current).toStdString(), dir_ + "/opt/alpha");
  EXPECT_TRUE(current->isExpanded());
  QTreeWidgetItem* opt = current->parent();
  ASSERT_NE(opt, nullptr);
  ASSERT_EQ(opt->childCount(), 3);
  EXPECT_EQ(opt->child(0)->text(0), "alpha");  // sorted without regard to case
  EXPECT_EQ(opt->child(1)->text(0), "beta");
  EXPECT_EQ(opt->child(2)->text(0), "Zeta");
  EXPECT_EQ(child(opt, "beta")->childCount(), 0);  // no subdirectory: nothing to open
  QTreeWidgetItem* deep = child(current, "deep");
  ASSERT_NE(deep, nullptr);
  EXPECT_EQ(deep->childCount(), 0);

  // Opening reads the children; closing drops them and restores the placeholder.
  stick->setExpanded(true);
  ASSERT_EQ(stick->childCount(), 1);
  EXPECT_EQ(stick->child(0)->text(0), "media");
  EXPECT_FALSE(PathDialog::is_placeholder(stick->child(0)));
  fs::create_directories(dir_ + "/stick/later");
  stick->setExpanded(false);
  ASSERT_EQ(stick->childCount(), 1);
  EXPECT_TRUE(PathDialog::is_placeholder(stick->child(0)));
  stick->setExpanded(true);
  EXPECT_EQ(stick->childCount(), 2);

  // The user's click on a node puts its path into the edit field.
  QTreeWidgetItem* beta = child(opt, "beta");
  tree->scrollToItem(beta);
  QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualItemRect(beta).center());
  EXPECT_EQ(dialog.edit()->text().toStdString(), dir_ + "/opt/beta");
  save_shot(dialog, "setup-path-dialog-offscreen.png");
}

TEST_F(PathDialogTest, OkChecksThePathAndStaysOpenOnAFault) {
  std::vector<std::string> messages;
  PathDialog dialog(dir_ + "/opt/App", drives_, check(), "Demo", nullptr,
                    [&](QWidget*, const QString& text) { messages.push_back(text.toStdString()); });
  dialog.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
  auto press_ok_with = [&](const std::string& text) {
    dialog.edit()->setText(QString::fromStdString(text));
    QTest::mouseClick(dialog.ok_button(), Qt::LeftButton);
  };
  press_ok_with("opt/App");
  press_ok_with(dir_ + "/a?b");
  press_ok_with(dir_ + "/stick/App");
  ASSERT_EQ(messages.size(), 3u);
  EXPECT_EQ(messages[0], "This is no valid path!\n\nPlease correct it.");
  EXPECT_EQ(messages[1], "This is no valid path!\n\nPlease correct it.");
  EXPECT_EQ(messages[2], "This is a removable drive!\n\nPlease change it.");
  EXPECT_TRUE(dialog.isVisible());
  // Enter in the edit field presses the default button.
  dialog.edit()->setText(QString::fromStdString(dir_ + "/opt/App/"));
  dialog.edit()->setFocus();
  QTest::keyClick(dialog.edit(), Qt::Key_Return);
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(dialog.chosen_path(), dir_ + "/opt/App");
  EXPECT_EQ(messages.size(), 3u);

  PathDialog leaving(dir_ + "/opt/App", drives_, check(), "Demo");
  leaving.show();
  QTest::mouseClick(leaving.exit_button(), Qt::LeftButton);
  EXPECT_EQ(leaving.result(), QDialog::Rejected);
}

TEST(ProgressWindow, StatusLineKeepsTheEndsOfLongPaths) {
  ProgressWindow w("Demo App");
  w.show_centred();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
  EXPECT_EQ(w.windowTitle(), "Demo App");
  std::string long_path = "Copying /home/someone/.local/opt/Demo App/" + std::string(120, 'd') + "/libdemo.so";
  w.set_status(QString::fromStdString(long_path));
  EXPECT_EQ(w.status().toStdString(), long_path);
  QString shown = w.status_label()->text();
  EXPECT_TRUE(shown.startsWith("Copying /home"));
  EXPECT_TRUE(shown.endsWith("libdemo.so"));
  EXPECT_LE(QFontMetrics(w.status_label()->font()).horizontalAdvance(shown), w.status_label()->width());
  w.set_status("Creating shortcuts.");
  EXPECT_EQ(w.status_label()->text(), "Creating shortcuts.");
  QRect screen = w.screen()->geometry();
  EXPECT_LE(std::abs(w.geometry().center().x() - screen.center().x()), 2);
  save_shot(w, "setup-progress-offscreen.png");
}

// Answers the modal windows as they come: the path dialog with OK, each
// message box with the next answer (Yes when none is left).
class Operator {
 public:
  explicit Operator(std::vector<QMessageBox::StandardButton> answers = {}) : answers_(std::move(answers)) {
    QObject::connect(&timer_, &QTimer::timeout, [this] { step(); });
    timer_.start(20);
  }
  struct Seen {
    std::string caption, text;
    QMessageBox::Icon icon;
  };
  std::vector<Seen> boxes;
  std::vector<std::string> statuses;
  bool saw_path_dialog = false;
  bool saw_background = false;

 private:
  void step() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (auto* p = qobject_cast<QDialog*>(w); p && p->objectName() == "progress" && p->isVisible()) {
        std::string s = static_cast<ProgressWindow*>(p)->status().toStdString();
        if (!s.empty() && (statuses.empty() || statuses.back() != s)) statuses.push_back(s);
      }
      if (w->objectName() == "background" && w->isVisible()) saw_background = true;
    }
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr) return;
    if (auto* box = qobject_cast<QMessageBox*>(modal)) {
      boxes.push_back({box->windowTitle().toStdString(), box->text().toStdString(), box->icon()});
      QMessageBox::StandardButton answer = QMessageBox::Yes;
      if (!answers_.empty()) {
        answer = answers_.front();
        answers_.erase(answers_.begin());
      }
      QAbstractButton* button = box->button(answer);
      if (button == nullptr) button = box->button(QMessageBox::Ok);
      if (button != nullptr) button->click();
    } else if (modal->objectName() == "path_dialog") {
      saw_path_dialog = true;
      if (auto* ok = modal->findChild<QPushButton*>("ok")) ok->click();
    }
  }
  std::vector<QMessageBox::StandardButton> answers_;
  QTimer timer_;
};

class WindowedRun : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::canonical(lyratest::make_temp_dir("windowed")).string();
    ::setenv("LYRALINK_REGISTRY_DIR", (dir_ + "/reg").c_str(), 1);
    ::setenv("XDG_DATA_HOME", (dir_ + "/share").c_str(), 1);
    ::setenv("TMPDIR", dir_.c_str(), 1);
    fs::create_directories(dir_ + "/media");
    fs::create_directories(dir_ + "/opt");
    std::ofstream(dir_ + "/media/install.lst")
        << "[Setup]\nTitle=Windowed Demo\nDefaultDir=$ProgramFiles/Windowed Demo\nUninstall=WindowedDemo\nVersion=1.0\n"
           "[Files]\nFile1=data.txt,$AppPath,private\n[ShellLinks]\nGroup=Windowed Demo\nLink1=Remove,$Uninstall\n"
           "[ClosingWords]\nText=Done in $AppPath.\n";
    std::ofstream(dir_ + "/media/data.txt") << "data";
    fs::copy_file(LYRATEST_REMOVER, dir_ + "/media/remover");
    host_ = std::make_unique<SetupHost>();
    host_->machine()->create_key(kCurrentVersionKey);
    host_->machine()->set_value(kCurrentVersionKey,
                                lyralink::platform::RegistryValue::string("ProgramFilesDir", dir_ + "/opt"));
  }
  std::string app() const { return dir_ + "/opt/Windowed Demo"; }
  std::string dir_;
  std::unique_ptr<SetupHost> host_;
};

TEST_F(WindowedRun, InstallThroughItsWindowsThenRemoveOrKeep) {
  {
    QtUi ui("Install", 80);  // long enough for the operator to read each status line
    Installer installer(ui, *host_);
    ASSERT_TRUE(installer.start(dir_ + "/media", dir_ + "/media/install.lst"));
    ui.show_background(installer.display_text());
    Operator op;
    ASSERT_TRUE(installer.run());
    EXPECT_TRUE(op.saw_background);
    EXPECT_EQ(ui.background()->windowTitle(), "Install");
    EXPECT_EQ(ui.background()->text(), "Windowed Demo Setup");
    EXPECT_TRUE(op.saw_path_dialog);
    ASSERT_EQ(op.boxes.size(), 2u);
    EXPECT_EQ(op.boxes[0].caption, "Windowed Demo");
    EXPECT_EQ(op.boxes[0].text, "Windowed Demo Setup was completed successfully.");
    EXPECT_EQ(op.boxes[0].icon, QMessageBox::Information);
    EXPECT_EQ(op.boxes[1].text, "Done in " + app() + ".");
    EXPECT_NE(std::find(op.statuses.begin(), op.statuses.end(), "Copying " + app() + "/data.txt"), op.statuses.end());
    EXPECT_EQ(ui.progress(), nullptr);  // closed at the end
  }
  ASSERT_TRUE(fs::exists(app() + "/data.txt"));
  const std::string log = app() + "/uninst00.log";

  {
    // No to the question: everything stays, the log too.
    Remover remover(*host_);
    ASSERT_EQ(remover.start("\"" + log + "\""), Remover::Start::ready);
    EXPECT_EQ(remover.window_title(), "Uninstall Windowed Demo");
    QtUi ui("Uninstall", 10);
    ui.show_background(remover.window_title());
    Operator op({QMessageBox::No});
    EXPECT_FALSE(remover.run(ui, "", true));
    ASSERT_EQ(op.boxes.size(), 1u);
    EXPECT_EQ(op.boxes[0].text, "Do you want to remove this application?");
    EXPECT_EQ(op.boxes[0].icon, QMessageBox::Question);
    EXPECT_TRUE(fs::exists(log));
    EXPECT_TRUE(fs::exists(app() + "/data.txt"));
  }
  {
    Remover remover(*host_);
    ASSERT_EQ(remover.start(log), Remover::Start::ready);
    QtUi ui("Uninstall", 10);
    ui.show_background(remover.window_title());
    Operator op;
    EXPECT_TRUE(remover.run(ui, "", true));
    ASSERT_EQ(op.boxes.size(), 2u);
    EXPECT_EQ(op.boxes[1].text, "Software was removed.");
    EXPECT_FALSE(fs::exists(app()));
    EXPECT_FALSE(fs::exists(dir_ + "/share/applications/Windowed Demo"));
  }
}

TEST_F(WindowedRun, NoToTheReplaceQuestionChangesNothing) {
  host_->machine()->create_key(uninstall_key("WindowedDemo"));
  host_->machine()->set_value(uninstall_key("WindowedDemo"),
                              lyralink::platform::RegistryValue::string("DisplayName", "Windowed Demo"));
  host_->machine()->set_value(uninstall_key("WindowedDemo"), lyralink::platform::RegistryValue::string("Version", "1.1"));
  QtUi ui("Install", 10);
  Installer installer(ui, *host_);
  ASSERT_TRUE(installer.start(dir_ + "/media", dir_ + "/media/install.lst"));
  ui.show_background(installer.display_text());
  Operator op({QMessageBox::No});
  EXPECT_FALSE(installer.run());
  ASSERT_EQ(op.boxes.size(), 1u);
  EXPECT_EQ(op.boxes[0].text, "A more current version of this application\nwas found on this computer.\n\nReplace?");
  EXPECT_EQ(op.boxes[0].icon, QMessageBox::Question);
  EXPECT_FALSE(op.saw_path_dialog);
  EXPECT_FALSE(fs::exists(app()));
}

// One QApplication for the whole program, offscreen unless a display is chosen.
class QtEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    static int argc = 1;
    static char name[] = "setup_windows_test";
    static char* argv[] = {name, nullptr};
    app_ = std::make_unique<QApplication>(argc, argv);
  }
  void TearDown() override { app_.reset(); }

 private:
  std::unique_ptr<QApplication> app_;
};

const auto* const kQt = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

}  // namespace
