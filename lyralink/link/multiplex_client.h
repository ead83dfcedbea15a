/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// Client side of the Multiplex server: a separate process that owns one
// serial port and lets up to three client processes share the analyser on
// it through named objects and a shared memory block (multiplex_layout.h).
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace lyralink::platform {
class NamedSemaphore;
class SharedMemory;
class SharedMutex;
}  // namespace lyralink::platform

namespace lyralink::link {

// "MPLX<n>#<c>": serial port n > 0 of the server, client number c = 1..3.
struct MultiplexName {
  uint32_t port = 0;
  uint32_t client = 0;
};

// Parses a Multiplex name; nullopt for any other string. Only decimal
// digits count as numbers (no sign, no blanks), and nothing may follow the
// client number.
std::optional<MultiplexName> parse_multiplex_name(const std::string& name);

class MultiplexClient {
 public:
  // How long attach() waits for a busy server.
  static constexpr uint32_t kAttachWaitMs = 5000;
  // Added to a request's time limit for the wait on its answer. The server
  // itself answers within the time limit; the margin covers its own delays,
  // so only a server that is stuck or gone runs into it.
  static constexpr uint32_t kAnswerMarginMs = 5000;

  MultiplexClient();
  ~MultiplexClient();  // detaches
  MultiplexClient(const MultiplexClient&) = delete;
  MultiplexClient& operator=(const MultiplexClient&) = delete;

  // Attaches to the server named by a Multiplex name. True when attached;
  // false leaves nothing open (also when already attached).
  bool attach(const std::string& name);
  // Frees the slot and closes every object; no-op when not attached.
  void detach();
  bool attached() const { return attached_; }
  // The server port and client number of the attachment (valid while attached).
  const MultiplexName& attached_name() const { return name_; }

  // Stores the request in this client's slot and signals the server. The
  // request and expected answer lengths are stored capped at 256 bytes, and
  // only that many request bytes are copied.
  void send_request(const uint8_t* bytes, size_t request_length, size_t expected_answer_length,
                    uint32_t time_limit_ms);
  // Waits for the server's answer to the last request and copies it to
  // frame (capacity bytes at most). Returns the number of bytes copied: 0
  // when no answer came within the request's time limit plus
  // kAnswerMarginMs, when the server has gone, or when the server reports
  // more than a slot holds (the answer is refused, nothing is copied).
  size_t receive_answer(uint8_t* frame, size_t capacity);

 private:
  uint8_t* slot();
  void close_objects();

  bool attached_ = false;
  std::unique_ptr<platform::SharedMutex> mutex_;
  std::unique_ptr<platform::SharedMemory> block_;
  std::unique_ptr<platform::NamedSemaphore> request_event_;
  std::unique_ptr<platform::NamedSemaphore> answer_event_;
  MultiplexName name_;
  uint32_t time_limit_ms_ = 0;  // of the request in flight
  // Answers the server still owes for requests whose wait was given up.
  // The server answers one slot's requests in order, so the next answer
  // events up to this count belong to those requests, not to the current one.
  uint32_t owed_answers_ = 0;
};

// Server-side time limit for one exchange: ceil(expected / 136) answer
// timeouts (saturating at the largest 32-bit value rather than wrapping to
// a short limit).
inline uint32_t multiplex_time_limit(size_t expected_answer_length, uint32_t answer_timeout) {
  const uint64_t limit = static_cast<uint64_t>((expected_answer_length + 135) / 136) * answer_timeout;
  return limit > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(limit);
}

}  // namespace lyralink::link
