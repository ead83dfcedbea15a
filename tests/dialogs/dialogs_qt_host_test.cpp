// SPDX-License-Identifier: LGPL-2.1-or-later
// The module in a Qt host (a program with its own QApplication, such as
// the recorder): the windows run on the host's GUI thread, directly when
// the call is made there, and an owner that is one of the host's widgets
// becomes their parent.
#include <gtest/gtest.h>

#include <QApplication>
#include <QEventLoop>
#include <QLabel>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <cstdlib>
#include <thread>

#include "tests/dialogs/lsan_suppressions.h"
#include "lyralink/dialogs/dialogs_api.h"
#include "platform/dynamic_library.h"

namespace {

class QtHost : public ::testing::Environment {
 public:
  void SetUp() override {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static int argc = 1;
    static char name[] = "pulsecap";
    static char* argv[] = {name, nullptr};
    app = new QApplication(argc, argv);
    module = lyralink::platform::DynamicLibrary::load_resident(LYRATEST_DIALOGS_MODULE).release();
    ASSERT_NE(module, nullptr);
    auto entry = reinterpret_cast<lyralink_dialogs_entry_fn>(module->symbol(LYRALINK_DIALOGS_ENTRY));
    ASSERT_NE(entry, nullptr);
    api = entry();
    ASSERT_EQ(api->abi_version, LYRALINK_DIALOGS_ABI_VERSION);
    ASSERT_EQ(api->start(), 1);
  }
  static inline QApplication* app = nullptr;
  static inline lyralink::platform::DynamicLibrary* module = nullptr;
  static inline const lyralink_dialogs_api* api = nullptr;
};
const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new QtHost);

const lyralink_dialog_line kLines[] = {{"MCA-740#00012 on USB\t FW# 12.00", 1}, {"MCA-740#00007 on COM3\t FW# 11.20", 1}};

// The modal window that is up, from inside its loop.
QWidget* modal_window() { return QApplication::activeModalWidget(); }

TEST(QtHost, CallOnTheGuiThreadRunsTheDialogThereWithTheOwnerAsParent) {
  QWidget main_window;
  main_window.setGeometry(100, 100, 640, 480);
  main_window.show();
  QWidget* parent = nullptr;
  QTimer::singleShot(0, [&] {
    QWidget* dialog = modal_window();
    ASSERT_NE(dialog, nullptr);
    parent = dialog->parentWidget();
    QTest::keyClick(dialog, Qt::Key_Return);
  });
  char ip[LYRALINK_SPECIAL_IP_SIZE] = "";
  EXPECT_EQ(QtHost::api->run_selection_dialog(&main_window, kLines, 2, ip), 1);  // COM3 sorts first
  EXPECT_EQ(parent, &main_window);
}

TEST(QtHost, CallFromAWorkerThreadRunsOnTheGuiThread) {
  std::atomic<bool> done{false};
  std::atomic<int32_t> result{0};
  bool on_gui_thread = false;
  std::thread worker([&] {
    char address[LYRALINK_SPECIAL_IP_SIZE] = "";
    const char* const heads[] = {"Trebla#00042 on 10.0.0.5 (in use)"};
    result = QtHost::api->run_head_selection_dialog(nullptr, heads, 1, address);
    EXPECT_STREQ(address, "10.0.0.5");
    done = true;
  });
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (QWidget* dialog = modal_window()) {
      on_gui_thread = dialog->thread() == QThread::currentThread();
      QTest::keyClick(dialog, Qt::Key_Return);
    }
  });
  poll.start(10);
  QEventLoop loop;
  QTimer check;
  QObject::connect(&check, &QTimer::timeout, [&] {
    if (done) loop.quit();
  });
  check.start(5);
  loop.exec();
  worker.join();
  EXPECT_EQ(result, 1);
  EXPECT_TRUE(on_gui_thread);
}

TEST(QtHost, WaitWindowCentresOverTheOwnerAndAGoneOwnerIsNone) {
  QWidget main_window;
  main_window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&main_window));
  QRect frame = main_window.frameGeometry();
  main_window.move(100, 100);
  main_window.resize(800 - (frame.width() - main_window.width()), 600 - (frame.height() - main_window.height()));
  QtHost::api->show_wait_window(&main_window, "Detecting MCA's ...");
  QWidget* wait = nullptr;
  for (QWidget* w : QApplication::topLevelWidgets())
    if (w->objectName() == QLatin1String("1003") && w->isVisible()) wait = w;
  ASSERT_NE(wait, nullptr);
  EXPECT_EQ(wait->parentWidget(), &main_window);
  EXPECT_EQ(wait->pos(), QPoint((100 + 900 - wait->width()) / 2, (100 + 700 - wait->height()) / 2));
  QtHost::api->close_wait_window();
  // A pointer that was a widget once is no owner any more.
  auto* gone = new QWidget;
  void* stale = gone;
  delete gone;
  QtHost::api->show_wait_window(stale, "Redetecting MCA's ...");
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (w->objectName() != QLatin1String("1003") || !w->isVisible()) continue;
    EXPECT_EQ(w->parentWidget(), nullptr);
    EXPECT_EQ(w->findChild<QLabel*>(QStringLiteral("1005"))->text(), "Redetecting MCA's ...");
  }
  QtHost::api->close_wait_window();
  QtHost::api->repaint_window(&main_window);
  QtHost::api->repaint_window(stale);
}

}  // namespace
