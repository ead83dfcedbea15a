// Short and long transactions over a real pseudo-terminal against lyrasim.
#include <gtest/gtest.h>

#include "lyralink/link/link.h"
#include "lyralink/link/transaction.h"
#include "tests/support/emulator.h"

using namespace lyralink::link;
using lyratest::Emulator;

namespace {

class SerialLink : public ::testing::Test {
 protected:
  void SetUp() override {
    sim_ = Emulator::start({"--serial", "COM3=740,sn=4242", "--serial", "COM4=310,sn=77"});
    ASSERT_TRUE(sim_);
    sim_->use_ports();
  }
  void TearDown() override { close_link(link_state()); }
  std::unique_ptr<Emulator> sim_;
};

TEST_F(SerialLink, QueryStateAnswersWithVerifiedFrame) {
  LinkState& s = link_state();
  ASSERT_NE(open_port(s, "COM3", 1000, 3, 38400, 0), 0);
  s.command.reset(0x5A);
  EXPECT_EQ(short_transaction(s), 0);
  auto frames = sim_->frames();
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].hex(), "a55a5a00000000000000b99b");
  EXPECT_EQ(frames[0].baud, 38400u);
}

}  // namespace
