// SPDX-License-Identifier: LGPL-2.1-or-later
#include "lyralink/dialogs/gui_host.h"

#include <QApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QThread>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <clocale>
#include <cstdio>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "lyralink/dialogs/platform_choice.h"
#include "lyralink/dialogs/qt_support.h"
#include "platform/display_probe.h"
#include "platform/environment.h"

namespace lyralink::dialogs {

namespace {

bool g_started = false;
bool g_own_thread = false;

std::string env(const char* name) { return platform::environment_value(name).value_or(""); }

// The machine as the platform choice sees it. Runs on the GUI thread
// before the application object exists.
class MachineProbe final : public DisplayProbe {
 public:
  bool plugin_loads(const std::vector<std::string>& files) override {
    std::vector<std::string> dirs;
    if (auto d = env("QT_QPA_PLATFORM_PLUGIN_PATH"); !d.empty()) dirs.push_back(d);
    for (const QString& d : QString::fromStdString(env("QT_PLUGIN_PATH")).split(QDir::listSeparator(), Qt::SkipEmptyParts))
      dirs.push_back(d.toStdString() + "/platforms");
    dirs.push_back(QLibraryInfo::path(QLibraryInfo::PluginsPath).toStdString() + "/platforms");
    for (const auto& dir : dirs)
      for (const auto& file : files)
        if (platform::library_loads(dir + "/" + file)) return true;
    return false;
  }
  bool x_display_answers(const std::string& display) override {
    x_connection_ = platform::XDisplayConnection::open(display);
    return x_connection_ != nullptr;
  }
  bool socket_accepts(const std::string& path) override { return platform::unix_socket_accepts(path); }
  // Closes the connection the check made (once Qt has its own).
  void release() { x_connection_.reset(); }

 private:
  std::unique_ptr<platform::XDisplayConnection> x_connection_;
};

// Storage for the application's command line, which Qt keeps referring to.
int g_argc = 0;
char g_program[] = "lyralink-dialogs";
char g_platform_switch[] = "-platform";
std::string g_platform;
char* g_argv[4] = {nullptr, nullptr, nullptr, nullptr};

// Qt's notes (a missing runtime directory, a plugin without raise) are of
// no use to the host, whose standard error is its own; only Qt's critical
// messages are passed on (all of them with LYRALINK_DIALOGS_DEBUG set, for
// finding out why no window appears). Installed only with the module's
// own application: a Qt host keeps its handler.
bool g_verbose = false;
// Set while the application object is being made. Should Qt still find
// that it cannot start (a display that went away after the check), the
// fatal message parks the GUI thread for good instead of returning into
// Qt, which would end the process; the caller is told "no display".
std::shared_ptr<std::promise<bool>> g_starting;

void module_messages(QtMsgType type, const QMessageLogContext&, const QString& message) {
  if (g_verbose || type == QtCriticalMsg || type == QtFatalMsg) {
    std::fprintf(stderr, "lyralink-dialogs: %s\n", message.toLocal8Bit().constData());
  }
  if (type == QtFatalMsg && g_starting) {
    auto ready = std::move(g_starting);
    ready->set_value(false);
    for (;;) std::this_thread::sleep_for(std::chrono::hours(24));
  }
}

void gui_thread_main(const std::shared_ptr<std::promise<bool>>& ready) {
  DisplayEnvironment environment{env("QT_QPA_PLATFORM"), env("DISPLAY"), env("WAYLAND_DISPLAY"), env("XDG_RUNTIME_DIR")};
  MachineProbe probe;
  auto platform = choose_platform(environment, probe);
  if (!platform) {
    ready->set_value(false);
    return;
  }
  g_platform = *platform;
  g_argv[0] = g_program;
  g_argv[1] = g_platform_switch;
  g_argv[2] = g_platform.data();
  g_argc = 3;
  // Qt sets the C locale from the environment when it starts; the host's
  // number formatting (a decimal comma where it asked for a point) must
  // not change because a window was shown.
  g_verbose = !env("LYRALINK_DIALOGS_DEBUG").empty();
  qInstallMessageHandler(module_messages);
  std::string host_locale = std::setlocale(LC_ALL, nullptr) != nullptr ? std::setlocale(LC_ALL, nullptr) : "C";
  g_starting = ready;
  auto* app = new QApplication(g_argc, g_argv);  // never destroyed: see gui_host.h
  g_starting.reset();
  std::setlocale(LC_ALL, host_locale.c_str());
  probe.release();
  QApplication::setQuitOnLastWindowClosed(false);
  // Ready once the event loop runs: its start connects the accessibility
  // bridge, which must not be half done when a host exits at once.
  QMetaObject::invokeMethod(
      app, [ready] { ready->set_value(true); }, Qt::QueuedConnection);
  for (;;) app->exec();
}

std::mutex& turn_mutex() {
  static std::mutex m;
  return m;
}

// At exit the host destroys Qt's static objects; the GUI thread must not
// be using them then. It is parked, for good, in an event of its own.
std::mutex g_park_mutex;
std::condition_variable g_parked_signal;
bool g_parked = false;

void park_gui_thread() {
  static std::atomic<bool> once{false};
  if (once.exchange(true) || !g_own_thread || on_the_gui_thread()) return;
  QCoreApplication* app = QCoreApplication::instance();
  if (app == nullptr) return;
  QMetaObject::invokeMethod(
      app,
      [] {
        {
          std::lock_guard<std::mutex> hold(g_park_mutex);
          g_parked = true;
        }
        g_parked_signal.notify_all();
        for (;;) std::this_thread::sleep_for(std::chrono::hours(24));
      },
      Qt::QueuedConnection);
  // A window still in its modal loop delivers the event too; a GUI thread
  // stuck elsewhere is not waited for long.
  std::unique_lock<std::mutex> hold(g_park_mutex);
  g_parked_signal.wait_for(hold, std::chrono::seconds(2), [] { return g_parked; });
}

}  // namespace

bool start_gui() {
  static std::once_flag once;
  std::call_once(once, [] {
    // Reading the instance pointer creates no Qt state on this thread, so
    // the GUI thread started below becomes Qt's main thread.
    if (QCoreApplication::instance() != nullptr) {
      g_started = qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr;
      return;
    }
    auto ready = std::make_shared<std::promise<bool>>();
    auto result = ready->get_future();
    if (!platform::start_detached_thread([ready] { gui_thread_main(ready); })) return;
    g_started = result.get();
    g_own_thread = g_started;
    if (g_own_thread) std::atexit(park_gui_thread);
  });
  return g_started;
}

bool runs_own_gui_thread() { return g_own_thread; }

bool on_the_gui_thread() {
  QCoreApplication* app = QCoreApplication::instance();
  return app != nullptr && QThread::currentThread() == app->thread();
}

void on_gui_thread(const std::function<void()>& work) {
  auto guarded = [&work] {
    try {
      work();
    } catch (...) {
    }
  };
  QCoreApplication* app = QCoreApplication::instance();
  if (!g_started || app == nullptr) return;
  if (on_the_gui_thread()) {
    guarded();
    return;
  }
  std::lock_guard<std::mutex> turn(turn_mutex());
  QMetaObject::invokeMethod(app, guarded, Qt::BlockingQueuedConnection);
}

void wait_for_caller(int ms) {
  if (on_the_gui_thread()) {
    pause_painting(ms);
  } else {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  }
}

}  // namespace lyralink::dialogs
