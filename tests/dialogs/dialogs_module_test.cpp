// SPDX-License-Identifier: LGPL-2.1-or-later
// The module as liblyralink.so uses it, in a host without Qt of its own:
// loaded through the library's loader, it starts its own GUI thread once;
// calls from the host's threads block until the window is done. The
// windows are driven from another thread by posting work to the module's
// GUI thread, as a user's keys and clicks would reach them.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <atomic>
#include <chrono>
#include <clocale>
#include <cstdlib>
#include <functional>
#include <thread>

#include "tests/dialogs/lsan_suppressions.h"
#include "lyralink/dialogs/info_windows.h"
#include "lyralink/discovery/windows.h"

namespace {

using lyralink::discovery::library_windows;
using lyralink::discovery::SelectionLine;
using Clock = std::chrono::steady_clock;

// Before the first window: the module is found by the loader, reaches the
// offscreen platform, and starts in an environment whose locale differs
// from the host's.
class ModuleEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    ::setenv("LYRALINK_DIALOGS", LYRATEST_DIALOGS_MODULE, 1);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ::setenv("LC_ALL", "C.UTF-8", 1);
    std::setlocale(LC_ALL, "C");
  }
};
const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new ModuleEnvironment);

// Runs `work` on the module's GUI thread and waits for it.
void on_gui(const std::function<void()>& work) {
  QMetaObject::invokeMethod(QCoreApplication::instance(), work, Qt::BlockingQueuedConnection);
}

// Waits (up to 10 s) for a visible modal window that `accept` takes and acts
// on it on the GUI thread; false when none came.
bool when_modal(const std::function<bool(QWidget*)>& act) {
  auto deadline = Clock::now() + std::chrono::seconds(10);
  while (Clock::now() < deadline) {
    if (QCoreApplication::instance() != nullptr) {
      bool done = false;
      on_gui([&] {
        QWidget* w = QApplication::activeModalWidget();
        if (w != nullptr && w->isVisible()) done = act(w);
      });
      if (done) return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

template <class T>
T* child(QWidget* parent, const char* id) {
  return parent->findChild<T*>(QString::fromLatin1(id));
}

const std::vector<SelectionLine> kLines{{"MCA-740#00012 on USB\t FW# 12.00", true},
                                        {"MCA-740#00007 on COM3\t FW# 11.20", true},
                                        {"MCA-310#00051 on COM1\t FW# 02.10\t(unsuitable)", false}};

TEST(Module, SelectionRunsOnItsOwnGuiThreadAndBlocksTheCaller) {
  const auto caller = std::this_thread::get_id();
  std::atomic<bool> other_thread{false};
  std::atomic<bool> no_parent{false};
  std::thread driver([&] {
    EXPECT_TRUE(when_modal([&](QWidget* w) {
      other_thread = std::this_thread::get_id() != caller;
      no_parent = w->parentWidget() == nullptr;  // the owner below is no widget
      auto* list = child<QListWidget>(w, "1003");
      QTest::keyClick(list, Qt::Key_Down);  // COM3 sorts first: down to the USB line
      QTest::keyClick(w, Qt::Key_Return);
      return true;
    }));
  });
  std::string special_ip = "10.0.0.25";
  int not_a_widget = 0;
  int32_t result = library_windows().run_selection_dialog(&not_a_widget, kLines, special_ip);
  driver.join();
  EXPECT_EQ(result, 0);
  EXPECT_EQ(special_ip, "10.0.0.25");
  EXPECT_TRUE(other_thread);
  EXPECT_TRUE(no_parent);
  // Qt started without changing the host's locale.
  EXPECT_STREQ(std::setlocale(LC_ALL, nullptr), "C");
}

TEST(Module, RedetectHandsBackTheTypedSpecialIp) {
  std::thread driver([&] {
    EXPECT_TRUE(when_modal([&](QWidget* w) {
      QTest::mouseClick(child<QCheckBox>(w, "1008"), Qt::LeftButton);
      QTest::keyClicks(child<QWidget>(w, "1007"), "10.0.0.25");
      QTest::mouseClick(child<QPushButton>(w, "3"), Qt::LeftButton);
      return true;
    }));
  });
  std::string special_ip;
  EXPECT_EQ(library_windows().run_selection_dialog(nullptr, kLines, special_ip), -3);
  driver.join();
  EXPECT_EQ(special_ip, "10.0.0.25");
}

TEST(Module, HeadSelectionHandsBackTheAddress) {
  std::thread driver([&] {
    EXPECT_TRUE(when_modal([&](QWidget* w) {
      EXPECT_EQ(w->windowTitle(), "Detected measuring heads");
      QTest::keyClick(w, Qt::Key_Return);
      return true;
    }));
  });
  std::string address = "untouched";
  EXPECT_EQ(library_windows().run_head_selection_dialog(nullptr, {"Trebla#00042 on 10.0.0.5 (in use)"}, address), 1);
  driver.join();
  EXPECT_EQ(address, "10.0.0.5");
  std::thread cancel([&] {
    EXPECT_TRUE(when_modal([&](QWidget* w) {
      QTest::keyClick(w, Qt::Key_Escape);
      return true;
    }));
  });
  std::string kept = "kept";
  EXPECT_EQ(library_windows().run_head_selection_dialog(nullptr, {"MCA-740#00001 on 10.0.0.7"}, kept), 2);
  cancel.join();
  EXPECT_EQ(kept, "kept");
}

TEST(Module, MessageBoxIsAnInformationWithOk) {
  std::thread driver([&] {
    EXPECT_TRUE(when_modal([&](QWidget* w) {
      auto* box = qobject_cast<QMessageBox*>(w);
      if (box == nullptr) return false;
      EXPECT_EQ(box->text(), "No Lyra's detected.");
      EXPECT_EQ(box->windowTitle(), "MCA Communication");
      EXPECT_EQ(box->icon(), QMessageBox::Information);
      EXPECT_EQ(box->standardButtons(), QMessageBox::Ok);
      QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
      return true;
    }));
  });
  library_windows().message_box(nullptr, "No Lyra's detected.", "MCA Communication");
  driver.join();
}

// The module's top-level window with a template id, if any.
QWidget* window_with_id(const char* id) {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (w->objectName() == QLatin1String(id)) return w;
  return nullptr;
}

// The visible wait windows and their messages.
std::vector<std::string> wait_messages() {
  std::vector<std::string> out;
  on_gui([&] {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      auto* label = w->findChild<QLabel*>(QStringLiteral("1005"));
      if (label != nullptr && w->isVisible()) out.push_back(label->text().toStdString());
    }
  });
  return out;
}

TEST(Module, WaitWindowIsUpWhenShowReturnsAndASecondReplacesTheFirst) {
  library_windows().show_wait_window(nullptr, "Detecting MCA's ...");
  EXPECT_EQ(wait_messages(), std::vector<std::string>{"Detecting MCA's ..."});
  library_windows().show_wait_window(nullptr, "The baudrate is being adjusted.");
  EXPECT_EQ(wait_messages(), std::vector<std::string>{"The baudrate is being adjusted."});
  library_windows().close_wait_window();
  EXPECT_TRUE(wait_messages().empty());
  library_windows().close_wait_window();  // twice is harmless
}

TEST(Module, SplashDrawsItsThreePicturesBeforeItReturnsAndStaysUp) {
  auto start = Clock::now();
  library_windows().show_splash_window();
  auto took = Clock::now() - start;
  EXPECT_GE(took, std::chrono::milliseconds(3000));
  bool shown = false;
  bool last_banner = false;
  on_gui([&] {
    QWidget* splash = window_with_id("1007");
    if (splash == nullptr) return;
    shown = splash->isVisible();
    // Inside the thin border, the corner shows the last banner.
    QImage on_screen = splash->grab().toImage().convertToFormat(QImage::Format_RGB32);
    QImage banner = lyralink::dialogs::splash_image(lyralink::dialogs::SplashPicture::wait_banner);
    last_banner = on_screen.copy(1, 1, 248, 23) == banner.convertToFormat(QImage::Format_RGB32).copy(1, 1, 248, 23);
  });
  EXPECT_TRUE(shown);
  EXPECT_TRUE(last_banner);
  library_windows().close_splash_window();
  on_gui([&] {
    QWidget* splash = window_with_id("1007");
    ASSERT_NE(splash, nullptr);
    EXPECT_FALSE(splash->isVisible());
  });
}

TEST(Module, CallersOnTwoThreadsTakeTurns) {
  std::atomic<int> most_at_once{0};
  std::thread driver([&] {
    for (int i = 0; i < 2; ++i) {
      EXPECT_TRUE(when_modal([&](QWidget* w) {
        int visible = 0;
        for (QWidget* top : QApplication::topLevelWidgets()) {
          if (top->objectName() == QLatin1String("1002") && top->isVisible()) ++visible;
        }
        most_at_once = std::max(most_at_once.load(), visible);
        QTest::keyClick(w, Qt::Key_Escape);
        return true;
      }));
    }
  });
  auto run = [] {
    std::string ip;
    EXPECT_EQ(library_windows().run_selection_dialog(nullptr, kLines, ip), -2);
  };
  std::thread a(run);
  std::thread b(run);
  a.join();
  b.join();
  driver.join();
  EXPECT_EQ(most_at_once, 1);
}

}  // namespace
