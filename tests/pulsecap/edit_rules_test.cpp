// SPDX-License-Identifier: LGPL-2.1-or-later
// The numeric edit field's rules, without a window.
#include <gtest/gtest.h>

#include "pulsecap/core/numeric_edit_rules.h"
#include "tests/pulsecap/fakes.h"

using pulsecap::Background;
using pulsecap::NumericEditRules;
using pulsecap::TextColour;
using Action = NumericEditRules::CharAction;
using pulsecap_test::FakeEdit;

namespace {

struct Field {
  Field() {
    rules.attach(&edit);
    edit.enabled_ = true;
    edit.on_change = [this] { rules.on_text_changed(); };
  }
  // Types one character the way the control would: at the end of the
  // text, or over the selection [from, to).
  Action type(char32_t ch, size_t from = std::string::npos, size_t to = std::string::npos) {
    std::string t = edit.text_;
    if (from == std::string::npos) from = to = t.size();
    const std::string selected = t.substr(from, to - from);
    Action a = rules.on_char(ch, t, selected, from);
    if (a == Action::insert || a == Action::insert_point) {
      const std::string put = a == Action::insert_point ? "." : std::string(1, static_cast<char>(ch));
      if (ch == 8) {
        if (to > from) t.erase(from, to - from);
        else if (from > 0) t.erase(from - 1, 1);
      } else {
        t.replace(from, to - from, put);
      }
      edit.set_text(t);
    }
    return a;
  }
  void type_text(const std::string& s) {
    for (char c : s) type(static_cast<char32_t>(c));
  }
  FakeEdit edit;
  NumericEditRules rules;
};

}  // namespace

TEST(NumericEditRules, DefaultsAndFormatTable) {
  NumericEditRules r;
  EXPECT_EQ(r.minimum(), 0.0);
  EXPECT_EQ(r.maximum(), 1000.0);
  EXPECT_EQ(r.value(), 500.0);
  EXPECT_EQ(r.precision(), 2u);
  EXPECT_FALSE(r.clamp_on_leave());
  EXPECT_FALSE(r.negative_allowed());
  // "%1.0f" ... "%19.18f": p decimals, never padded.
  EXPECT_EQ(NumericEditRules::format(3600, 0), "3600");
  EXPECT_EQ(NumericEditRules::format(2.5, 0), "2");  // round half to even, as printf does
  EXPECT_EQ(NumericEditRules::format(3.5, 0), "4");
  EXPECT_EQ(NumericEditRules::format(1.5, 4), "1.5000");
  EXPECT_EQ(NumericEditRules::format(0.12345, 4), "0.1235");
  EXPECT_EQ(NumericEditRules::format(-0.5, 1), "-0.5");
  EXPECT_EQ(NumericEditRules::format(1.0 / 3.0, 18), "0.333333333333333315");
  EXPECT_EQ(NumericEditRules::format(2, 30), NumericEditRules::format(2, 18));
  for (unsigned p = 0; p <= 18; ++p) {
    const std::string s = NumericEditRules::format(7, p);
    EXPECT_EQ(s.size(), p == 0 ? 1u : p + 2u) << p;
  }
}

TEST(NumericEditRules, ParseReadsTheLeadingNumber) {
  EXPECT_EQ(NumericEditRules::parse(""), 0.0);
  EXPECT_EQ(NumericEditRules::parse("12.5xyz"), 12.5);
  EXPECT_EQ(NumericEditRules::parse("  -3"), -3.0);
  EXPECT_EQ(NumericEditRules::parse("+7."), 7.0);
  EXPECT_EQ(NumericEditRules::parse(".25"), 0.25);
  EXPECT_EQ(NumericEditRules::parse("-"), 0.0);
  EXPECT_EQ(NumericEditRules::parse("."), 0.0);
  EXPECT_EQ(NumericEditRules::parse("1e3"), 1000.0);
  EXPECT_EQ(NumericEditRules::parse("1e"), 1.0);
  EXPECT_EQ(NumericEditRules::parse("nan"), 0.0);
  EXPECT_EQ(NumericEditRules::parse("inf"), 0.0);
  EXPECT_EQ(NumericEditRules::parse("1,5"), 1.0);  // a comma ends the number
  EXPECT_EQ(NumericEditRules::parse("1e-999"), 0.0);
  EXPECT_GT(NumericEditRules::parse("1e999"), 1e300);
}

TEST(NumericEditRules, SettersKeepTheInvariants) {
  Field f;
  f.rules.set_range(10, 5, true);  // minimum above maximum: lowered to it
  EXPECT_EQ(f.rules.minimum(), 5.0);
  EXPECT_EQ(f.rules.maximum(), 5.0);
  EXPECT_EQ(f.rules.value(), 5.0);
  EXPECT_EQ(f.edit.text_, "5.00");
  f.rules.set_range(-2, 3, false);
  EXPECT_TRUE(f.rules.negative_allowed());
  f.rules.set_value(9);
  EXPECT_EQ(f.rules.value(), 3.0);
  f.rules.set_value(-9);
  EXPECT_EQ(f.rules.value(), -2.0);
  EXPECT_EQ(f.edit.text_, "-2.00");
  f.rules.set_precision(40);
  EXPECT_EQ(f.rules.precision(), 18u);
  f.rules.set_range(0, 3600, true);
  EXPECT_FALSE(f.rules.negative_allowed());
  EXPECT_EQ(f.rules.value(), 0.0);
}

TEST(NumericEditRules, MinusSignOnlyAtTheStartWhenNegativeIsAllowed) {
  Field f;
  f.rules.set_range(0, 3600, true);  // the recorder's fields: never a minus sign
  f.edit.set_text("");
  EXPECT_EQ(f.type('-'), Action::drop);
  f.rules.set_range(-100, 100, true);
  f.edit.set_text("12");
  EXPECT_EQ(f.type('-', 1, 1), Action::drop);  // not at position 0
  EXPECT_EQ(f.type('-', 0, 0), Action::insert);
  EXPECT_EQ(f.edit.text_, "-12");
  EXPECT_EQ(f.type('-', 0, 0), Action::drop);  // one is there already
  EXPECT_EQ(f.type('-', 0, 2), Action::insert);  // the selection holds it
  EXPECT_EQ(f.edit.text_, "-2");
}

TEST(NumericEditRules, DecimalPointAndCommaFollowThePrecision) {
  Field f;
  f.rules.set_range(0, 3600, true);
  f.rules.set_precision(0);  // the HV field: never a point, never a comma
  f.edit.set_text("12");
  EXPECT_EQ(f.type('.'), Action::drop);
  EXPECT_EQ(f.type(','), Action::drop);
  EXPECT_EQ(f.edit.text_, "12");

  f.rules.set_precision(4);  // the time field: one point
  f.edit.set_text("1.5");
  EXPECT_EQ(f.type('.'), Action::drop);
  EXPECT_EQ(f.type(','), Action::drop);
  EXPECT_EQ(f.type('.', 1, 3), Action::insert);  // the selection being replaced holds the point
  EXPECT_EQ(f.edit.text_, "1.");
  EXPECT_EQ(f.type('x'), Action::drop);
  EXPECT_EQ(f.type(' '), Action::drop);
  EXPECT_EQ(f.type(8), Action::insert);
  EXPECT_EQ(f.edit.text_, "1");
}

TEST(NumericEditRules, TypingACommaShowsAPointAndLeavingNormalises) {
  Field f;
  f.rules.set_range(0, 3, true);
  f.rules.set_precision(4);
  f.rules.set_length_limit(6);
  f.edit.set_text("");
  f.type_text("1,5");
  EXPECT_EQ(f.edit.text_, "1.5");
  EXPECT_EQ(f.rules.value(), 1.5);  // the value follows the text as typed
  f.rules.on_focus_lost();
  EXPECT_EQ(f.edit.text_, "1.5000");
}

TEST(NumericEditRules, LengthLimitHoldsForTypingOnly) {
  Field f;
  f.rules.set_range(0, 3600, true);
  f.rules.set_precision(0);
  f.rules.set_length_limit(4);
  f.edit.set_text("");
  f.type_text("12345");
  EXPECT_EQ(f.edit.text_, "1234");
  EXPECT_EQ(f.type('9', 0, 1), Action::insert);  // replacing a selected digit
  EXPECT_EQ(f.type(8), Action::insert);           // backspace always
  f.rules.set_range(0, 1e9, true);
  f.rules.set_value(123456789);  // text set from code is never cut
  EXPECT_EQ(f.edit.text_, "123456789");
}

TEST(NumericEditRules, EnterWritesTheTypedValueWithoutARangeCheck) {
  Field f;
  f.rules.set_range(0, 3600, true);
  f.rules.set_precision(0);
  f.edit.set_text("5000");
  EXPECT_EQ(f.type(13), Action::enter);
  EXPECT_EQ(f.rules.value(), 5000.0);
  EXPECT_EQ(f.edit.text_, "5000");
  EXPECT_FALSE(f.rules.is_valid());
}

TEST(NumericEditRules, LeavingClampsToTheNearerBound) {
  Field f;
  f.rules.set_range(0, 3600, true);
  f.rules.set_precision(0);
  f.edit.set_text("5000");
  f.rules.on_focus_lost();
  EXPECT_EQ(f.edit.text_, "3600");
  EXPECT_EQ(f.rules.value(), 3600.0);

  f.rules.set_range(10, 20, true);
  f.edit.set_text("3");
  f.rules.on_focus_lost();
  EXPECT_EQ(f.edit.text_, "10");

  // Without the clamp the value stays outside, only normalised.
  f.rules.set_range(0, 20, false);
  f.edit.set_text("0030");
  f.rules.on_focus_lost();
  EXPECT_EQ(f.edit.text_, "30");
  EXPECT_FALSE(f.rules.is_valid());
}

TEST(NumericEditRules, ClampStepsInwardsWhenRoundingCarriesOut) {
  Field f;
  f.rules.set_range(0, 0.12345, true);
  f.rules.set_precision(4);
  f.edit.set_text("2");
  f.rules.on_focus_lost();
  EXPECT_EQ(f.edit.text_, "0.1234");
  EXPECT_NEAR(f.rules.value(), 0.1234, 1e-12);
  EXPECT_TRUE(f.rules.is_valid());
  // And the same at the lower bound.
  f.rules.set_range(0.00015, 1, true);  // 1.4999...e-4 in binary: rounds down to 0.0001
  f.edit.set_text("0");
  f.rules.on_focus_lost();
  EXPECT_EQ(f.edit.text_, "0.0002");
  EXPECT_TRUE(f.rules.is_valid());
}

TEST(NumericEditRules, EmptyTextCountsAsZero) {
  Field f;
  f.rules.set_range(0, 3, true);
  f.rules.set_precision(4);
  f.rules.set_value(1);
  f.edit.set_text("");
  EXPECT_EQ(f.rules.value(), 0.0);
  f.rules.on_focus_lost();
  EXPECT_EQ(f.edit.text_, "0.0000");
}

TEST(NumericEditRules, ColoursFollowTheTextAtOnce) {
  Field f;
  f.rules.set_range(0, 3, true);
  f.rules.set_precision(4);
  f.edit.set_text("2");
  EXPECT_EQ(f.rules.text_colour(), TextColour::black);
  EXPECT_TRUE(f.rules.is_valid());
  f.edit.set_text("4");  // before the field is left
  EXPECT_EQ(f.rules.text_colour(), TextColour::red);
  EXPECT_FALSE(f.rules.is_valid());
  EXPECT_EQ(f.rules.background(), Background::window);
  f.edit.enabled_ = false;
  EXPECT_EQ(f.rules.background(), Background::button_face);
  // A disabled control's text does not move the value.
  f.edit.text_ = "1";
  f.rules.on_text_changed();
  EXPECT_EQ(f.rules.value(), 4.0);
}

TEST(NumericEditRules, LeavingWithAnUnchangedTextDoesNotRewriteIt) {
  Field f;
  f.rules.set_range(0, 3, true);
  f.rules.set_precision(4);
  f.edit.set_text("1.2500");
  int writes = 0;
  f.edit.on_change = [&] { ++writes; };
  f.rules.on_focus_lost();
  EXPECT_EQ(writes, 0);
}
