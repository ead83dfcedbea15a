// SPDX-License-Identifier: LGPL-2.1-or-later
#include "lyralink/discovery/special_ips.h"

#include <cstdio>
#include <cstring>

#include "platform/settings_store.h"

namespace lyralink::discovery {

std::string special_ip_value_name(size_t position) {
  char name[8];
  std::snprintf(name, sizeof name, "#%02u", static_cast<unsigned>(position % 100));
  return name;
}

void SpecialIpList::load(platform::SettingsStore* store) {
  if (!entries_[0].empty()) return;
  // An empty first value ("#00" written as "") leaves entry 0 empty, so
  // every search loads again: the count is what this load read, never the
  // sum of all loads, or remember() would walk past the 20 entries.
  entries_.fill(std::string());
  count_ = 0;
  if (store == nullptr || !store->key_exists(kSpecialIpKey)) return;
  for (size_t p = 0; p < kSpecialIpCapacity; ++p) {
    auto value = store->get_value(kSpecialIpKey, special_ip_value_name(p));
    if (!value || value->type != platform::RegistryType::sz) break;
    // An entry holds 15 characters and its zero. A value of 16 bytes or
    // more has no room for the zero and would run into whatever follows;
    // it ends the load like a missing value.
    if (value->data.size() > kSpecialIpLength) break;
    entries_[p] = std::string(value->data.c_str());  // up to an embedded zero, as a C string reads it
    ++count_;
  }
}

void SpecialIpList::remember(const std::string& address_in, platform::SettingsStore* store) {
  const std::string address = address_in.substr(0, kSpecialIpLength);
  size_t found = kSpecialIpCapacity;
  for (size_t p = 0; p < count_; ++p) {
    if (entries_[p] == address) {
      found = p;
      break;
    }
  }
  if (found < kSpecialIpCapacity) {
    for (size_t p = found; p > 0; --p) entries_[p] = entries_[p - 1];
  } else {
    const size_t last = count_ < kSpecialIpCapacity ? count_ : kSpecialIpCapacity - 1;
    for (size_t p = last; p > 0; --p) entries_[p] = entries_[p - 1];
    if (count_ < kSpecialIpCapacity) ++count_;
  }
  entries_[0] = address;

  if (store == nullptr) return;
  if (!store->key_exists(kSpecialIpKey) && !store->create_key(kSpecialIpKey)) return;
  for (size_t p = 0; p < count_; ++p) {
    if (entries_[p].empty()) continue;
    (void)store->set_value(kSpecialIpKey, platform::RegistryValue::string(special_ip_value_name(p), entries_[p]));
  }
}

SpecialIpList& special_ip_list() {
  static SpecialIpList* list = new SpecialIpList;
  return *list;
}

void load_special_ips() {
  auto store = platform::SettingsStore::open(platform::RegistryRoot::current_user);
  special_ip_list().load(store.get());
}

void remember_special_ip(const std::string& address) {
  auto store = platform::SettingsStore::open(platform::RegistryRoot::current_user);
  special_ip_list().remember(address, store.get());
}

}  // namespace lyralink::discovery
