// SPDX-License-Identifier: LGPL-2.1-or-later
// The records every search shares: the probes, the identity answer checks
// and fields (answers built by the emulator's own device model), the head
// identity answer, list texts, the in-use and admission rules, duplicate
// removal and automatic selection.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "lyralink/discovery/device_list.h"
#include "lyralink/discovery/identity.h"
#include "tools/lyrasim/device.h"
#include "tools/lyrasim/wire.h"

using namespace lyralink::discovery;

namespace {

std::vector<uint8_t> answer_of(const std::string& device, const Probe& probe) {
  auto id = lyrasim::parse_identity(device, nullptr);
  EXPECT_TRUE(id);
  lyrasim::Analyser a(*id);
  lyrasim::Command c;
  std::memcpy(c.raw.data(), probe.data(), 12);
  return a.respond(c, lyrasim::SteadyClock::now());
}

std::vector<uint8_t> head_frame(const std::string& text, size_t text_bytes = 0) {
  std::vector<uint8_t> data(1024, 0);
  std::memcpy(data.data(), text.data(), std::min<size_t>(text_bytes != 0 ? text_bytes : text.size(), 1024));
  lyrasim::Command c;
  std::memcpy(c.raw.data(), head_identity_query().data(), 12);
  return lyrasim::long_answer(data, c);
}

TEST(Probes, AreTheConstantFramesOnTheWire) {
  const std::vector<uint8_t> p310(probe_310().begin(), probe_310().end());
  const std::vector<uint8_t> p740(probe_740().begin(), probe_740().end());
  const std::vector<uint8_t> head(head_identity_query().begin(), head_identity_query().end());
  EXPECT_EQ(p310, (std::vector<uint8_t>{0xA5, 0x5A, 0x5A, 0, 0, 0, 0, 0, 0, 0, 0xB9, 0x9B}));
  EXPECT_EQ(p740, (std::vector<uint8_t>{0xA5, 0x5A, 0x01, 0x01, 0, 0, 0, 0, 0, 0, 0xB9, 0x9B}));
  EXPECT_EQ(head, (std::vector<uint8_t>{0xA5, 0x5A, 0x08, 0x01, 0, 0, 0, 0, 0, 0, 0xB9, 0x9B}));
}

TEST(IdentityAnswer, FourChecksEachCatchTheirFault) {
  auto good = answer_of("740,sn=4711,fw=0x1304", probe_740());
  ASSERT_EQ(good.size(), 136u);
  EXPECT_TRUE(valid_identity_answer(good.data(), probe_740()));
  // The same answer is not valid for the other probe: the echo names 0x0101.
  EXPECT_FALSE(valid_identity_answer(good.data(), probe_310()));

  auto broken = good;
  broken[0] = 0x00;  // sync word
  EXPECT_FALSE(valid_identity_answer(broken.data(), probe_740()));
  broken = good;
  broken[135] = 0x00;  // end word
  EXPECT_FALSE(valid_identity_answer(broken.data(), probe_740()));
  broken = good;
  broken[110] ^= 1;  // echo, checksum fixed up so that only the echo is wrong
  broken[128] = static_cast<uint8_t>(broken[128] + 1);
  EXPECT_FALSE(valid_identity_answer(broken.data(), probe_740()));
  broken = good;
  broken[128] ^= 0x40;  // checksum
  EXPECT_FALSE(valid_identity_answer(broken.data(), probe_740()));
  broken = good;
  broken[60] ^= 0x01;  // a data byte: the checksum no longer fits
  EXPECT_FALSE(valid_identity_answer(broken.data(), probe_740()));

  for (uint16_t word = 0xAAA8; word <= 0xAAAF; ++word) {
    auto err = lyrasim::error_answer(word);
    EXPECT_FALSE(valid_identity_answer(err.data(), probe_740())) << std::hex << word;
  }
}

TEST(IdentityAnswer, FieldsOfBothModels) {
  auto a740 = answer_of("740,sn=4711,fw=0x1304,variant=2,use=0,uses=3", probe_740());
  const Identity740 id = read_740_fields(a740.data());
  EXPECT_EQ(id.serial, 4711);
  EXPECT_EQ(id.firmware, 0x1304);
  EXPECT_EQ(id.variant, 2);
  EXPECT_NE(id.word2, 0);
  EXPECT_TRUE(id.in_use());

  // A 740 asked with the 310 probe marks itself with 0xFF in bytes 90-93.
  auto marked = answer_of("740,sn=4711", probe_310());
  EXPECT_TRUE(valid_identity_answer(marked.data(), probe_310()));
  EXPECT_TRUE(answer_from_740(marked.data()));

  auto a310 = answer_of("310,sn=99,fw=0x0312", probe_310());
  EXPECT_FALSE(answer_from_740(a310.data()));
  const Identity310 old = read_310_fields(a310.data());
  EXPECT_EQ(old.serial, 99);
  EXPECT_EQ(old.firmware, 0x0312);

  auto fake = answer_of("740,kind=0", probe_740());
  EXPECT_EQ(read_740_fields(fake.data()).word2, 0);
}

TEST(IdentityAnswer, InUseNeedsUseWordZeroAndAPositiveCounter) {
  Identity740 id;
  id.use_word = 0;
  id.use_counter = 1;
  EXPECT_TRUE(id.in_use());
  id.use_counter = 0;
  EXPECT_FALSE(id.in_use());
  id.use_counter = -4;  // signed: a negative counter is no use
  EXPECT_FALSE(id.in_use());
  id.use_word = 1;
  id.use_counter = 7;
  EXPECT_FALSE(id.in_use());
}

TEST(HeadAnswer, ChecksAndSerialNumber) {
  auto f = head_frame("Trebla head SN=42 rest");
  ASSERT_EQ(f.size(), kHeadAnswerFrameSize);
  EXPECT_EQ(parse_head_answer(f.data(), f.size()), 42u);
  EXPECT_EQ(parse_head_answer(f.data(), f.size() - 2), std::nullopt);  // wrong size

  EXPECT_EQ(parse_head_answer(head_frame("Treble SN=42").data(), kHeadAnswerFrameSize), std::nullopt);
  EXPECT_EQ(parse_head_answer(head_frame("Trebla without a number").data(), kHeadAnswerFrameSize), std::nullopt);
  EXPECT_EQ(parse_head_answer(head_frame("trebla SN=1").data(), kHeadAnswerFrameSize), std::nullopt);
  EXPECT_EQ(parse_head_answer(head_frame("Trebla SN=").data(), kHeadAnswerFrameSize), 0u);
  EXPECT_EQ(parse_head_answer(head_frame("Trebla SN= +17x SN=5").data(), kHeadAnswerFrameSize), 17u);

  auto broken = f;
  broken[1034] ^= 1;  // checksum
  EXPECT_EQ(parse_head_answer(broken.data(), broken.size()), std::nullopt);
  broken = f;
  broken[1028] ^= 1;  // echo
  EXPECT_EQ(parse_head_answer(broken.data(), broken.size()), std::nullopt);
  broken = f;
  broken[1037] = 0;  // end word
  EXPECT_EQ(parse_head_answer(broken.data(), broken.size()), std::nullopt);
}

TEST(HeadAnswer, TextIsReadOnlyInsideItsBlock) {
  // "SN=" behind the terminating zero belongs to no text.
  std::string text = std::string("Trebla") + '\0' + "SN=9";
  EXPECT_EQ(parse_head_answer(head_frame(text, text.size()).data(), kHeadAnswerFrameSize), std::nullopt);

  // A block without any zero: the search ends at its last byte; the number
  // there is cut by the block's end, not continued into the echo behind it.
  std::string full = "Trebla";
  full += std::string(1024 - 6 - 5, 'x');
  full += "SN=77";
  ASSERT_EQ(full.size(), 1024u);
  EXPECT_EQ(parse_head_answer(head_frame(full).data(), kHeadAnswerFrameSize), 77u);
  std::string cut = "Trebla" + std::string(1024 - 6 - 3, 'x') + "SN=";
  EXPECT_EQ(parse_head_answer(head_frame(cut).data(), kHeadAnswerFrameSize), 0u);

  // An oversized number stays at the largest 32-bit value, and the list
  // text built from it still fits its field.
  auto huge = parse_head_answer(head_frame("Trebla SN=99999999999999999999999").data(), kHeadAnswerFrameSize);
  ASSERT_EQ(huge, 4294967295u);
  const std::string t = head_text(*huge, "MCA-740#65535 on 255.255.255.255 (in use)");
  EXPECT_EQ(t, "Trebla#4294967295 on 255.255.255.255 (in use)");
  EXPECT_LT(t.size(), kListTextSize);
}

TEST(ListTexts, FormatsAndBounds) {
  EXPECT_EQ(list_text_740(7, "COM3", 0x1304), "MCA-740#00007 on COM3\t FW# 13.04");
  EXPECT_EQ(list_text_740(65535, "192.168.100.200", 0xABCD), "MCA-740#65535 on 192.168.100.200\t FW# AB.CD");
  EXPECT_EQ(list_text_310(123, "USB", 0x0312), "MCA-310#00123 on USB\t FW# 03.12");
  EXPECT_EQ(inoperable_text_740(), "MCA-740#????? on USB\t FW# ??.??\t(inoperable)");
  EXPECT_EQ(inoperable_text_310(), "MCA-310#????? on USB\t FW# ??.??\t(inoperable)");
  EXPECT_EQ(ethernet_search_text(42, "10.0.0.5", false), "MCA-740#00042 on 10.0.0.5");
  EXPECT_EQ(ethernet_search_text(42, "10.0.0.5", true), "MCA-740#00042 on 10.0.0.5 (in use)");
  EXPECT_EQ(head_text(42, "MCA-740#00042 on 10.0.0.5 (in use)"), "Trebla#00042 on 10.0.0.5 (in use)");

  // A hostile "where" never makes a text longer than its field.
  const std::string long_where(200, 'A');
  EXPECT_EQ(list_text_740(1, long_where, 0x1304).size(), kListTextSize - 1);
  DeviceEntry e;
  e.set_list_text(std::string(300, 'x'));
  e.set_ip_address(std::string(300, '1'));
  e.set_port_name("COM123456789");
  EXPECT_EQ(e.list_text.size(), 59u);
  EXPECT_EQ(e.ip_address.size(), 19u);
  EXPECT_EQ(e.port_name, "COM1234");
}

TEST(ListTexts, DeviceAddressOfAnEthernetSearchLine) {
  EXPECT_EQ(address_from_list_text("MCA-740#00042 on 10.0.0.5"), "10.0.0.5");
  EXPECT_EQ(address_from_list_text("MCA-740#00042 on 10.0.0.5 (in use)"), "10.0.0.5");
  EXPECT_EQ(address_from_list_text("Trebla#00042 on 192.168.1.77 (in use)"), "192.168.1.77");
  EXPECT_EQ(address_from_list_text("no address here"), "");
  EXPECT_EQ(address_from_list_text("MCA-740 on"), "");
  EXPECT_EQ(address_from_list_text("x on 1234567890123456789"), "123456789012345");
}

TEST(AdmissionRules, DefaultsAndTheRecordersRules) {
  Admission defaults;
  Identity740 a;
  a.use_word = 1;
  a.firmware = 0x1116;
  EXPECT_TRUE(judge_740(a, defaults).applicable);
  EXPECT_STREQ(judge_740(a, defaults).suffix, "");
  a.firmware = 0x1115;
  EXPECT_FALSE(judge_740(a, defaults).applicable);
  EXPECT_STREQ(judge_740(a, defaults).suffix, "\t(unsuitable)");

  // With the defaults an MCA-310 is never applicable, whatever its firmware.
  Identity310 old{5, 0xFFFF};
  EXPECT_FALSE(judge_310(old, defaults).applicable);
  EXPECT_STREQ(judge_310(old, defaults).suffix, "\t(unsuitable)");
  Admission with_310 = defaults;
  with_310.admit_310 = true;
  with_310.min_fw_310 = 0x0300;
  EXPECT_TRUE(judge_310(Identity310{5, 0x0300}, with_310).applicable);

  Admission recorder;  // the transient recorder's block
  recorder.min_fw_740 = 0x1200;
  a.firmware = 0x1116;
  EXPECT_FALSE(judge_740(a, recorder).applicable);
  a.firmware = 0x1200;
  EXPECT_TRUE(judge_740(a, recorder).applicable);
  Admission no_740 = defaults;
  no_740.admit_740 = false;
  EXPECT_FALSE(judge_740(a, no_740).applicable);

  // In use wins over everything: not applicable, marked in use, not unsuitable.
  a.use_word = 0;
  a.use_counter = 1;
  const Judgement busy = judge_740(a, defaults);
  EXPECT_TRUE(busy.in_use);
  EXPECT_FALSE(busy.applicable);
  EXPECT_STREQ(busy.suffix, "\t(in use)");
}

TEST(UsbBridges, TypeCodesAndPortIdentifiers) {
  EXPECT_EQ(device_type_code("MCA-740 OEM"), 8u);
  EXPECT_EQ(device_type_code("MCA-740 Micro"), 16u);
  EXPECT_EQ(device_type_code("MCA-740"), 4u);
  EXPECT_EQ(device_type_code("MCA-310 Cable"), 2u);
  EXPECT_EQ(device_type_code("MCA-310"), 1u);
  EXPECT_EQ(device_type_code("MCA-740 "), 0u);
  EXPECT_EQ(device_type_code("mca-740"), 0u);
  EXPECT_EQ(device_type_code("FT232R USB UART"), 0u);

  EXPECT_EQ(usb_port_id_740(4, 2), 0x0101);
  EXPECT_EQ(usb_port_id_740(4, 1), 0x0102);
  EXPECT_EQ(usb_port_id_740(4, 0), 0x0102);
  EXPECT_EQ(usb_port_id_740(8, 1), 0x0101);
  EXPECT_EQ(usb_port_id_740(16, 0), 0x0101);
  EXPECT_EQ(usb_port_id_310(1), 0x0102);
  EXPECT_EQ(usb_port_id_310(2), 0x0101);
  EXPECT_TRUE(in_740_family(8) && in_740_family(16) && in_740_family(4));
  EXPECT_TRUE(in_310_family(1) && in_310_family(2));
  EXPECT_FALSE(in_740_family(0) || in_310_family(0));
}

DeviceEntry entry(const std::string& text, uint16_t serial, uint16_t port, const std::string& ip = {}) {
  DeviceEntry e;
  e.set_list_text(text);
  e.serial_number = serial;
  e.port_id = port;
  e.set_ip_address(ip);
  return e;
}

TEST(DeviceListRules, DuplicateAddressesStayOnceAtTheirFirstPlace) {
  DeviceList list;
  list.append(entry("a", 1, 0, "10.0.0.1"));
  list.append(entry("b", 2, 0, "10.0.0.2"));
  list.append(entry("c", 1, 0, "10.0.0.1"));
  list.append(entry("d", 3, 0, "10.0.0.3"));
  list.append(entry("e", 2, 0, "10.0.0.2"));
  list.append(entry("f", 1, 0, "10.0.0.1"));
  remove_duplicate_addresses(list);
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list.at(0).list_text, "a");
  EXPECT_EQ(list.at(1).list_text, "b");
  EXPECT_EQ(list.at(2).list_text, "d");
}

TEST(DeviceListRules, AutomaticSelection) {
  DeviceList list;
  list.append(entry("MCA-740#00077 on 10.0.0.9\t FW# 13.04\t(in use)", 77, 0, "10.0.0.9"));
  list.append(entry("MCA-740#00077 on USB\t FW# 13.04", 77, 0x0101));
  list.append(entry("MCA-740#00077 on COM5\t FW# 10.00\t(unsuitable)", 77, 5));
  list.append(entry("MCA-740#00078 on COM6\t FW# 13.04", 78, 6));
  EXPECT_EQ(find_automatic(list, 77, 0xFFFF), 1u);     // the in-use entry is passed over
  EXPECT_EQ(find_automatic(list, 77, 5), 2u);          // unsuitable, but it is the wanted one
  EXPECT_EQ(find_automatic(list, 77, 0), std::nullopt);  // only Ethernet: the one there is in use
  EXPECT_EQ(find_automatic(list, 78, 0xFFFF), 3u);
  EXPECT_EQ(find_automatic(list, 79, 0xFFFF), std::nullopt);

  // An inoperable entry has no serial number and no port identifier: even
  // a wanted serial number 0 with a matching filter does not take it.
  DeviceList dead;
  DeviceEntry e = entry(inoperable_text_740(), 0, 0);
  e.inoperable = true;
  dead.append(e);
  EXPECT_EQ(find_automatic(dead, 0, 0xFFFF), std::nullopt);
  EXPECT_EQ(find_automatic(dead, 0, 0), std::nullopt);
}

}  // namespace
