// SPDX-License-Identifier: LGPL-2.1-or-later
// The discovery's windows: those built into the library (Win32), or the Qt
// module when it can be loaded and reaches a display; "no display" otherwise.
#include "lyralink/discovery/windows.h"

#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include "lyralink/dialogs/dialogs_api.h"
#include "platform/built_in_windows.h"
#include "platform/dynamic_library.h"
#include "platform/environment.h"

namespace lyralink::discovery {

namespace {

// The windows module's file, "liblyralink-dialogs.so" on POSIX.
std::string module_file() { return platform::shared_library_file_name("lyralink-dialogs"); }

void copy_bounded(char* out, size_t size, const std::string& text) {
  size_t n = std::min(text.size(), size - 1);
  std::memcpy(out, text.data(), n);
  out[n] = '\0';
}

std::string read_bounded(const char* buf, size_t size) { return std::string(buf, strnlen(buf, size)); }

// The windows of a table (the loaded module's, or the library's own with no
// module); used only once api->start() said yes.
class ModuleWindows final : public Windows {
 public:
  ModuleWindows(std::unique_ptr<platform::DynamicLibrary> module, const lyralink_dialogs_api* api)
      : module_(std::move(module)), api_(api) {}

  int32_t run_selection_dialog(void* owner, const std::vector<SelectionLine>& lines,
                               std::string& special_ip) override {
    std::vector<lyralink_dialog_line> c_lines;
    c_lines.reserve(lines.size());
    for (const auto& line : lines) c_lines.push_back({line.text.c_str(), line.applicable ? 1 : 0});
    char ip[LYRALINK_SPECIAL_IP_SIZE];
    copy_bounded(ip, sizeof ip, special_ip);
    int32_t result = api_->run_selection_dialog(owner, c_lines.data(), static_cast<uint32_t>(c_lines.size()), ip);
    special_ip = read_bounded(ip, sizeof ip);
    return result;
  }

  int32_t run_head_selection_dialog(void* owner, const std::vector<std::string>& texts,
                                    std::string& address) override {
    std::vector<const char*> c_texts;
    c_texts.reserve(texts.size());
    for (const auto& t : texts) c_texts.push_back(t.c_str());
    char buf[LYRALINK_SPECIAL_IP_SIZE] = {};
    int32_t result = api_->run_head_selection_dialog(owner, c_texts.data(), static_cast<uint32_t>(c_texts.size()), buf);
    if (result == kDialogOk) address = read_bounded(buf, sizeof buf);
    return result == kDialogOk ? kDialogOk : kDialogCancelled;
  }

  void show_wait_window(void* owner, const std::string& message) override {
    api_->show_wait_window(owner, message.c_str());
  }
  void close_wait_window() override { api_->close_wait_window(); }
  void show_splash_window() override { api_->show_splash_window(); }
  void close_splash_window() override { api_->close_splash_window(); }
  void message_box(void* owner, const std::string& text, const std::string& caption) override {
    api_->message_box(owner, text.c_str(), caption.c_str());
  }
  void repaint_window(void* owner) override { api_->repaint_window(owner); }

 private:
  std::unique_ptr<platform::DynamicLibrary> module_;
  const lyralink_dialogs_api* api_;
};

// Where the module may be: $LYRALINK_DIALOGS alone when set; else beside
// the library (the build tree, cmake --install), then in the library's
// private directory "lyralink/" below it (the Debian package, which keeps
// a plugin without a soname out of the shared library directory).
std::vector<std::string> module_paths() {
  if (auto file = platform::environment_value("LYRALINK_DIALOGS"); file && !file->empty()) return {*file};
  std::string dir = platform::directory_of_loaded_file(reinterpret_cast<const void*>(&module_paths));
  const std::string file = module_file();
  if (dir.empty()) return {file};
  return {dir + "/" + file, dir + "/lyralink/" + file};
}

// The windows of a table whose GUI side starts; null otherwise. `module`
// holds the file the table lives in (null for the built-in table).
std::unique_ptr<Windows> started_windows(std::unique_ptr<platform::DynamicLibrary> module,
                                         const lyralink_dialogs_api* api) {
  if (api == nullptr || api->abi_version != LYRALINK_DIALOGS_ABI_VERSION || api->size < sizeof(lyralink_dialogs_api))
    return nullptr;
  if (api->start() == 0) return nullptr;
  return std::make_unique<ModuleWindows>(std::move(module), api);
}

// The library's own windows where the system builds them in (Win32: its
// start() tells whether this session can show windows); elsewhere loads the
// module and starts its GUI side. Null when no window can be shown.
std::unique_ptr<Windows> load_module_windows() {
  if (const lyralink_dialogs_api* built_in = platform::built_in_windows()) return started_windows(nullptr, built_in);
  if (!platform::display_named()) return nullptr;
  std::unique_ptr<platform::DynamicLibrary> module;
  for (const std::string& path : module_paths()) {
    if ((module = platform::DynamicLibrary::load_resident(path))) break;
  }
  if (!module) return nullptr;
  auto entry = reinterpret_cast<lyralink_dialogs_entry_fn>(module->symbol(LYRALINK_DIALOGS_ENTRY));
  if (entry == nullptr) return nullptr;
  return started_windows(std::move(module), entry());
}

Windows* g_override = nullptr;

}  // namespace

Windows& library_windows() {
  if (g_override != nullptr) return *g_override;
  // Decided once per process: the module stays loaded for good
  // (RTLD_NODELETE), and a missing display does not come back.
  // Never destroyed: the module's GUI thread may outlive static destructors.
  static std::once_flag once;
  static Windows* module = nullptr;
  static NoDisplayWindows no_display;
  std::call_once(once, [] { module = load_module_windows().release(); });
  return module != nullptr ? *module : static_cast<Windows&>(no_display);
}

void set_windows(Windows* windows) { g_override = windows; }

}  // namespace lyralink::discovery
