// SPDX-License-Identifier: LGPL-2.1-or-later
// Exported USB serial helpers. Results: -1 (0xFFFF) for yes/success, 0 for
// no/failure.
#include <cstring>

#include "include/lyralink.h"
#include "lyralink/exports/export_guard.h"
#include "lyralink/link/usb_serial.h"

using namespace lyralink;
using exports::guarded;
using exports::guarded_void;
using link::link_state;

namespace {
// Longest port name a helper looks at; the host's string need not end
// within any bound we know, so it is never read further than this.
constexpr size_t kMaxHelperPortName = 255;

bool usable_port_name(const char* port) {
  return port != nullptr && strnlen(port, kMaxHelperPortName + 1) <= kMaxHelperPortName;
}
}  // namespace

LYRALINK_EXPORT int16_t IS_USB_PORT(const char* port) {
  if (!usable_port_name(port)) return link::kNo;
  return guarded<int16_t>(__func__, link::kNo, [&] { return link::is_usb_port(port) ? link::kYes : link::kNo; });
}

LYRALINK_EXPORT int16_t IS_CURRENT_USB_PORT(void) {
  return guarded<int16_t>(__func__, link::kNo, [] { return link::is_current_usb_port(link_state()); });
}

LYRALINK_EXPORT int16_t SET_LATENCY_TIMER_EX(const char* port, int32_t milliseconds) {
  if (!usable_port_name(port)) return link::kNo;
  return guarded<int16_t>(__func__, link::kNo,
                          [&] { return link::set_latency_timer(port, static_cast<uint32_t>(milliseconds)); });
}

LYRALINK_EXPORT int16_t SET_LATENCY_TIMER(const char* port) { return SET_LATENCY_TIMER_EX(port, 8); }

LYRALINK_EXPORT int16_t SET_CURRENT_LATENCY_TIMER(int32_t milliseconds) {
  return guarded<int16_t>(__func__, link::kNo, [&] {
    return link::set_current_latency_timer(link_state(), static_cast<uint32_t>(milliseconds));
  });
}

LYRALINK_EXPORT int16_t GET_CURRENT_LATENCY_TIMER(int32_t* milliseconds) {
  if (milliseconds == nullptr) return link::kNo;
  return guarded<int16_t>(__func__, link::kNo, [&] {
    uint32_t value = 0;
    const int16_t result = link::get_current_latency_timer(link_state(), value);
    if (result == link::kYes) *milliseconds = static_cast<int32_t>(value);
    return result;
  });
}

LYRALINK_EXPORT void SET_USB_CHARGER(int16_t on) {
  guarded_void(__func__, [&] { link::set_usb_charger(link_state(), on != 0); });
}

LYRALINK_EXPORT int16_t GET_USB_CHARGER(void) {
  return guarded<int16_t>(__func__, link::kNo, [] { return link::get_usb_charger(link_state()); });
}

LYRALINK_EXPORT int16_t GET_USB_CHARGER_STATE(void) {
  return guarded<int16_t>(__func__, link::kNo, [] { return link::get_usb_charger_state(link_state()); });
}

LYRALINK_EXPORT void USB_TEST(void) {}
