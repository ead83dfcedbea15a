// SPDX-License-Identifier: LGPL-2.1-or-later
// Exported link functions: open, close, time-out and parameters.
#include "include/lyralink.h"
#include "lyralink/exports/export_guard.h"
#include "lyralink/link/link.h"

using namespace lyralink;
using link::link_state;

namespace lyralink::exports {
std::recursive_mutex& api_mutex() {
  static std::recursive_mutex* m = new std::recursive_mutex;  // outlives every static destructor
  return *m;
}
}  // namespace lyralink::exports

using exports::guarded;
using exports::guarded_void;

LYRALINK_EXPORT int16_t COMM_INIT_EX3(const char* port, int32_t timeout, int32_t retries, int32_t baud,
                                      uint16_t lock) {
  return guarded<int16_t>(__func__, 0, [&] {
    return link::open_port(link_state(), port, timeout, retries, baud, lock);
  });
}

LYRALINK_EXPORT int16_t COMM_INIT_EX2(const char* port, int32_t timeout, int32_t retries, int32_t baud) {
  return COMM_INIT_EX3(port, timeout, retries, baud, 0);
}

LYRALINK_EXPORT int16_t COMM_INIT_EX(const char* port, int32_t timeout) {
  return COMM_INIT_EX2(port, timeout, 8, 38400);
}

LYRALINK_EXPORT int16_t COMM_INIT(const char* port) { return COMM_INIT_EX(port, 1000); }

LYRALINK_EXPORT int16_t COMM_INIT_ETHERNET_IP(const char* address, int32_t timeout, int32_t retries) {
  return guarded<int16_t>(__func__, 0, [&] { return link::open_ethernet(link_state(), address, timeout, retries); });
}

LYRALINK_EXPORT void COMM_CLOSE(void) {
  guarded_void(__func__, [] { link::close_link(link_state()); });
}

LYRALINK_EXPORT void COMM_TERMINATE_ETHERNET(void) {
  guarded_void(__func__, [] { link::terminate_ethernet(link_state()); });
}

LYRALINK_EXPORT int16_t SET_TIMEOUT(int32_t timeout) {
  return guarded<int16_t>(__func__, 0, [&] {
    link::set_answer_timeout(link_state(), timeout);
    return int16_t{1};
  });
}

LYRALINK_EXPORT void GET_COMM_PARAM(void* record) {
  if (record == nullptr) return;
  guarded_void(__func__, [&] { link::get_link_parameters(link_state(), static_cast<uint8_t*>(record)); });
}

namespace {
// Library unload: the UDP socket goes, and the bridge library is unloaded.
// An open link is left as it is.
__attribute__((destructor)) void on_unload() {
  auto& s = link_state();
  s.udp_socket.reset();
  s.usb_library.unload();
}
}  // namespace
