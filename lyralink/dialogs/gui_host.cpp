#include "lyralink/dialogs/gui_host.h"

#include <QApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QThread>
#include <chrono>
#include <clocale>
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
  bool x_display_answers(const std::string& display) override { return platform::x_display_answers(display); }
  bool socket_accepts(const std::string& path) override { return platform::unix_socket_accepts(path); }
};

// Storage for the application's command line, which Qt keeps referring to.
int g_argc = 0;
char g_program[] = "lyralink-dialogs";
char g_platform_switch[] = "-platform";
std::string g_platform;
char* g_argv[4] = {nullptr, nullptr, nullptr, nullptr};

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
  std::string host_locale = std::setlocale(LC_ALL, nullptr) != nullptr ? std::setlocale(LC_ALL, nullptr) : "C";
  auto* app = new QApplication(g_argc, g_argv);  // never destroyed: see gui_host.h
  std::setlocale(LC_ALL, host_locale.c_str());
  QApplication::setQuitOnLastWindowClosed(false);
  ready->set_value(true);
  for (;;) app->exec();
}

std::mutex& turn_mutex() {
  static std::mutex m;
  return m;
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
