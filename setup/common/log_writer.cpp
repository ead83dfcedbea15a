// SPDX-License-Identifier: LGPL-2.1-or-later
#include "setup/common/log_writer.h"

#include "platform/file_system.h"

namespace lyralink::setup {

bool LogWriter::create(const std::string& directory, const std::string& first_text) {
  std::string disk = to_disk_text(first_text);
  for (unsigned n = 0; n < kLogNumbers; ++n) {
    std::string candidate = directory + "/" + log_file_name(n);
    if (platform::entry_present(candidate)) continue;
    hook();
    // O_EXCL: a log that appeared meanwhile is never written into.
    if (!platform::create_new_file(candidate, disk, 0644)) {
      if (platform::entry_present(candidate)) continue;
      return false;
    }
    path_ = candidate;
    hook();
    return true;
  }
  return false;
}

bool LogWriter::append(ActionKind kind, const std::string& argument) {
  if (path_.empty()) return false;
  hook();
  bool ok = platform::append_to_file(path_, to_disk_text(action_line(kind, argument)));
  hook();
  return ok;
}

}  // namespace lyralink::setup
