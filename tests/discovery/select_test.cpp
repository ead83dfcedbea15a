// SPDX-License-Identifier: LGPL-2.1-or-later
// COMM_INIT_SELECT against lyrasim: analysers on pseudo-terminals, on the
// stand-in bridge library and on UDP (loopback, with the host's own address
// given as 127.0.0.1/8 so that the broadcast goes to 127.255.255.255).
// Every pass costs two 1 s Ethernet windows, so each test checks all it
// can of the passes it runs.
#include <gtest/gtest.h>

#include "lyralink/discovery/selection.h"
#include "lyralink/discovery/special_ips.h"
#include "tests/discovery/discovery_support.h"
#include "tests/discovery/failing_udp_sockets.h"

using namespace lyralink;
using namespace lyralink::discovery;
using namespace lyratest;

namespace {

constexpr uint16_t k310Probe = 0x005A, k740Probe = 0x0101;

class Select : public ::testing::Test {
 protected:
  void SetUp() override {
    use_fresh_registry();
    ::setenv("LYRALINK_HOST_ADDRESSES", "127.0.0.1/255.0.0.0", 1);
    usb_record_ = make_temp_dir("usb") + "/frames.log";
  }
  void TearDown() override { link::close_link(link::link_state()); }

  void start(const std::vector<std::string>& args, const std::vector<std::string>& usb = {}) {
    ASSERT_TRUE(bridge_.configure(usb, usb_record_));
    std::vector<std::string> a = {"--udp-port", std::to_string(link::link_state().device_udp_port)};
    a.insert(a.end(), args.begin(), args.end());
    sim_ = Emulator::start(a);
    ASSERT_TRUE(sim_);
    sim_->use_ports();
  }
  int16_t select(Block* block, int32_t timeout = 1000, int32_t retries = 3) {
    return comm_init_select(link::link_state(), block != nullptr ? block->data() : nullptr, timeout, retries, nullptr);
  }
  std::vector<RecordedFrame> usb_frames() const { return read_record(usb_record_); }

  StandInBridge bridge_;
  std::string usb_record_;
  std::unique_ptr<Emulator> sim_;
  ScriptedWindows windows_;
};

TEST_F(Select, OnePassFindsAndJudgesEveryKindOfAnalyser) {
  start(
      {// Serial ports, probed COM1 to COM256.
       "--serial", "COM1=740,sn=101,fw=0x1304", "--serial", "COM2=310,sn=102,fw=0x0312", "--serial",
       "COM3=740,sn=103,kind=0",  // answers the 740 probe with a zero word 2: no analyser
       "--serial", "COM4=740,sn=104,use=0,uses=2", "--serial", "COM5=740,sn=105,fw=0x1116", "--serial",
       "COM6=740,sn=106", "--serial", "COM7=740,sn=107", "--serial", "COM8=310,sn=108",
       "--fault", "garbage,on=COM6,count=1", "--fault", "silent,on=COM7", "--fault", "length=4,on=COM8,count=1",
       // Two on the network; the second one answers as in use.
       "--udp", "127.0.0.2=740,sn=301", "--udp", "127.0.0.3=740,sn=302,use=0,uses=1"},
      {"740,sn=201,com=10,variant=2",               // USB0
       "740,sn=202,com=11,variant=1",               // USB1
       "740,sn=203,com=12,desc=MCA-740 OEM",        // USB2
       "740,sn=204,com=13,desc=MCA-740 Micro,variant=1",
       "310,sn=205,com=14,desc=MCA-310",            // USB4
       "310,sn=206,com=15,desc=MCA-310 Cable",
       "740,sn=207,com=16,desc=FT232R USB UART",    // USB6: a 740 behind a foreign description
       "740,sn=208",                                // USB7: no virtual serial port
       "740,sn=209,com=18",                         // USB8: gives no bytes
       "310,sn=210,com=19,desc=MCA-310 Cable",      // USB9: gives no bytes
       "740,sn=211,com=20,desc=Something else",     // USB10: gives no bytes
       "740,sn=212,com=21,desc=MCA-310,kind=0"});   // USB11
  ASSERT_TRUE(bridge_.add("fault silent,on=USB8\nfault silent,on=USB9\nfault silent,on=USB10"));
  // 127.0.0.2 is also remembered: probed twice, listed once.
  auto store = user_store();
  ASSERT_TRUE(store->create_key(kSpecialIpKey));
  ASSERT_TRUE(store->set_value(kSpecialIpKey, platform::RegistryValue::string("#00", "127.0.0.2")));

  // The recorder's rules: only a 740 with firmware 0x1200 or later.
  Block block;
  block.admit_310(0).admit_740(0xFFFF).min_fw_740(0x1200).dialogs(0);
  EXPECT_EQ(select(&block), 0);
  EXPECT_FALSE(link::link_state().link_open());
  EXPECT_EQ(block.chosen_port(), 0xFFFF);  // nothing taken, nothing written back
  EXPECT_EQ(block.bytes[20], 0xEE);

  const std::vector<std::string> expected = {
      "MCA-740#00301 on 127.0.0.2\t FW# 13.04",
      "MCA-740#00302 on 127.0.0.3\t FW# 13.04\t(in use)",
      "MCA-740#00201 on USB\t FW# 13.04",
      "MCA-740#00202 on USB\t FW# 13.04",
      "MCA-740#00203 on USB\t FW# 13.04",
      "MCA-740#00204 on USB\t FW# 13.04",
      "MCA-310#00205 on USB\t FW# 03.10\t(unsuitable)",
      "MCA-310#00206 on USB\t FW# 03.10\t(unsuitable)",
      "MCA-740#00207 on USB\t FW# 13.04",
      "MCA-740#????? on USB\t FW# ??.??\t(inoperable)",
      "MCA-310#????? on USB\t FW# ??.??\t(inoperable)",
      "MCA-740#00101 on COM1\t FW# 13.04",
      "MCA-310#00102 on COM2\t FW# 03.12\t(unsuitable)",
      "MCA-740#00104 on COM4\t FW# 13.04\t(in use)",
      "MCA-740#00105 on COM5\t FW# 11.16\t(unsuitable)",
      "MCA-740#00106 on COM6\t FW# 13.04",
      "MCA-310#00108 on COM8\t FW# 03.10\t(unsuitable)",
  };
  EXPECT_EQ(list_texts(), expected);

  struct Expect {
    const char* prefix;
    uint16_t port_id;
    const char* port;
    uint32_t applicable;
  };
  const Expect fields[] = {
      {"MCA-740#00301", 0, "", 1},          {"MCA-740#00302", 0, "", 0},
      {"MCA-740#00201", 0x0101, "USB", 1},  {"MCA-740#00202", 0x0102, "USB", 1},
      {"MCA-740#00203", 0x0101, "USB", 1},  {"MCA-740#00204", 0x0101, "USB", 1},
      {"MCA-310#00205", 0x0102, "USB", 0},  {"MCA-310#00206", 0x0101, "USB", 0},
      {"MCA-740#00207", 0x0101, "USB", 1},  {"MCA-740#00101", 1, "COM1", 1},
      {"MCA-740#00105", 5, "COM5", 0},      {"MCA-740#00106", 6, "COM6", 1},
  };
  for (const Expect& f : fields) {
    const DeviceEntry* e = entry_starting(f.prefix);
    ASSERT_NE(e, nullptr) << f.prefix;
    EXPECT_EQ(e->port_id, f.port_id) << f.prefix;
    EXPECT_EQ(e->port_name, f.port) << f.prefix;
    EXPECT_EQ(e->applicable, f.applicable) << f.prefix;
    EXPECT_EQ(e->serial_port, nullptr);  // the ports are closed again
    EXPECT_EQ(e->usb_handle, nullptr);
  }
  EXPECT_EQ(entry_starting("MCA-740#00301")->ip_address, "127.0.0.2");
  EXPECT_TRUE(entry_starting("MCA-740#?????")->inoperable);

  // On the wire: a 740 on a serial port is asked with the 310 probe, then
  // with the 740 probe; a retried port got its probe again.
  auto frames = sim_->frames();
  EXPECT_EQ(frames_of(frames, "COM1", k310Probe).size(), 1u);
  EXPECT_EQ(frames_of(frames, "COM1", k740Probe).size(), 1u);
  EXPECT_EQ(frames_of(frames, "COM3", k740Probe).size(), 1u);
  EXPECT_EQ(frames_of(frames, "COM6", k310Probe).size(), 2u);
  EXPECT_EQ(frames_of(frames, "COM8", k310Probe).size(), 2u);
  EXPECT_EQ(frames_of(frames, "COM7", k310Probe).size(), 1u);  // nothing queued: closed, no retry
  EXPECT_EQ(frames_of(frames, "127.0.0.2", k740Probe).size(), 2u);  // broadcast and remembered
  EXPECT_EQ(frames_of(frames, "127.0.0.3", k740Probe).size(), 1u);
  for (const auto& f : frames) {
    if (f.endpoint.rfind("COM", 0) == 0) {
      EXPECT_EQ(f.baud, 38400u) << f.endpoint;
    }
  }
  auto usb = usb_frames();
  EXPECT_EQ(frames_of(usb, "USB0", k740Probe).size(), 1u);
  EXPECT_EQ(frames_of(usb, "USB4", k310Probe).size(), 1u);
  EXPECT_EQ(frames_of(usb, "USB6", k310Probe).size(), 1u);
  EXPECT_EQ(frames_of(usb, "USB6", k740Probe).size(), 1u);
  EXPECT_TRUE(frames_of(usb, "USB7", k740Probe).empty());  // never opened for probing
  EXPECT_EQ(frames_of(usb, "USB11", k740Probe).size(), 1u);

  // Every port and device is free again.
  for (const char* p : {"COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7", "COM8"}) {
    EXPECT_TRUE(port_free(*sim_, p)) << p;
  }
  for (int i = 0; i < 12; ++i) EXPECT_TRUE(bridge_.closed(i)) << "USB" << i;
}

TEST_F(Select, TakesTheWantedSerialNumberThroughThePortFilterAndAdjustsTheRate) {
  start({"--serial", "COM3=740,sn=76", "--serial", "COM5=740,sn=77,bauds=38400/307200", "--udp", "127.0.0.2=740,sn=77"},
        {"740,sn=77,com=9", "740,sn=78,com=8"});
  Block block;
  block.serial(77).port(5).dialogs(0);
  EXPECT_EQ(select(&block), 1);
  auto& s = link::link_state();
  ASSERT_EQ(s.channel(), link::Channel::serial);
  EXPECT_STREQ(s.port_name, "COM5");
  EXPECT_EQ(s.port_id, 5);
  EXPECT_EQ(block.chosen_port(), 5);
  EXPECT_EQ(block.chosen_baud(), 307200u);
  EXPECT_EQ(s.baud_rate, 307200u);
  EXPECT_EQ(s.serial_port->current_baud(), 307200u);
  EXPECT_EQ(lyralink::get_u16(&block.bytes[18]), 0xEEEE);  // reserved: untouched
  EXPECT_EQ(s.answer_timeout, 1000u);
  EXPECT_EQ(s.retry_count, 3u);

  // The ladder on the wire: 3000000 four times, 307200 once, 3000000 four
  // times again, 307200 once.
  std::vector<uint32_t> rates;
  for (const auto& f : frames_of(sim_->frames(), "COM5", k310Probe)) rates.push_back(f.baud.value_or(0));
  const std::vector<uint32_t> ladder = {38400,  3000000, 3000000, 3000000, 3000000, 307200,
                                        3000000, 3000000, 3000000, 3000000, 307200};
  EXPECT_EQ(rates, ladder);
  // The others were released.
  EXPECT_TRUE(port_free(*sim_, "COM3"));
  EXPECT_FALSE(port_free(*sim_, "COM5"));
  EXPECT_TRUE(bridge_.closed(0));
  EXPECT_TRUE(bridge_.closed(1));

  // A call while a link is open does nothing at all.
  sim_->clear_record();
  WindowsInstalled shown(windows_);
  Block again;
  again.serial(76);
  const auto t0 = platform::Clock::now();
  EXPECT_EQ(select(&again), 0);
  EXPECT_LT(platform::Clock::now() - t0, std::chrono::milliseconds(500));
  EXPECT_TRUE(windows_.events.empty());
  EXPECT_EQ(again.chosen_port(), 0xFFFF);
  EXPECT_TRUE(sim_->frames().empty());
  EXPECT_STREQ(s.port_name, "COM5");

  // Without a filter the first entry with the number is taken: Ethernet
  // answers come first in the list. Length 18: the port identifier comes
  // back, the baud rate does not.
  link::close_link(s);
  Block short_block(18);
  short_block.serial(77).dialogs(0);
  EXPECT_EQ(select(&short_block), 1);
  EXPECT_EQ(s.channel(), link::Channel::ethernet);
  EXPECT_STREQ(s.device_address, "127.0.0.2");
  EXPECT_EQ(short_block.chosen_port(), 0);
  EXPECT_EQ(short_block.bytes[20], 0xEE);
  EXPECT_TRUE(port_free(*sim_, "COM5"));
  EXPECT_TRUE(bridge_.closed(0));
}

TEST_F(Select, DirectUsbLinkLatencyLadderAndLoss) {
  start({"--serial", "COM2=310,sn=9"},
        {"740,sn=55,com=4,driver=0x00020813,bauds=38400/115200,descdelay=300",
         "740,sn=56,com=5,driver=0x00020814,qfailbaud=3000000"});
  Block block;
  block.serial(55).dialogs(0);
  EXPECT_EQ(select(&block), 1);
  auto& s = link::link_state();
  ASSERT_EQ(s.channel(), link::Channel::usb);  // found although its description came late
  EXPECT_EQ(s.port_id, 0x0101);                // "MCA-740" with variant 2
  EXPECT_EQ(block.chosen_port(), 0x0101);
  EXPECT_EQ(block.chosen_baud(), 115200u);
  EXPECT_STREQ(s.port_name, "USB");
  std::string calls = bridge_.calls();
  EXPECT_NE(calls.find("SetLatencyTimer 0 8\n"), std::string::npos) << calls;
  EXPECT_NE(calls.find("SetBaudRate 0 3000000\nSetBaudRate 0 307200\nSetBaudRate 0 115200\n"), std::string::npos)
      << calls;
  EXPECT_TRUE(bridge_.closed(1));
  EXPECT_TRUE(port_free(*sim_, "COM2"));

  // A device whose queue query fails at the first rate is lost: no link,
  // and the block still gets the rate it was lost at.
  link::close_link(s);
  Block lost;
  lost.serial(56).dialogs(0);
  EXPECT_EQ(select(&lost), 0);
  EXPECT_FALSE(s.link_open());
  EXPECT_EQ(lost.chosen_port(), 0x0101);
  EXPECT_EQ(lost.chosen_baud(), 3000000u);
  calls = bridge_.calls();
  EXPECT_NE(calls.find("SetLatencyTimer 1 2\n"), std::string::npos) << calls;
  EXPECT_TRUE(bridge_.closed(1));  // closed by the loss
}

TEST_F(Select, RedetectWithASpecialIpFindsItSelectsNothingByItselfAndRemembersIt) {
  // The host's address without a mask: the broadcast goes nowhere, only a
  // directed probe reaches the analyser at 127.0.0.9.
  ::setenv("LYRALINK_HOST_ADDRESSES", "127.0.0.1", 1);
  start({"--serial", "COM1=740,sn=1", "--udp", "127.0.0.9=740,sn=909"});
  WindowsInstalled shown(windows_);
  windows_.selection_script = {DialogAction::again("127.0.0.9"), DialogAction::pick("MCA-740#00909")};
  Block block;
  block.serial(909);
  EXPECT_EQ(select(&block), 1);
  auto& s = link::link_state();
  ASSERT_EQ(s.channel(), link::Channel::ethernet);
  EXPECT_STREQ(s.device_address, "127.0.0.9");
  EXPECT_EQ(block.chosen_port(), 0);
  EXPECT_EQ(block.bytes[20], 0xEE);  // no baud adjustment on Ethernet

  // Pass 1 knew no 127.0.0.9 and no special IP; pass 2 had both, and the
  // wanted serial number did not take it by itself: the dialog ran.
  ASSERT_EQ(windows_.dialog_lines.size(), 2u);
  EXPECT_EQ(windows_.dialog_lines[0].size(), 1u);
  EXPECT_EQ(windows_.dialog_lines[0][0].text, "MCA-740#00001 on COM1\t FW# 13.04");
  EXPECT_TRUE(windows_.dialog_lines[0][0].applicable);
  EXPECT_EQ(windows_.dialog_lines[1][0].text, "MCA-740#00909 on 127.0.0.9\t FW# 13.04");
  EXPECT_EQ(windows_.special_ips_given, (std::vector<std::string>{"", "127.0.0.9"}));
  EXPECT_EQ(windows_.events, (std::vector<std::string>{"wait: Detecting MCA's ...", "close wait", "selection dialog",
                                                       "repaint", "wait: Redetecting MCA's ...", "close wait",
                                                       "selection dialog", "repaint"}));
  EXPECT_TRUE(port_free(*sim_, "COM1"));

  // Remembered: the registry value for index 0 holds it.
  auto store = user_store();
  auto v = store->get_value(kSpecialIpKey, "#00");
  ASSERT_TRUE(v);
  EXPECT_EQ(v->data, "127.0.0.9");

  // A later call probes it directly without anything typed, and takes it by
  // its serial number.
  link::close_link(s);
  windows_.events.clear();
  Block later;
  later.serial(909).dialogs(0);
  EXPECT_EQ(select(&later), 1);
  EXPECT_STREQ(s.device_address, "127.0.0.9");
  EXPECT_TRUE(windows_.events.empty());
}

TEST_F(Select, ABlankSpecialIpProbesNothingOnThisMachine) {
  // The dialog's blank fields give 0.0.0.0, and Linux delivers a datagram
  // to 0.0.0.0 to this machine: the emulator on 127.0.0.1 would answer.
  // No broadcast here (no mask), so only a directed probe could reach it.
  ::setenv("LYRALINK_HOST_ADDRESSES", "127.0.0.2", 1);
  auto store = user_store();
  ASSERT_TRUE(store->create_key(kSpecialIpKey));
  ASSERT_TRUE(store->set_value(kSpecialIpKey, platform::RegistryValue::string("#00", "0.0.0.0")));
  start({"--udp", "127.0.0.1=740,sn=5"});
  WindowsInstalled shown(windows_);
  windows_.selection_script = {DialogAction::again("0.0.0.0")};  // then cancel
  EXPECT_EQ(select(nullptr), 0);
  ASSERT_EQ(windows_.dialog_lines.size(), 2u);
  EXPECT_TRUE(windows_.dialog_lines[0].empty());  // remembered
  EXPECT_TRUE(windows_.dialog_lines[1].empty());  // typed and remembered
  EXPECT_TRUE(sim_->frames().empty());
}

TEST_F(Select, AStoredListWithAnEmptyFirstAddressStaysWithinItsTwentyEntries) {
  // The store as another program may leave it: "#00" written empty, "#01"
  // to "#19" filled. Entry 0 stays empty after a load, so every call loads
  // again; the remember at the end must stay inside the 20 entries.
  ::setenv("LYRALINK_HOST_ADDRESSES", "127.0.0.1", 1);
  auto store = user_store();
  ASSERT_TRUE(store->create_key(kSpecialIpKey));
  ASSERT_TRUE(store->set_value(kSpecialIpKey, platform::RegistryValue::string("#00", "")));
  for (size_t p = 1; p < kSpecialIpCapacity; ++p) {
    // Loopback addresses where nothing answers.
    ASSERT_TRUE(store->set_value(
        kSpecialIpKey, platform::RegistryValue::string(special_ip_value_name(p), "127.0.1." + std::to_string(p))));
  }
  start({"--udp", "127.0.0.9=740,sn=909"});
  Block quiet;
  quiet.dialogs(0);
  EXPECT_EQ(select(&quiet), 0);
  EXPECT_EQ(select(&quiet), 0);
  EXPECT_EQ(special_ip_list().count(), kSpecialIpCapacity);

  // The analyser chosen through the special IP typed in the dialog.
  WindowsInstalled shown(windows_);
  windows_.selection_script = {DialogAction::again("127.0.0.9"), DialogAction::pick("MCA-740#00909")};
  EXPECT_EQ(select(nullptr), 1);
  EXPECT_STREQ(link::link_state().device_address, "127.0.0.9");
  const SpecialIpList& list = special_ip_list();
  EXPECT_EQ(list.count(), kSpecialIpCapacity);
  EXPECT_EQ(list.at(0), "127.0.0.9");
  EXPECT_EQ(list.at(1), "");
  EXPECT_EQ(list.at(kSpecialIpCapacity - 1), "127.0.1.18");  // 127.0.1.19 fell out
  EXPECT_EQ(store->get_value(kSpecialIpKey, "#00")->data, "127.0.0.9");
  EXPECT_EQ(store->get_value(kSpecialIpKey, "#19")->data, "127.0.1.18");
}

TEST_F(Select, WithoutAUdpSocketTheSerialAndUsbSearchesStillRun) {
  start({"--serial", "COM2=740,sn=42", "--udp", "127.0.0.2=740,sn=43"}, {"740,sn=44,com=4"});
  auto& s = link::link_state();
  link::terminate_ethernet(s);  // no socket left from before
  UdpSocketsFail no_udp;
  Block block;
  block.dialogs(0);
  EXPECT_EQ(select(&block), 0);
  EXPECT_FALSE(s.udp_socket);
  EXPECT_EQ(list_texts(),
            (std::vector<std::string>{"MCA-740#00044 on USB\t FW# 13.04", "MCA-740#00042 on COM2\t FW# 13.04"}));
  EXPECT_TRUE(frames_of(sim_->frames(), "127.0.0.2", k740Probe).empty());
  EXPECT_TRUE(port_free(*sim_, "COM2"));
  EXPECT_TRUE(bridge_.closed(0));
}

TEST_F(Select, CancelLeavesNothingOpenAndDefaultsAdmitOnlyNewer740s) {
  start({"--serial", "COM1=740,sn=1,fw=0x1116", "--serial", "COM2=310,sn=2,fw=0xFFFF", "--serial", "COM3=740,sn=3,fw=0x1115"},
        {"740,sn=4,com=3"});
  WindowsInstalled shown(windows_);
  EXPECT_EQ(select(nullptr), 0);  // the dialog is cancelled
  EXPECT_FALSE(link::link_state().link_open());
  ASSERT_EQ(windows_.dialog_lines.size(), 1u);
  const auto& lines = windows_.dialog_lines[0];
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0].text, "MCA-740#00004 on USB\t FW# 13.04");
  EXPECT_TRUE(lines[0].applicable);
  EXPECT_EQ(lines[1].text, "MCA-740#00001 on COM1\t FW# 11.16");
  EXPECT_TRUE(lines[1].applicable);
  EXPECT_EQ(lines[2].text, "MCA-310#00002 on COM2\t FW# FF.FF\t(unsuitable)");
  EXPECT_FALSE(lines[2].applicable);
  EXPECT_EQ(lines[3].text, "MCA-740#00003 on COM3\t FW# 11.15\t(unsuitable)");
  for (const char* p : {"COM1", "COM2", "COM3"}) EXPECT_TRUE(port_free(*sim_, p)) << p;
  EXPECT_TRUE(bridge_.closed(0));

  // The next call starts from an empty list. With the splash flag the splash
  // window stands in for the wait window.
  windows_.events.clear();
  windows_.selection_script = {DialogAction::pick("MCA-740#00001")};
  Block block;
  block.splash(1);
  EXPECT_EQ(select(&block), 1);
  EXPECT_EQ(device_list().size(), 4u);
  EXPECT_STREQ(link::link_state().port_name, "COM1");
  EXPECT_EQ(block.chosen_port(), 1);
  EXPECT_EQ(block.chosen_baud(), 3000000u);
  EXPECT_EQ(windows_.events,
            (std::vector<std::string>{"splash", "close splash", "selection dialog", "repaint",
                                      "wait: The baudrate is being adjusted.", "close wait"}));
}

}  // namespace
