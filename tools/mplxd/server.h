/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// mplxd's Multiplex server: owns one serial port with an analyser on it and
// lets up to three client processes share it through the named objects and
// the shared block of lyralink/link/multiplex_layout.h.
//
// Threads: one per client slot waits on that slot's request event and
// queues the request; one exchanger takes the queued requests in round
// robin order and runs them on the port one at a time; the caller's thread
// (run()) waits for a termination signal and watches the slots' in-use
// marks to log attaches and detaches.
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "lyralink/link/multiplex_layout.h"
#include "platform/clock.h"
#include "platform/event_wait.h"
#include "platform/named_semaphore.h"
#include "platform/serial_port.h"
#include "platform/shared_memory.h"
#include "platform/shared_mutex.h"

namespace mplxd {

struct Options {
  std::string port_name;       // "COM<n>"
  uint32_t port_number = 0;    // n
  std::string device;          // explicit device path; empty: resolve port_name
  uint32_t baud = 38400;
  unsigned mode = 0660;        // permissions of the named objects
  uint32_t max_wait_ms = 60000;  // cap on a client's time limit
  bool verbose = false;        // one log line per exchange
};

struct ParsedArguments {
  std::optional<Options> options;  // set when the server should run
  bool help = false;
  std::string error;               // set on a usage error
};

ParsedArguments parse_arguments(const std::vector<std::string>& args);
const char* usage_text();

// Thread-safe line logger to a stream (stdout), flushed per line.
class Log {
 public:
  explicit Log(FILE* out) : out_(out) {}
  void line(const std::string& text);

 private:
  std::mutex mutex_;
  FILE* out_;
};

class Server {
 public:
  // Claims the names of serial port n, opens and sets up the port, creates
  // the block and the events and starts serving. Null with *error set when
  // another server owns the names, the port cannot be opened, or an object
  // cannot be created (everything created is removed again).
  static std::unique_ptr<Server> start(const Options& options, Log& log, std::string* error);
  ~Server();  // stops the threads, closes the port and removes the names

  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Serves until a termination request arrives; returns its signal number.
  int run(lyralink::platform::TerminationRequests& requests);

 private:
  struct Answer {
    std::array<uint8_t, lyralink::link::multiplex::kSlotDataSize> bytes{};
    size_t length = 0;
  };

  Server(const Options& options, Log& log) : options_(options), log_(log) {}
  bool create_objects(std::string* error);
  void remove_names();
  void wait_for_requests(size_t index);
  void exchange_loop();
  void serve(size_t index);
  Answer exchange(const uint8_t* request, size_t request_length, size_t expected, uint32_t limit_ms);
  std::optional<size_t> wait_input(size_t want, lyralink::platform::TimePoint deadline);
  void drain_until_quiet(lyralink::platform::TimePoint deadline);
  void watch_slots();
  // The log line of an attach or detach when the in-use mark of a slot
  // differs from what was seen last. Called with the server mutex held, so
  // that the marks are noted in the order they changed; the line is logged
  // after it is released.
  std::optional<std::string> note_in_use(size_t index, bool in_use);
  uint8_t* slot(size_t index);
  std::string prefix() const;

  Options options_;
  Log& log_;
  bool owns_names_ = false;
  std::unique_ptr<lyralink::platform::SharedMutex> mutex_;
  std::unique_ptr<lyralink::platform::SharedMemory> block_;
  std::array<std::unique_ptr<lyralink::platform::NamedSemaphore>, 3> requests_;
  std::array<std::unique_ptr<lyralink::platform::NamedSemaphore>, 3> answers_;
  std::unique_ptr<lyralink::platform::SerialPort> port_;
  std::string device_path_;
  bool port_failed_logged_ = false;

  // Requests waiting for the exchanger, per slot, and the slot to look at
  // first next time (round robin).
  std::mutex queue_mutex_;
  std::condition_variable queue_changed_;
  std::array<uint32_t, 3> pending_{};
  size_t next_slot_ = 0;
  std::atomic<bool> stopping_{false};
  std::vector<std::thread> threads_;

  // In-use marks as last seen, by the watcher and by serve(): a client that
  // attaches, exchanges and detaches between two looks of the watcher is
  // still logged.
  std::mutex marks_mutex_;
  std::array<bool, 3> attached_{};
};

}  // namespace mplxd
