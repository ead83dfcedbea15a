// SPDX-License-Identifier: LGPL-2.1-or-later
// A client process for the Multiplex tests.
//
//   mplx_test_client run NAME INDEX COUNT
//     Attaches with NAME (open_port, as COMM_INIT_EX3 does) and runs COUNT
//     pairs of transactions: store a value in user-data word INDEX, then
//     query the user-data page and check that the answer shows that value.
//     Prints "ok COUNT" and exits 0, or prints the first failure and exits 1.
//   mplx_test_client hold-mutex PORT
//     Takes the server mutex of serial port PORT and ends without releasing
//     it, as a client that dies inside its critical section.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "lyralink/link/bytes.h"
#include "lyralink/link/link.h"
#include "lyralink/link/multiplex_layout.h"
#include "lyralink/link/transaction.h"
#include "platform/shared_mutex.h"

using namespace lyralink::link;

namespace {

constexpr uint16_t kSetUserData = 87;
constexpr uint16_t kQueryUserData = 94;

int run(const std::string& name, uint16_t index, unsigned count) {
  LinkState& s = link_state();
  if (open_port(s, name.c_str(), 1000, 3, 38400, 0) == 0) {
    std::printf("attach %s failed\n", name.c_str());
    return 1;
  }
  for (unsigned i = 0; i < count; ++i) {
    const uint32_t value = (static_cast<uint32_t>(index) << 20) | i;
    s.command.reset(kSetUserData);
    s.command.set_word(1, index);
    s.command.set_word(2, static_cast<uint16_t>(value));
    s.command.set_word(3, static_cast<uint16_t>(value >> 16));
    Status st = short_transaction(s);
    if (st != status::ok) {
      std::printf("set %u: status %d\n", i, st);
      return 1;
    }
    s.command.reset(kQueryUserData);
    s.command.set_word(1, 0);  // page 0: words 0-25
    s.command.set_word(3, static_cast<uint16_t>(i));  // echoed, ties the answer to this request
    st = short_transaction(s);
    if (st != status::ok) {
      std::printf("query %u: status %d\n", i, st);
      return 1;
    }
    const uint32_t seen = lyralink::get_u32(s.answer_data() + 4 * index);
    if (seen != value) {
      std::printf("query %u: word %u holds %08x, expected %08x\n", i, index, seen, value);
      return 1;
    }
  }
  close_link(s);
  std::printf("ok %u\n", count);
  return 0;
}

int hold_mutex(uint32_t port) {
  auto mutex = lyralink::platform::SharedMutex::open(multiplex::mutex_name(port));
  if (!mutex) return 1;
  auto l = mutex->lock();
  std::printf("%s\n", l == lyralink::platform::SharedMutex::Lock::failed ? "failed" : "holding");
  std::fflush(stdout);
  std::_Exit(0);  // ends without unlocking
}

}  // namespace

int main(int argc, char** argv) {
  std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "run" && argc == 5) {
    return run(argv[2], static_cast<uint16_t>(std::atoi(argv[3])), static_cast<unsigned>(std::atoi(argv[4])));
  }
  if (mode == "hold-mutex" && argc == 3) return hold_mutex(static_cast<uint32_t>(std::atoi(argv[2])));
  std::fprintf(stderr, "usage: mplx_test_client run NAME INDEX COUNT | hold-mutex PORT\n");
  return 2;
}
