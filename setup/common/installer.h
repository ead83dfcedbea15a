/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// install's rules: the setup script, the earlier installation, the
// conditions, and the installation itself with its uninstall log.
//
// Every action is logged before it is done (the first lines, which include
// the levels of the application path, in one write as soon as the log can
// exist), so the log of an install that stopped anywhere names all it did.
#include <optional>
#include <string>
#include <vector>

#include "setup/common/log_writer.h"
#include "setup/common/path_macros.h"
#include "setup/common/registry_entry.h"
#include "setup/common/setup_host.h"
#include "setup/common/setup_script.h"
#include "setup/common/setup_ui.h"

namespace lyralink::setup {

class Installer {
 public:
  Installer(SetupUi& ui, SetupHost& host, LogWriter::WriteHook hook = {});

  // Reads the script and its "Setup" section and expands "DefaultDir".
  // False when the script is missing, a required key is missing or empty,
  // or "DefaultDir" does not expand: the run ends at once, silently.
  bool start(const std::string& setup_directory, const std::string& script_path);
  // "%s Setup" (at most 49 characters), for the background window.
  std::string display_text() const;
  // The main sequence, after start(). True when the installation completed.
  bool run();

  // The check of the path dialog (and of an unattended target).
  PathVerdict check_path(const std::string& path);

 private:
  bool ask_about_earlier_installation();
  bool conditions_hold();
  void remove_earlier_installation();
  bool make_levels(const std::string& dir, bool with_status, const std::function<bool(const std::string&)>& record);
  bool create_application_path_and_log();
  bool create_directories();
  bool install_files();
  bool install_file(size_t number, const std::string& value);
  bool copy_remover();
  bool register_application();
  void write_registry_entries();
  void write_registry_entry(const RegistryEntry& entry);
  void create_shortcuts();
  void run_programs();
  void finish();
  bool fault(const std::string& text);  // shows text, returns false

  SetupUi& ui_;
  SetupHost& host_;
  LogWriter log_;
  SetupScript script_;
  std::string setup_dir_;
  std::string default_path_;
  std::string app_path_;
  MacroContext context_;
  bool replace_ = false;
  bool clear_ = false;
  std::vector<KeyRef> remembered_;
};

// A name that stays in the directory it is joined to: not empty, no '/',
// not "." or "..".
bool is_plain_file_name(const std::string& name);

}  // namespace lyralink::setup
