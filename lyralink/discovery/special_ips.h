/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// The special-IP list: addresses of analysers that a broadcast does not
// reach (another subnet), remembered once one was chosen there, most
// recently used first. Every later search probes them directly.
//
// Kept per user in the settings store, HKEY_CURRENT_USER key
// "Software\LYRALINK\Special IPs", one REG_SZ value per entry named "#00"
// (most recent) to "#19", holding the address without a terminating zero.
// Store failures are silent: an unreadable key gives an empty list, an
// unwritable one keeps the change in memory for the rest of the process.
#include <array>
#include <cstddef>
#include <string>

namespace lyralink::platform {
class SettingsStore;
}

namespace lyralink::discovery {

constexpr const char* kSpecialIpKey = "Software\\LYRALINK\\Special IPs";
constexpr size_t kSpecialIpCapacity = 20;
constexpr size_t kSpecialIpLength = 15;  // characters of a dotted IPv4 address

// "#00" .. "#19"
std::string special_ip_value_name(size_t position);

class SpecialIpList {
 public:
  // Fills the list from the store unless its first entry is not empty; the
  // list then holds exactly what was read (at most 20 entries). Reading
  // stops at the first value that is missing, not a string, or too long
  // for an entry (16 bytes or more). store may be null (no store).
  void load(platform::SettingsStore* store);
  // Puts the address at the front (moving it there if it is already in the
  // list; the oldest of 20 falls out) and writes the list to the store.
  void remember(const std::string& address, platform::SettingsStore* store);

  size_t count() const { return count_; }
  // Entry at a position below the capacity ("" when unused).
  const std::string& at(size_t position) const { return entries_.at(position); }

 private:
  std::array<std::string, kSpecialIpCapacity> entries_{};
  size_t count_ = 0;
};

// The process-wide list; it starts empty.
SpecialIpList& special_ip_list();

// load() and remember() on the process-wide list with the current user's
// store (opened for the call).
void load_special_ips();
void remember_special_ip(const std::string& address);

}  // namespace lyralink::discovery
