// SPDX-License-Identifier: LGPL-2.1-or-later
// The windows' rules without Qt: list order and the index handed back, the
// check-box rule, Redetect, the head dialog's address and title, the
// IP-address fields, template geometry, tab columns, window placement, the
// platform choice made before Qt starts, and the bytes of an in-memory
// dialog template (what the Win32 dialog manager reads on Windows).
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <set>

#include "lyralink/dialogs/dialog_template.h"
#include "lyralink/dialogs/ip_address_model.h"
#include "lyralink/dialogs/platform_choice.h"
#include "lyralink/dialogs/selection_rules.h"
#include "lyralink/dialogs/template_geometry.h"

namespace {

using namespace lyralink::dialogs;

const std::string kUsb12 = "MCA-740#00012 on USB\t FW# 12.00";
const std::string kCom3 = "MCA-740#00007 on COM3\t FW# 12.00";
const std::string kInUse = "MCA-740#00031 on 10.0.0.9\t FW# 12.00\t(in use)";
const std::string kUnsuitable = "MCA-310#00004 on COM1\t FW# 02.10\t(unsuitable)";
const std::string kInoperable = "MCA-740#????? on USB\t FW# ??.??\t(inoperable)";

TEST(SelectionRules, ListsShowTextOrderAndConfirmGivesTheDeviceListIndex) {
  SelectionRules rules({{kUsb12, true}, {kCom3, true}, {kInUse, false}, {kUnsuitable, false}, {kInoperable, false}}, "");
  // The serial number comes first in the text, so COM3's line sorts first.
  EXPECT_EQ(rules.applicable_list(), (std::vector<std::string>{kCom3, kUsb12}));
  EXPECT_EQ(rules.inapplicable_list(), (std::vector<std::string>{kUnsuitable, kInUse, kInoperable}));
  EXPECT_TRUE(rules.select_enabled());
  EXPECT_EQ(rules.confirm(kUsb12), 0);
  EXPECT_EQ(rules.confirm(kCom3), 1);
  // Lines of the lower list, unknown texts and no selection do nothing.
  EXPECT_EQ(rules.confirm(kInUse), std::nullopt);
  EXPECT_EQ(rules.confirm(std::string("MCA-740#00099 on USB")), std::nullopt);
  EXPECT_EQ(rules.confirm(std::nullopt), std::nullopt);
}

TEST(SelectionRules, ConfirmTakesTheFirstApplicableEntryWithTheText) {
  SelectionRules rules({{kCom3, false}, {kCom3, true}, {kUsb12, true}, {kCom3, true}}, "");
  EXPECT_EQ(rules.confirm(kCom3), 1);
}

TEST(SelectionRules, WithoutApplicableEntriesSelectStaysDisabledWhateverTheBox) {
  SelectionRules rules({{kInUse, false}, {kUnsuitable, false}}, "10.0.0.25");
  EXPECT_TRUE(rules.applicable_list().empty());
  EXPECT_FALSE(rules.select_enabled());
  EXPECT_FALSE(rules.ip_control_enabled());
  EXPECT_EQ(rules.special_ip(), "10.0.0.25");
  EXPECT_TRUE(rules.box_clicked(true));
  EXPECT_FALSE(rules.select_enabled());
  EXPECT_TRUE(rules.applicable_list_enabled());
  EXPECT_TRUE(rules.ip_control_enabled());
  EXPECT_FALSE(rules.box_clicked(false));
  EXPECT_FALSE(rules.select_enabled());
  EXPECT_FALSE(rules.ip_control_enabled());
}

TEST(SelectionRules, TickedBoxDisablesTheChoiceUntilItIsCleared) {
  SelectionRules rules({{kCom3, true}}, "");
  EXPECT_TRUE(rules.box_clicked(true));
  EXPECT_FALSE(rules.select_enabled());
  EXPECT_FALSE(rules.applicable_list_enabled());
  EXPECT_TRUE(rules.ip_control_enabled());
  EXPECT_EQ(rules.confirm(kCom3), std::nullopt);
  rules.box_clicked(false);
  EXPECT_TRUE(rules.select_enabled());
  EXPECT_TRUE(rules.applicable_list_enabled());
  EXPECT_FALSE(rules.ip_control_enabled());
  EXPECT_EQ(rules.confirm(kCom3), 0);
}

TEST(SelectionRules, RedetectHandsBackTheTypedAddressOnlyWithTheBoxTicked) {
  SelectionRules rules({{kCom3, true}}, "192.168.1.77");
  EXPECT_EQ(rules.redetect("10.0.0.25"), "");
  rules.box_clicked(true);
  EXPECT_EQ(rules.redetect("10.0.0.25"), "10.0.0.25");
}

TEST(ListOrder, LettersCompareWithoutCaseAndEqualTextsKeepTheirOrder) {
  EXPECT_TRUE(list_text_less("abc", "ABD"));
  EXPECT_TRUE(list_text_less("ABC", "abd"));
  EXPECT_FALSE(list_text_less("abd", "ABC"));
  EXPECT_TRUE(list_text_less("MCA-310#00001 on COM1", "MCA-740#00000 on COM1"));
  EXPECT_TRUE(list_text_less("MCA-740", "MCA-740#1"));
  EXPECT_TRUE(list_text_less("MCA", "mca"));  // only case differs: bytes decide
  EXPECT_FALSE(list_text_less("x", "x"));
  auto sorted = sorted_list({"Trebla#00042 on 10.0.0.1", "mca-740#00002 on 10.0.0.3", "MCA-740#00001 on 10.0.0.2"});
  EXPECT_EQ(sorted, (std::vector<std::string>{"MCA-740#00001 on 10.0.0.2", "mca-740#00002 on 10.0.0.3",
                                              "Trebla#00042 on 10.0.0.1"}));
}

TEST(HeadSelection, AddressFollowsTheFirstOnWithoutInUse) {
  EXPECT_EQ(head_line_address("MCA-740#00012 on 192.168.1.20 (in use)"), "192.168.1.20");
  EXPECT_EQ(head_line_address("MCA-740#00012 on 192.168.1.20"), "192.168.1.20");
  EXPECT_EQ(head_line_address("Trebla#00042 on 10.0.0.5 (in use)"), "10.0.0.5");
  EXPECT_EQ(head_line_address("MCA-740#00012 on 10.0.0.5\t FW# 12.00"), "10.0.0.5");
  // Lines that name no address cannot be confirmed.
  EXPECT_EQ(head_line_address("MCA-740#00012"), std::nullopt);
  EXPECT_EQ(head_line_address("MCA-740#00012 on "), std::nullopt);
  EXPECT_EQ(head_line_address("MCA-740#00012 on 1234567890.1234567"), std::nullopt);
}

TEST(HeadSelection, TitleFollowsTheFirstLineInListOrder) {
  HeadSelectionRules heads({"Trebla#00042 on 10.0.0.5 (in use)", "Trebla#00007 on 10.0.0.6"});
  EXPECT_EQ(heads.list().front(), "Trebla#00007 on 10.0.0.6");
  EXPECT_EQ(heads.title(), "Detected measuring heads");
  HeadSelectionRules analysers({"MCA-740#00012 on 10.0.0.5"});
  EXPECT_EQ(analysers.title(), "Detected Lyra's");
  // Line 0 decides: an analyser sorts before a head.
  HeadSelectionRules mixed({"Trebla#00042 on 10.0.0.5", "MCA-740#00012 on 10.0.0.6"});
  EXPECT_EQ(mixed.title(), "Detected Lyra's");
  EXPECT_EQ(HeadSelectionRules({}).title(), "Detected Lyra's");
  EXPECT_EQ(heads.confirm(std::string("Trebla#00042 on 10.0.0.5 (in use)")), "10.0.0.5");
  EXPECT_EQ(heads.confirm(std::nullopt), std::nullopt);
  EXPECT_EQ(heads.confirm(std::string("Trebla#00001 on 10.0.0.1")), std::nullopt);
}

TemplateControl ctl(Rect units, int min_width = 0, int min_height = 0) {
  TemplateControl c;
  c.units = units;
  c.min_width = min_width;
  c.min_height = min_height;
  return c;
}

IpAddressModel typed(const std::string& keys) {
  IpAddressModel m;
  m.set_range(3, 1, 254);
  m.enter_field(0, true);
  for (char c : keys) m.type(c);
  return m;
}

TEST(IpAddress, TypedDotsAndThirdDigitsMoveOn) {
  auto m = typed("10.0.0.25");
  EXPECT_EQ(m.text(), "10.0.0.25");
  EXPECT_EQ(m.current_field(), 3);
  auto full = typed("1921681");
  EXPECT_EQ(full.field_text(0), "192");
  EXPECT_EQ(full.field_text(1), "168");
  EXPECT_EQ(full.field_text(2), "1");
  EXPECT_EQ(full.text(), "192.168.1.0");
  // The dot after a third digit does not skip the next field.
  EXPECT_EQ(typed("192.168.1.1").text(), "192.168.1.1");
  EXPECT_EQ(typed("1..2").text(), "1.2.0.0");
  // A dot in the last field and anything but digits change nothing.
  auto end = typed("1.2.3.4.5");
  EXPECT_EQ(end.text(), "1.2.3.45");
  IpAddressModel letters;
  EXPECT_FALSE(letters.type('a'));
  EXPECT_FALSE(letters.type('-'));
  EXPECT_TRUE(letters.blank());
}

TEST(IpAddress, FieldsAreBroughtIntoRangeWhenLeftAndWhenRead) {
  auto m = typed("300");  // the third digit leaves the field
  EXPECT_EQ(m.field_text(0), "255");
  EXPECT_EQ(m.current_field(), 1);
  auto last = typed("1.2.3.0");
  EXPECT_EQ(last.values()[3], 1u);  // read while still being edited
  last.leave();
  EXPECT_EQ(last.field_text(3), "1");
  auto high = typed("1.2.3.255");
  EXPECT_EQ(high.text(), "1.2.3.254");
  auto zeros = typed("007.1.2.3");
  EXPECT_EQ(zeros.field_text(0), "7");
}

TEST(IpAddress, BlankFieldsReadAsZero) {
  IpAddressModel m;
  m.set_range(3, 1, 254);
  m.set_text("");
  EXPECT_TRUE(m.blank());
  EXPECT_EQ(m.text(), "0.0.0.0");
  m.set_text("10..3");
  EXPECT_FALSE(m.blank());
  EXPECT_EQ(m.field_text(1), "");
  EXPECT_EQ(m.text(), "10.0.3.0");
}

TEST(IpAddress, SetTextKeepsOnlyNumericFieldsInRange) {
  IpAddressModel m;
  m.set_range(3, 1, 254);
  m.set_text("10.0.0.25");
  EXPECT_EQ(m.text(), "10.0.0.25");
  m.set_text("999.1.x.0");
  EXPECT_EQ(m.field_text(0), "255");
  EXPECT_EQ(m.field_text(2), "");
  EXPECT_EQ(m.field_text(3), "1");
  m.set_text("1.2.3.4.5.6");
  EXPECT_EQ(m.text(), "1.2.3.4");
  m.set_text("1234.5.6.7");
  EXPECT_EQ(m.field_text(0), "");
}

TEST(IpAddress, BackspaceAtAFieldStartGoesBackAndArrowsCrossFields) {
  auto m = typed("12.");
  EXPECT_EQ(m.current_field(), 1);
  m.backspace();  // empty field: back to the end of the previous one
  EXPECT_EQ(m.current_field(), 0);
  EXPECT_EQ(m.caret(), 2u);
  m.backspace();
  EXPECT_EQ(m.field_text(0), "1");
  m.move_right();
  EXPECT_EQ(m.current_field(), 1);
  EXPECT_EQ(m.caret(), 0u);
  m.move_left();
  EXPECT_EQ(m.current_field(), 0);
  EXPECT_EQ(m.caret(), 1u);
  m.home();
  m.type('9');
  EXPECT_EQ(m.field_text(0), "91");
  m.end();
  EXPECT_EQ(m.current_field(), 3);
  m.erase_forward();
  EXPECT_EQ(m.text(), "91.0.0.0");
}

TEST(IpAddress, EnteringAFieldSelectsItSoTypingReplacesIt) {
  IpAddressModel m;
  m.set_text("10.20.30.40");
  m.enter_field(1, true);
  EXPECT_TRUE(m.field_selected());
  m.type('7');
  EXPECT_EQ(m.text(), "10.7.30.40");
  m.enter_field(2, true);
  m.backspace();
  EXPECT_EQ(m.field_text(2), "");
  // A full field with the caret at its end passes the digit on.
  m.set_text("1.2.3.4");
  m.enter_field(0, false);
  m.type('2');
  m.type('3');
  EXPECT_EQ(m.field_text(0), "123");
  EXPECT_EQ(m.current_field(), 1);
  m.paste("172.16.0.9");
  EXPECT_EQ(m.text(), "172.16.0.9");
  // A full field takes no digit in front of its text.
  m.home();
  m.paste("8");
  EXPECT_EQ(m.field_text(0), "172");
}

TEST(Geometry, DialogUnitsFollowTheFontsAverageCharacter) {
  EXPECT_EQ(base_units(312, 13).x, 6);  // 312 / 52 = 6
  EXPECT_EQ(base_units(325, 13).x, 6);  // 6.25 rounds down
  EXPECT_EQ(base_units(338, 13).x, 7);  // 6.5 rounds up
  auto layout = lay_out_template({214, 172}, {6, 13}, {ctl({5, 155, 65, 14}), ctl({145, 135, 65, 12})});
  EXPECT_EQ(layout.size, (Size{321, 280}));  // 214 * 6 / 4, 172 * 13 / 8 rounded
  EXPECT_EQ(layout.controls[0], (Rect{8, 252, 97, 23}));  // edges rounded, width between them
  EXPECT_EQ(layout.controls[1], (Rect{218, 219, 97, 20}));
}

TEST(Geometry, ControlsThatNeedMoreHeightPushWhatLiesBelowOnce) {
  // Three buttons in a row under an address field, as in the selection
  // dialog: each button needs 30 pixels instead of 23.
  std::vector<TemplateControl> controls{ctl({5, 155, 65, 14}, 0, 30), ctl({75, 155, 65, 14}, 0, 30),
                                        ctl({145, 155, 65, 14}, 0, 30), ctl({145, 135, 65, 12}, 0, 26),
                                        ctl({5, 15, 205, 45})};
  auto plain = lay_out_template({214, 172}, {6, 13}, {controls[0], controls[1], controls[2], controls[3], controls[4]});
  auto base = lay_out_template({214, 172}, {6, 13}, {ctl({5, 155, 65, 14}), ctl({75, 155, 65, 14}), ctl({145, 155, 65, 14}),
                                                      ctl({145, 135, 65, 12}), ctl({5, 15, 205, 45})});
  int address_growth = 26 - base.controls[3].height;
  int button_growth = 30 - base.controls[0].height;
  EXPECT_EQ(plain.controls[3].y, base.controls[3].y);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(plain.controls[i].height, 30);
    EXPECT_EQ(plain.controls[i].y, base.controls[i].y + address_growth);
  }
  EXPECT_EQ(plain.controls[4], base.controls[4]);  // the list above moves not
  EXPECT_EQ(plain.size.height, base.size.height + address_growth + button_growth);
}

TEST(Geometry, TextWiderThanItsControlWidensTheDialogEvenly) {
  std::vector<TemplateControl> controls{ctl({5, 136, 135, 10}, 260, 0), ctl({145, 135, 65, 12}), ctl({145, 155, 65, 14})};
  auto layout = lay_out_template({214, 172}, {6, 13}, controls);
  EXPECT_GE(layout.controls[0].width, 260);
  // The address field and the button under it stay aligned.
  EXPECT_EQ(layout.controls[1].x, layout.controls[2].x);
  EXPECT_EQ(layout.controls[1].width, layout.controls[2].width);
  EXPECT_GT(layout.controls[1].x, layout.controls[0].right());
  EXPECT_EQ(layout.size.width, static_cast<int>(std::lround(214 * layout.unit_x)));
  EXPECT_GT(layout.size.width, layout.controls[2].right());
}

TEST(Geometry, WrappedLabelPushesTheListBelowIt) {
  std::vector<TemplateControl> controls{ctl({5, 65, 205, 20}), ctl({5, 85, 205, 45}), ctl({5, 155, 65, 14})};
  controls[0].height_for_width = [](int width) { return width < 400 ? 3 * 15 : 2 * 15; };
  auto layout = lay_out_template({214, 172}, {6, 13}, controls);
  int growth = 45 - 32;  // units 65..85 are pixels 106..138 at 13 / 8
  EXPECT_EQ(layout.controls[0].height, 45);
  EXPECT_EQ(layout.controls[1].y, 138 + growth);
  EXPECT_EQ(layout.controls[2].y, 252 + growth);
  EXPECT_EQ(layout.size.height, 280 + growth);
}

TEST(Geometry, TabColumnsLineUpAcrossAllLines) {
  // Stops at 172 and 240 pixels; the second line's first piece reaches past
  // the first stop, so every line's second column moves with it.
  auto columns = tab_columns({{120, 60}, {190, 60, 50}, {100}}, {172, 240}, 4, 48);
  ASSERT_EQ(columns.size(), 3u);
  EXPECT_EQ(columns[0], 0);
  EXPECT_EQ(columns[1], 194);
  EXPECT_EQ(columns[2], 258);  // 194 + 60 + 4 passes the stop at 240
  auto fits = tab_columns({{100, 30, 20}, {90, 40, 20}}, {172, 240}, 4, 48);
  EXPECT_EQ(fits, (std::vector<int>{0, 172, 240}));
  // Past the given stops, columns keep the distance of the last two.
  auto more = tab_columns({{10, 10, 10, 10}}, {172, 240}, 4, 48);
  EXPECT_EQ(more[3], 308);
  auto none = tab_columns({{10, 10}}, {}, 4, 48);
  EXPECT_EQ(none[1], 48);
  EXPECT_EQ(tab_segments("a\tb\t\tc"), (std::vector<std::string>{"a", "b", "", "c"}));
}

TEST(Placement, WaitWindowCentresOverItsParentRoundingTowardZero) {
  EXPECT_EQ(centre_over({100, 100, 800, 600}, {200, 50}), (Point{400, 375}));
  EXPECT_EQ(centre_over({0, 0, 101, 101}, {0, 0}), (Point{50, 50}));
  EXPECT_EQ(centre_over({-301, -301, 100, 100}, {0, 0}), (Point{-251, -251}));
  EXPECT_EQ(centre_on_screen({0, 0, 1024, 768}, {201, 51}), (Point{411, 358}));
  EXPECT_EQ(centre_on_screen({0, 32, 1024, 736}, {200, 50}), (Point{412, 375}));
}

TEST(Placement, SplashWindowSitsAtHalfTheScreenLessHalfItsSize) {
  EXPECT_EQ(splash_position({0, 0, 1024, 768}), (Point{327, 264}));
  EXPECT_EQ(splash_position({0, 0, 1025, 769}), (Point{327, 264}));
  EXPECT_EQ(kSplashSize, (Size{370, 240}));
  EXPECT_EQ(kBannerSize, (Size{250, 25}));
  ASSERT_EQ(std::size(kSplashSchedule), 3u);
  EXPECT_EQ(kSplashSchedule[0].at_ms, 0);
  EXPECT_EQ(kSplashSchedule[1].at_ms, 1000);
  EXPECT_EQ(kSplashSchedule[1].picture, SplashPicture::detecting_banner);
  EXPECT_EQ(kSplashSchedule[2].at_ms, 3000);
  EXPECT_EQ(kSplashSchedule[2].picture, SplashPicture::wait_banner);
}

class FakeProbe final : public DisplayProbe {
 public:
  std::set<std::string> plugins;
  std::set<std::string> displays;
  std::set<std::string> sockets;
  std::vector<std::string> asked;
  bool plugin_loads(const std::vector<std::string>& files) override {
    for (const auto& f : files) {
      asked.push_back(f);
      if (plugins.count(f)) return true;
    }
    return false;
  }
  bool x_display_answers(const std::string& d) override { return displays.count(d) > 0; }
  bool socket_accepts(const std::string& p) override { return sockets.count(p) > 0; }
};

TEST(PlatformChoice, CandidatesFollowTheEnvironment) {
  auto list = platform_candidates({"wayland; xcb:display=:3;;offscreen", ":1", "wayland-1", "/run/user/1"});
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list[0].argument, "wayland");
  EXPECT_EQ(list[1].argument, "xcb:display=:3");
  EXPECT_EQ(list[1].plugin, "xcb");
  EXPECT_EQ(list[2].plugin, "offscreen");
  auto session = platform_candidates({"", ":0", "wayland-0", "/run/user/1"});
  ASSERT_EQ(session.size(), 2u);
  EXPECT_EQ(session[0].plugin, "wayland");
  EXPECT_EQ(session[1].plugin, "xcb");
  EXPECT_TRUE(platform_candidates({"", "", "", "/run/user/1"}).empty());
  EXPECT_EQ(wayland_socket_path({"", "", "wayland-1", "/run/user/7"}), "/run/user/7/wayland-1");
  EXPECT_EQ(wayland_socket_path({"", "", "/tmp/w", ""}), "/tmp/w");
  EXPECT_EQ(wayland_socket_path({"", "", "", "/run/user/7"}), "/run/user/7/wayland-0");
  EXPECT_EQ(wayland_socket_path({"", "", "wayland-1", ""}), "");
}

TEST(PlatformChoice, OnlyAPlatformThatCanStartIsChosen) {
  FakeProbe probe;
  probe.plugins = {"libqxcb.so", "libqoffscreen.so", "libqeglfs.so"};
  // An X server that does not answer: nothing, so Qt is never started.
  EXPECT_EQ(choose_platform({"", ":9", "", ""}, probe), std::nullopt);
  probe.displays = {":9"};
  EXPECT_EQ(choose_platform({"", ":9", "", ""}, probe), "xcb");
  // A compositor without the Wayland plugin falls back to X11.
  probe.sockets = {"/run/user/1/wayland-0"};
  EXPECT_EQ(choose_platform({"", ":9", "wayland-0", "/run/user/1"}, probe), "xcb");
  probe.plugins.insert("libqwayland-egl.so");
  EXPECT_EQ(choose_platform({"", ":9", "wayland-0", "/run/user/1"}, probe), "wayland");
  // Named platforms: unknown or unloadable ones are passed over.
  EXPECT_EQ(choose_platform({"bogus;offscreen", "", "", ""}, probe), "offscreen");
  EXPECT_EQ(choose_platform({"eglfs", "", "", ""}, probe), std::nullopt);
  EXPECT_EQ(choose_platform({"minimal", "", "", ""}, probe), std::nullopt);
  EXPECT_EQ(choose_platform({"xcb", "", "", ""}, probe), std::nullopt);  // no DISPLAY
  EXPECT_EQ(choose_platform({"xcb:nograb", ":9", "", ""}, probe), "xcb:nograb");
}

// Reads a template back the way the dialog manager walks it.
class TemplateReader {
 public:
  explicit TemplateReader(const std::vector<uint8_t>& bytes) : b_(bytes) {}
  uint16_t word() {
    EXPECT_LE(at_ + 2, b_.size());
    if (at_ + 2 > b_.size()) return 0;
    uint16_t v = static_cast<uint16_t>(b_[at_] | (b_[at_ + 1] << 8));
    at_ += 2;
    return v;
  }
  uint32_t dword() {
    uint32_t low = word();
    return low | (static_cast<uint32_t>(word()) << 16);
  }
  int16_t coordinate() { return static_cast<int16_t>(word()); }
  uint8_t byte() { return at_ < b_.size() ? b_[at_++] : 0; }
  std::u16string text() {
    std::u16string s;
    while (uint16_t c = word()) s.push_back(static_cast<char16_t>(c));
    return s;
  }
  void align() { at_ = (at_ + 3) / 4 * 4; }
  size_t at() const { return at_; }

 private:
  const std::vector<uint8_t>& b_;
  size_t at_ = 0;
};

DialogTemplate two_item_template() {
  DialogTemplate d;
  d.style = 0x80C80000u;  // popup, caption, system menu
  d.ex_style = 0x80;
  d.units = {0, 0, 214, 172};
  d.title = "Detected Lyra's";
  d.point_size = 8;
  d.font = "MS Sans Serif";
  TemplateItem box;
  box.id = 1008;
  box.style = 0x50010003u;
  box.units = {5, 136, 135, 10};
  box.class_atom = kButtonClass;
  box.text = "Include";
  TemplateItem address;
  address.id = 1007;
  address.style = 0x50010000u;
  address.units = {-3, 135, 65, 12};
  address.class_name = "SysIPAddress32";
  TemplateItem label;
  label.units = {5, 5, 205, 10};
  label.class_atom = kStaticClass;
  label.text = "\xB5s";  // an 8-bit character
  d.items = {box, address, label};
  return d;
}

TEST(DialogTemplate, HeaderFontAndItemsAreWhereTheDialogManagerReadsThem) {
  auto bytes = template_bytes(two_item_template());
  TemplateReader r(bytes);
  EXPECT_EQ(r.word(), 1);       // extended form
  EXPECT_EQ(r.word(), 0xFFFF);  // its signature
  EXPECT_EQ(r.dword(), 0u);     // help id
  EXPECT_EQ(r.dword(), 0x80u);
  EXPECT_EQ(r.dword(), 0x80C80000u | kTemplateHasFont);  // a font is named, so the flag is set
  EXPECT_EQ(r.word(), 3);
  EXPECT_EQ(r.coordinate(), 0);
  EXPECT_EQ(r.coordinate(), 0);
  EXPECT_EQ(r.coordinate(), 214);
  EXPECT_EQ(r.coordinate(), 172);
  EXPECT_EQ(r.word(), 0);  // no menu
  EXPECT_EQ(r.word(), 0);  // the dialog class
  EXPECT_EQ(r.text(), u"Detected Lyra's");
  EXPECT_EQ(r.word(), 8);    // points
  EXPECT_EQ(r.word(), 400);  // weight
  EXPECT_EQ(r.byte(), 0);    // italic
  EXPECT_EQ(r.byte(), 1);    // character set
  EXPECT_EQ(r.text(), u"MS Sans Serif");

  // Each item starts on a 4-byte boundary, whatever the strings before it.
  r.align();
  EXPECT_EQ(r.dword(), 0u);  // help id
  EXPECT_EQ(r.dword(), 0u);
  EXPECT_EQ(r.dword(), 0x50010003u);
  EXPECT_EQ(r.coordinate(), 5);
  EXPECT_EQ(r.coordinate(), 136);
  EXPECT_EQ(r.coordinate(), 135);
  EXPECT_EQ(r.coordinate(), 10);
  EXPECT_EQ(r.dword(), 1008u);
  EXPECT_EQ(r.word(), 0xFFFF);  // a predefined class by its ordinal
  EXPECT_EQ(r.word(), kButtonClass);
  EXPECT_EQ(r.text(), u"Include");
  EXPECT_EQ(r.word(), 0);  // no creation data

  size_t before = r.at();
  r.align();
  EXPECT_EQ(r.at() % 4, 0u);
  EXPECT_GE(r.at(), before);
  r.dword();
  r.dword();
  EXPECT_EQ(r.dword(), 0x50010000u);
  EXPECT_EQ(r.coordinate(), -3);  // negative coordinates stay signed
  r.coordinate();
  r.coordinate();
  r.coordinate();
  EXPECT_EQ(r.dword(), 1007u);
  EXPECT_EQ(r.text(), u"SysIPAddress32");  // a registered class by name
  EXPECT_EQ(r.text(), u"");
  EXPECT_EQ(r.word(), 0);

  r.align();
  r.dword();
  r.dword();
  r.dword();
  for (int i = 0; i < 4; ++i) r.coordinate();
  EXPECT_EQ(r.dword(), 0xFFFFFFFFu);  // no id of its own
  EXPECT_EQ(r.word(), 0xFFFF);
  EXPECT_EQ(r.word(), kStaticClass);
  EXPECT_EQ(r.text(), u"\u00B5s");  // the byte is its own code point
  EXPECT_EQ(r.word(), 0);
  EXPECT_EQ(r.at(), bytes.size());
}

TEST(DialogTemplate, WithoutAFontNeitherTheFlagNorTheBlock) {
  DialogTemplate d = two_item_template();
  d.font.clear();
  d.style |= kTemplateHasFont;
  d.items.resize(1);
  auto bytes = template_bytes(d);
  TemplateReader r(bytes);
  r.word();
  r.word();
  r.dword();
  r.dword();
  EXPECT_EQ(r.dword(), 0x80C80000u);
  EXPECT_EQ(r.word(), 1);
  for (int i = 0; i < 4; ++i) r.coordinate();
  r.word();
  r.word();
  EXPECT_EQ(r.text(), u"Detected Lyra's");
  // The item follows the title at once (aligned): its help id, ex-style
  // and style, with no font block before them.
  r.align();
  r.dword();
  r.dword();
  EXPECT_EQ(r.dword(), 0x50010003u);
}

}  // namespace
