// SPDX-License-Identifier: LGPL-2.1-or-later
// The special-IP list against a real settings store file: moves, the 20
// entry limit, loading that stops where it must, and silence on failures.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "lyralink/discovery/special_ips.h"
#include "platform/settings_store.h"
#include "tests/support/emulator.h"

using namespace lyralink::discovery;
namespace plat = lyralink::platform;

namespace {

class SpecialIps : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = lyratest::make_temp_dir("special-ips");
    store_ = plat::SettingsStore::open_file(dir_ + "/user.db");
    ASSERT_TRUE(store_);
  }
  void put(const std::string& name, const std::string& data) {
    ASSERT_TRUE(store_->create_key(kSpecialIpKey));
    ASSERT_TRUE(store_->set_value(kSpecialIpKey, plat::RegistryValue::string(name, data)));
  }
  std::vector<std::string> stored() {
    std::vector<std::string> out;
    for (const auto& v : store_->values(kSpecialIpKey).value_or(std::vector<plat::RegistryValue>{})) {
      out.push_back(v.name + "=" + v.data);
    }
    return out;
  }
  static std::vector<std::string> entries(const SpecialIpList& l) {
    std::vector<std::string> out;
    for (size_t i = 0; i < l.count(); ++i) out.push_back(l.at(i));
    return out;
  }
  std::string dir_;
  std::unique_ptr<plat::SettingsStore> store_;
};

TEST_F(SpecialIps, RememberMovesToTheFrontAndWritesEveryEntry) {
  SpecialIpList l;
  for (const char* a : {"10.0.0.1", "10.0.0.2", "10.0.0.3", "10.0.0.4", "10.0.0.5"}) l.remember(a, store_.get());
  EXPECT_EQ(entries(l), (std::vector<std::string>{"10.0.0.5", "10.0.0.4", "10.0.0.3", "10.0.0.2", "10.0.0.1"}));

  // The one at position 0 again: same order, values rewritten as they were.
  l.remember("10.0.0.5", store_.get());
  EXPECT_EQ(entries(l), (std::vector<std::string>{"10.0.0.5", "10.0.0.4", "10.0.0.3", "10.0.0.2", "10.0.0.1"}));

  // The one at position 3 comes to the front, 0-2 move to 1-3, 4 stays.
  l.remember("10.0.0.2", store_.get());
  EXPECT_EQ(entries(l), (std::vector<std::string>{"10.0.0.2", "10.0.0.5", "10.0.0.4", "10.0.0.3", "10.0.0.1"}));
  EXPECT_EQ(l.count(), 5u);
  EXPECT_EQ(stored(), (std::vector<std::string>{"#00=10.0.0.2", "#01=10.0.0.5", "#02=10.0.0.4", "#03=10.0.0.3",
                                                "#04=10.0.0.1"}));
  // Stored without a terminating zero.
  EXPECT_EQ(store_->get_value(kSpecialIpKey, "#00")->data.size(), 8u);
}

TEST_F(SpecialIps, TheTwentyFirstAddressPushesTheOldestOut) {
  SpecialIpList l;
  for (int i = 1; i <= 21; ++i) l.remember("10.0.1." + std::to_string(i), store_.get());
  EXPECT_EQ(l.count(), 20u);
  EXPECT_EQ(l.at(0), "10.0.1.21");
  EXPECT_EQ(l.at(19), "10.0.1.2");
  auto values = store_->values(kSpecialIpKey);
  ASSERT_TRUE(values);
  ASSERT_EQ(values->size(), 20u);
  EXPECT_EQ(values->front().name, "#00");
  EXPECT_EQ(values->back().name, "#19");
  EXPECT_EQ(store_->get_value(kSpecialIpKey, "#19")->data, "10.0.1.2");

  // An address already in a full list moves without losing anyone.
  l.remember("10.0.1.10", store_.get());
  EXPECT_EQ(l.count(), 20u);
  EXPECT_EQ(l.at(0), "10.0.1.10");
  EXPECT_EQ(l.at(19), "10.0.1.2");
}

TEST_F(SpecialIps, LoadStopsAtTheFirstMissingOrOversizedValue) {
  put("#00", "192.168.1.77");
  put("#01", "10.0.0.25");
  put("#03", "10.0.0.99");
  SpecialIpList l;
  l.load(store_.get());
  EXPECT_EQ(entries(l), (std::vector<std::string>{"192.168.1.77", "10.0.0.25"}));

  // 15 characters fit; 16 bytes leave no room for the terminating zero and
  // end the load instead of turning into a longer entry.
  ASSERT_TRUE(store_->delete_key(kSpecialIpKey, true));
  put("#00", "100.100.100.100");
  put("#01", "1234567890123456");
  put("#02", "10.0.0.3");
  SpecialIpList m;
  m.load(store_.get());
  EXPECT_EQ(entries(m), (std::vector<std::string>{"100.100.100.100"}));

  // A value of another type ends it too.
  ASSERT_TRUE(store_->delete_key(kSpecialIpKey, true));
  ASSERT_TRUE(store_->create_key(kSpecialIpKey));
  ASSERT_TRUE(store_->set_value(kSpecialIpKey, plat::RegistryValue::dword("#00", 7)));
  SpecialIpList n;
  n.load(store_.get());
  EXPECT_EQ(n.count(), 0u);
}

TEST_F(SpecialIps, AnEmptyFirstValueIsLoadedAgainWithoutAddingUp) {
  // "#00" written empty: entry 0 stays empty, so every search loads again.
  put("#00", "");
  for (size_t p = 1; p < kSpecialIpCapacity; ++p) put(special_ip_value_name(p), "10.0.2." + std::to_string(p));
  SpecialIpList l;
  for (int search = 0; search < 3; ++search) l.load(store_.get());
  ASSERT_EQ(l.count(), kSpecialIpCapacity);
  EXPECT_EQ(l.at(0), "");
  EXPECT_EQ(l.at(19), "10.0.2.19");
  // A remember then stays within the 20 entries; the oldest falls out.
  l.remember("10.0.3.1", store_.get());
  EXPECT_EQ(l.count(), kSpecialIpCapacity);
  EXPECT_EQ(l.at(0), "10.0.3.1");
  EXPECT_EQ(l.at(1), "");
  EXPECT_EQ(l.at(19), "10.0.2.18");
  EXPECT_EQ(store_->get_value(kSpecialIpKey, "#19")->data, "10.0.2.18");
}

TEST_F(SpecialIps, OneLoadPerProcessWhileTheListIsNotEmpty) {
  put("#00", "10.0.0.1");
  SpecialIpList l;
  l.load(store_.get());
  put("#00", "10.0.0.2");  // another process changes it meanwhile
  l.load(store_.get());
  EXPECT_EQ(entries(l), (std::vector<std::string>{"10.0.0.1"}));
}

TEST_F(SpecialIps, FailuresAreSilentAndKeepTheChangeInMemory) {
  SpecialIpList l;
  l.load(nullptr);  // no store at all
  EXPECT_EQ(l.count(), 0u);
  l.load(store_.get());  // a store without the key
  EXPECT_EQ(l.count(), 0u);
  l.remember("10.9.9.9", nullptr);
  EXPECT_EQ(entries(l), (std::vector<std::string>{"10.9.9.9"}));
}

TEST(SpecialIpStore, ProcessWideListUsesTheUsersStoreInTheRegistryDirectory) {
  const std::string dir = lyratest::make_temp_dir("registry");
  ::setenv("LYRALINK_REGISTRY_DIR", dir.c_str(), 1);
  remember_special_ip("192.168.1.77");
  auto store = plat::SettingsStore::open_file(dir + "/user.db");
  ASSERT_TRUE(store);
  auto v = store->get_value("Software\\LYRALINK\\Special IPs", "#00");
  ASSERT_TRUE(v);
  EXPECT_EQ(v->data, "192.168.1.77");
  EXPECT_EQ(special_ip_value_name(7), "#07");
  EXPECT_EQ(special_ip_value_name(19), "#19");
}

}  // namespace
