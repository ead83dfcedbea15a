#pragma once
// Client side of the Multiplex server: a separate process that owns one
// serial port and lets up to three client processes share the analyser on
// it through named objects and a shared memory block.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace lyralink::link {

class MultiplexClient {
 public:
  MultiplexClient() = default;
  ~MultiplexClient() = default;
  MultiplexClient(const MultiplexClient&) = delete;
  MultiplexClient& operator=(const MultiplexClient&) = delete;

  // Attaches to the server named by a Multiplex name ("MPLX<n>#<c>").
  // True when attached; false leaves nothing open.
  bool attach(const std::string& name);
  // Frees the slot and closes every object; no-op when not attached.
  void detach();
  bool attached() const { return attached_; }

  // Stores the request in this client's slot and signals the server.
  void send_request(const uint8_t* bytes, size_t request_length, size_t expected_answer_length,
                    uint32_t time_limit_ms);
  // Waits for the server's answer and copies it to frame (capacity bytes at
  // most). Returns the number of bytes copied.
  size_t receive_answer(uint8_t* frame, size_t capacity);

 private:
  bool attached_ = false;
};

// Server-side time limit for one exchange: ceil(expected / 136) answer timeouts.
inline uint32_t multiplex_time_limit(size_t expected_answer_length, uint32_t answer_timeout) {
  return static_cast<uint32_t>((expected_answer_length + 135) / 136) * answer_timeout;
}

}  // namespace lyralink::link
