// SPDX-License-Identifier: LGPL-2.1-or-later
#include "tools/mplxd/server.h"

#include <algorithm>
#include <cstring>

#include "lyralink/link/bytes.h"
#include "lyralink/link/frames.h"
#include "lyralink/link/link.h"
#include "lyralink/link/usb_serial.h"
#include "platform/event_wait.h"
#include "platform/port_names.h"

namespace mplxd {

namespace mx = lyralink::link::multiplex;
namespace plat = lyralink::platform;
using lyralink::get_u32;
using lyralink::put_u32;
using plat::Clock;
using plat::SharedMutex;
using plat::TimePoint;

namespace {

// A gap on the line this long ends an answer that came in short of the
// expected length. Bridges deliver in chunks up to their latency timer
// (16 ms by default) apart, so the gap is well above that.
constexpr auto kQuietGap = std::chrono::milliseconds(50);
// How often the waits look at the stop flag.
constexpr auto kStopCheck = std::chrono::milliseconds(100);
// How often the in-use marks are looked at for the attach/detach log.
constexpr uint32_t kWatchIntervalMs = 250;

bool held(SharedMutex::Lock l) { return l == SharedMutex::Lock::taken || l == SharedMutex::Lock::abandoned; }

std::optional<uint32_t> parse_unsigned(const std::string& text, int base) {
  if (text.empty()) return std::nullopt;
  uint64_t value = 0;
  for (char c : text) {
    int digit = c >= '0' && c <= '9' ? c - '0' : -1;
    if (digit < 0 || digit >= base) return std::nullopt;
    value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
    if (value > 0xFFFFFFFFu) return std::nullopt;
  }
  return static_cast<uint32_t>(value);
}

}  // namespace

const char* usage_text() {
  return "Usage: mplxd [OPTION]... PORT\n"
         "Multiplex server: owns the serial port PORT (COMn) with one analyser on it and\n"
         "lets up to three programs share it. A program opens its link with the port\n"
         "name MPLXn#1, MPLXn#2 or MPLXn#3 (COMM_INIT_EX3, lyractl --mplx).\n"
         "\n"
         "  --device PATH   use this serial device instead of resolving PORT\n"
         "                  (PORT is found as $LYRALINK_PORT_DIR/PORT, else\n"
         "                  /etc/lyralink/ports/PORT, else the default table:\n"
         "                  COM1-32 /dev/ttyS0-31, COM33-64 /dev/ttyUSB0-31,\n"
         "                  COM65-96 /dev/ttyACM0-31)\n"
         "  --baud N        line rate to the analyser (default 38400)\n"
         "  --mode OCTAL    permissions of the shared objects (default 0660: the\n"
         "                  server's user and group may attach)\n"
         "  --max-wait MS   longest wait for one answer, whatever a client asks\n"
         "                  (default 60000)\n"
         "  --verbose       log every exchange\n"
         "  --help          show this text\n"
         "\n"
         "Logs one line per client attach and detach on standard output. Stops on\n"
         "SIGINT, SIGTERM or SIGHUP and removes its shared objects. Only one server\n"
         "may serve a port; a second one is refused.\n"
         "Exit status: 0 after a signal, 1 when the server cannot start, 2 on a usage\n"
         "error.\n";
}

ParsedArguments parse_arguments(const std::vector<std::string>& args) {
  ParsedArguments result;
  Options o;
  auto fail = [&](const std::string& why) {
    result.error = why;
    return result;
  };
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](const char* what) -> std::optional<std::string> {
      if (i + 1 >= args.size()) return std::nullopt;
      (void)what;
      return args[++i];
    };
    if (a == "--help" || a == "-h") {
      result.help = true;
      return result;
    } else if (a == "--verbose" || a == "-v") {
      o.verbose = true;
    } else if (a == "--device") {
      auto v = value("--device");
      if (!v || v->empty()) return fail("--device needs a path");
      o.device = *v;
    } else if (a == "--baud") {
      auto v = value("--baud");
      auto n = v ? parse_unsigned(*v, 10) : std::nullopt;
      if (!n || *n == 0) return fail("--baud needs a positive number");
      o.baud = *n;
    } else if (a == "--mode") {
      auto v = value("--mode");
      auto n = v ? parse_unsigned(*v, 8) : std::nullopt;
      if (!n || *n > 0777) return fail("--mode needs octal permissions such as 0660");
      o.mode = *n;
    } else if (a == "--max-wait") {
      auto v = value("--max-wait");
      auto n = v ? parse_unsigned(*v, 10) : std::nullopt;
      if (!n || *n == 0) return fail("--max-wait needs a positive number of milliseconds");
      o.max_wait_ms = *n;
    } else if (!a.empty() && a[0] == '-') {
      return fail("unknown option " + a);
    } else if (o.port_name.empty()) {
      o.port_name = a;
    } else {
      return fail("only one port: " + a);
    }
  }
  if (o.port_name.empty()) return fail("no port given");
  // The port number names the shared objects, so it must be COMn.
  auto number = o.port_name.size() > 3 && o.port_name.compare(0, 3, "COM") == 0
                    ? parse_unsigned(o.port_name.substr(3), 10)
                    : std::nullopt;
  if (!number || *number == 0 || *number > 0x7FFFFFFF) {
    return fail("PORT must be COM followed by a number above 0, such as COM3 (not " + o.port_name + ")");
  }
  o.port_number = *number;
  result.options = o;
  return result;
}

void Log::line(const std::string& text) {
  std::lock_guard<std::mutex> hold(mutex_);
  std::fprintf(out_, "%s\n", text.c_str());
  std::fflush(out_);
}

std::string Server::prefix() const { return "mplxd " + options_.port_name + ": "; }

uint8_t* Server::slot(size_t index) { return block_->data() + mx::slot_offset(index); }

std::unique_ptr<Server> Server::start(const Options& options, Log& log, std::string* error) {
  std::unique_ptr<Server> s(new Server(options, log));
  if (!s->create_objects(error)) return nullptr;
  for (size_t i = 0; i < mx::kClientSlots; ++i) s->threads_.emplace_back([p = s.get(), i] { p->wait_for_requests(i); });
  s->threads_.emplace_back([p = s.get()] { p->exchange_loop(); });
  // Clients find the server only now, with everything in place.
  plat::SystemError e;
  if (!s->mutex_->publish(&e)) {
    *error = "cannot publish the server mutex: " + e.message();
    return nullptr;
  }
  log.line(s->prefix() + "serving " + s->device_path_ + " at " + std::to_string(options.baud) + " baud for MPLX" +
           std::to_string(options.port_number) + "#1, #2 and #3");
  return s;
}

bool Server::create_objects(std::string* error) {
  const uint32_t n = options_.port_number;
  plat::SystemError e;
  // The mutex's name is the server's claim on serial port n: it is created
  // first, and a second server fails here.
  mutex_ = SharedMutex::create(mx::mutex_name(n), options_.mode, &e);
  if (!mutex_) {
    *error = e.kind == plat::ErrorKind::already_exists ? "another Multiplex server already serves " + options_.port_name
                                      : "cannot create the server mutex: " + e.message();
    return false;
  }
  owns_names_ = true;

  std::string path = options_.device;
  if (path.empty()) {
    auto resolved = plat::resolve_serial_port(options_.port_name);
    if (!resolved) {
      *error = "no serial port " + options_.port_name + " here (looked in " + plat::port_directory() +
               " and the default table; --device names a device directly)";
      return false;
    }
    path = *resolved;
  }
  port_ = plat::SerialPort::open(path, &e);
  if (!port_) {
    *error = "cannot open " + options_.port_name + ": " + e.message();
    return false;
  }
  // The same line set-up as a direct link from the library: the analyser
  // expects 8N1 without flow control, and on its USB bridge the charger
  // switch (RTS) is kept where the analyser reports it (CTS).
  if (!lyralink::link::configure_analyser_port(*port_, options_.port_name, options_.baud)) {
    *error = "cannot set " + path + " to " + std::to_string(options_.baud) + " baud, 8N1";
    return false;
  }

  // Whatever a killed server left under these names goes first.
  plat::SharedMemory::remove(mx::block_name(n));
  for (uint32_t c = 1; c <= mx::kClientSlots; ++c) {
    plat::NamedSemaphore::remove(mx::request_event_name(n, c));
    plat::NamedSemaphore::remove(mx::answer_event_name(n, c));
  }
  block_ = plat::SharedMemory::create(mx::block_name(n), mx::kBlockSize, options_.mode, &e);
  if (!block_) {
    *error = "cannot create the shared block: " + e.message();
    return false;
  }
  put_u32(block_->data() + mx::kSlotCountOffset, mx::kClientSlots);
  put_u32(block_->data() + mx::kDataSizeOffset, mx::kSlotDataSize);
  for (uint32_t c = 1; c <= mx::kClientSlots; ++c) {
    requests_[c - 1] = plat::NamedSemaphore::create(mx::request_event_name(n, c), options_.mode, &e);
    if (requests_[c - 1]) answers_[c - 1] = plat::NamedSemaphore::create(mx::answer_event_name(n, c), options_.mode, &e);
    if (!requests_[c - 1] || !answers_[c - 1]) {
      *error = "cannot create the events of client " + std::to_string(c) + ": " + e.message();
      return false;
    }
  }
  device_path_ = path;
  return true;
}

void Server::remove_names() {
  if (!owns_names_) return;
  const uint32_t n = options_.port_number;
  // The mutex first: from then on no new client finds the server.
  SharedMutex::remove(mx::mutex_name(n));
  plat::SharedMemory::remove(mx::block_name(n));
  for (uint32_t c = 1; c <= mx::kClientSlots; ++c) {
    plat::NamedSemaphore::remove(mx::request_event_name(n, c));
    plat::NamedSemaphore::remove(mx::answer_event_name(n, c));
  }
  owns_names_ = false;
}

Server::~Server() {
  stopping_ = true;
  for (auto& r : requests_) {
    if (r) r->post();  // wakes the slot's waiting thread
  }
  {
    std::lock_guard<std::mutex> hold(queue_mutex_);
    queue_changed_.notify_all();
  }
  for (auto& t : threads_) t.join();
  remove_names();
}

void Server::wait_for_requests(size_t index) {
  for (;;) {
    const auto result = requests_[index]->wait();
    if (stopping_) return;
    if (result != plat::NamedSemaphore::Wait::signalled) {
      log_.line(prefix() + "request event of client " + std::to_string(index + 1) + " failed; client not served");
      return;
    }
    std::lock_guard<std::mutex> hold(queue_mutex_);
    ++pending_[index];
    queue_changed_.notify_one();
  }
}

void Server::exchange_loop() {
  for (;;) {
    size_t index = 0;
    {
      std::unique_lock<std::mutex> hold(queue_mutex_);
      queue_changed_.wait(hold, [&] {
        return stopping_ || std::any_of(pending_.begin(), pending_.end(), [](uint32_t p) { return p > 0; });
      });
      if (stopping_) return;
      // Round robin: the slot after the one served last goes first, so a
      // client that keeps sending cannot starve the other two.
      for (size_t k = 0; k < mx::kClientSlots; ++k) {
        size_t candidate = (next_slot_ + k) % mx::kClientSlots;
        if (pending_[candidate] > 0) {
          index = candidate;
          break;
        }
      }
      --pending_[index];
      next_slot_ = (index + 1) % mx::kClientSlots;
    }
    serve(index);
  }
}

void Server::serve(size_t index) {
  uint8_t request[mx::kSlotDataSize];
  uint32_t request_length = 0, expected = 0, limit = 0;
  if (!held(mutex_->lock())) return;
  uint8_t* s = slot(index);
  if (get_u32(s + mx::kInUseOffset) == 0) {
    mutex_->unlock();  // the client left before its turn came
    return;
  }
  // Lengths as stored are capped again: the slot holds no more.
  request_length = std::min<uint32_t>(get_u32(s + mx::kRequestLengthOffset), mx::kSlotDataSize);
  expected = std::min<uint32_t>(get_u32(s + mx::kExpectedLengthOffset), mx::kSlotDataSize);
  limit = std::min(get_u32(s + mx::kTimeLimitOffset), options_.max_wait_ms);
  std::memcpy(request, s + mx::kDataOffset, request_length);
  auto attach_line = note_in_use(index, true);
  mutex_->unlock();
  if (attach_line) log_.line(*attach_line);

  const TimePoint started = Clock::now();
  Answer answer = exchange(request, request_length, expected, limit);

  if (!held(mutex_->lock())) return;
  const bool still_attached = get_u32(s + mx::kInUseOffset) != 0;
  if (still_attached) {
    std::memcpy(s + mx::kDataOffset, answer.bytes.data(), answer.length);
    put_u32(s + mx::kAnswerLengthOffset, static_cast<uint32_t>(answer.length));
  }
  mutex_->unlock();
  // Set also when the analyser did not answer: the client is waiting for it.
  if (still_attached) answers_[index]->post();

  if (options_.verbose) {
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started).count();
    log_.line(prefix() + "client " + std::to_string(index + 1) + ": " + std::to_string(request_length) +
              " bytes out, " + std::to_string(answer.length) + " of " + std::to_string(expected) + " back in " +
              std::to_string(ms) + " ms");
  }
}

std::optional<size_t> Server::wait_input(size_t want, TimePoint deadline) {
  for (;;) {
    const TimePoint slice = std::min(deadline, Clock::now() + kStopCheck);
    auto count = port_->wait_for_input(want, slice);
    if (!count) return std::nullopt;
    if (*count >= want || Clock::now() >= deadline || stopping_) return count;
  }
}

void Server::drain_until_quiet(TimePoint deadline) {
  uint8_t scratch[512];
  for (;;) {
    while (port_->read(scratch, sizeof scratch) > 0) {
    }
    if (Clock::now() >= deadline || stopping_) return;
    auto count = port_->wait_for_input(1, std::min(deadline, Clock::now() + kQuietGap));
    if (!count || *count == 0) return;
  }
}

Server::Answer Server::exchange(const uint8_t* request, size_t request_length, size_t expected,
                                uint32_t limit_ms) {
  Answer answer;
  // The analyser speaks only when spoken to: bytes queued now are the late
  // end of an earlier answer, and would be taken for this one.
  if (!port_->bytes_waiting()) {
    if (!port_failed_logged_) log_.line(prefix() + "the serial port has failed; requests get no answer");
    port_failed_logged_ = true;
    return answer;
  }
  drain_until_quiet(Clock::now());
  (void)port_->write(request, request_length);
  if (expected == 0) return answer;

  const TimePoint deadline = Clock::now() + std::chrono::milliseconds(limit_ms);
  constexpr size_t kShort = lyralink::link::kShortFrameSize;
  auto count = wait_input(std::min(expected, kShort), deadline);
  if (count && *count >= kShort && *count < expected) {
    // A longer answer was asked for, but a 136-byte error answer is just as
    // valid: it is complete once the line stays quiet after it.
    size_t last = *count;
    while (!stopping_ && Clock::now() < deadline) {
      count = port_->wait_for_input(expected, std::min(deadline, Clock::now() + kQuietGap));
      if (!count || *count >= expected || *count == last) break;
      last = *count;
    }
  }
  if (!count) return answer;
  answer.length = port_->read(answer.bytes.data(), std::min(*count, answer.bytes.size()));
  // Anything beyond what the slot holds (a long answer) is dropped now,
  // so that the next request starts on a quiet line.
  auto left = port_->bytes_waiting();
  if (left && (*left > 0 || *count > answer.length)) drain_until_quiet(deadline);
  return answer;
}

std::optional<std::string> Server::note_in_use(size_t index, bool in_use) {
  std::lock_guard<std::mutex> hold(marks_mutex_);
  if (attached_[index] == in_use) return std::nullopt;
  attached_[index] = in_use;
  return prefix() + "client " + std::to_string(index + 1) + (in_use ? " attached" : " detached");
}

void Server::watch_slots() {
  std::vector<std::string> lines;
  if (!held(mutex_->lock())) return;
  for (size_t i = 0; i < mx::kClientSlots; ++i) {
    if (auto line = note_in_use(i, get_u32(slot(i) + mx::kInUseOffset) != 0)) lines.push_back(*line);
  }
  mutex_->unlock();
  for (const auto& line : lines) log_.line(line);
}

int Server::run(plat::TerminationRequests& requests) {
  for (;;) {
    auto ready = plat::wait_readable({requests.waitable()}, plat::deadline_after_ms(kWatchIntervalMs));
    if (!ready.empty()) {
      if (auto number = requests.take()) {
        watch_slots();
        return *number;
      }
    }
    watch_slots();
  }
}

}  // namespace mplxd
