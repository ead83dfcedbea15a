// SPDX-License-Identifier: LGPL-2.1-or-later
#include "lyralink/link/multiplex_client.h"

#include <algorithm>
#include <cstring>

#include "lyralink/link/bytes.h"
#include "lyralink/link/multiplex_layout.h"
#include "platform/clock.h"
#include "platform/named_semaphore.h"
#include "platform/shared_memory.h"
#include "platform/shared_mutex.h"

namespace lyralink::link {

namespace mx = multiplex;
using platform::SharedMutex;

namespace {

// Decimal digits only, as a 32-bit number; nullopt for anything else.
std::optional<uint32_t> decimal(const std::string& text) {
  if (text.empty() || text.size() > 10) return std::nullopt;
  uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<uint64_t>(c - '0');
  }
  if (value > 0x7FFFFFFF) return std::nullopt;
  return static_cast<uint32_t>(value);
}

bool held(SharedMutex::Lock l) { return l == SharedMutex::Lock::taken || l == SharedMutex::Lock::abandoned; }

// While the answer is awaited, the server's presence is checked this often,
// so that a client whose server has ended gives up at once instead of
// waiting out the whole margin.
constexpr uint32_t kPresenceCheckMs = 500;

}  // namespace

std::optional<MultiplexName> parse_multiplex_name(const std::string& name) {
  // Shortest form: MPLX3#1.
  if (name.size() < 7 || name.compare(0, 4, "MPLX") != 0) return std::nullopt;
  const size_t hash = name.find('#', 4);
  if (hash == std::string::npos) return std::nullopt;
  auto port = decimal(name.substr(4, hash - 4));
  auto client = decimal(name.substr(hash + 1));
  if (!port || *port == 0 || !client || *client < 1 || *client > mx::kClientSlots) return std::nullopt;
  return MultiplexName{*port, *client};
}

MultiplexClient::MultiplexClient() = default;

MultiplexClient::~MultiplexClient() { detach(); }

uint8_t* MultiplexClient::slot() { return block_->data() + mx::slot_offset(name_.client - 1); }

void MultiplexClient::close_objects() {
  answer_event_.reset();
  request_event_.reset();
  block_.reset();
  mutex_.reset();
  attached_ = false;
}

bool MultiplexClient::attach(const std::string& name) {
  if (attached_) return false;
  auto parsed = parse_multiplex_name(name);
  if (!parsed) return false;

  auto mutex = SharedMutex::open(mx::mutex_name(parsed->port));
  if (!mutex) return false;  // no server for this port
  // Names left behind by a server that was killed: nobody would answer.
  if (!mutex->owner_alive()) return false;
  if (!held(mutex->lock_for(kAttachWaitMs))) return false;

  // The mutex is held from here on; every way out releases it.
  auto refuse = [&] {
    mutex->unlock();
    return false;
  };
  auto block = platform::SharedMemory::open(mx::block_name(parsed->port));
  if (!block || block->size() < mx::kHeaderSize) return refuse();
  if (get_u32(block->data() + mx::kSlotCountOffset) != mx::kClientSlots ||
      get_u32(block->data() + mx::kDataSizeOffset) != mx::kSlotDataSize) {
    return refuse();
  }
  // A header that promises three slots on a shorter object would have us
  // touch memory beyond its end.
  if (block->size() < mx::kBlockSize) return refuse();
  const size_t index = parsed->client - 1;
  uint8_t* my_slot = block->data() + mx::slot_offset(index);
  if (get_u32(my_slot + mx::kInUseOffset) != 0) return refuse();

  auto request = platform::NamedSemaphore::open(mx::request_event_name(parsed->port, parsed->client));
  if (!request) return refuse();
  auto answer = platform::NamedSemaphore::open(mx::answer_event_name(parsed->port, parsed->client));
  if (!answer) return refuse();

  put_u32(my_slot + mx::kInUseOffset, 1);
  mutex->unlock();

  mutex_ = std::move(mutex);
  block_ = std::move(block);
  request_event_ = std::move(request);
  answer_event_ = std::move(answer);
  name_ = *parsed;
  time_limit_ms_ = 0;
  owed_answers_ = 0;
  attached_ = true;
  return true;
}

void MultiplexClient::detach() {
  if (!attached_) return;
  const bool locked = held(mutex_->lock());
  put_u32(slot() + mx::kInUseOffset, 0);
  if (locked) mutex_->unlock();
  close_objects();
}

void MultiplexClient::send_request(const uint8_t* bytes, size_t request_length, size_t expected_answer_length,
                                   uint32_t time_limit_ms) {
  if (!attached_) return;
  if (bytes == nullptr) request_length = 0;
  // An answer event still pending belongs to an earlier request: a late
  // answer to one whose wait was given up, or one meant for a client that
  // had this slot before. Taken now, it cannot pass for this request's.
  while (answer_event_->try_wait()) {
    if (owed_answers_ > 0) --owed_answers_;
  }
  const uint32_t request_stored = static_cast<uint32_t>(std::min<size_t>(request_length, mx::kSlotDataSize));
  const uint32_t expected_stored =
      static_cast<uint32_t>(std::min<size_t>(expected_answer_length, mx::kSlotDataSize));

  const bool locked = held(mutex_->lock());
  uint8_t* s = slot();
  put_u32(s + mx::kRequestLengthOffset, request_stored);
  put_u32(s + mx::kExpectedLengthOffset, expected_stored);
  put_u32(s + mx::kTimeLimitOffset, time_limit_ms);
  if (request_stored > 0) std::memcpy(s + mx::kDataOffset, bytes, request_stored);
  if (locked) mutex_->unlock();

  time_limit_ms_ = time_limit_ms;
  request_event_->post();
}

size_t MultiplexClient::receive_answer(uint8_t* frame, size_t capacity) {
  if (!attached_) return 0;
  const uint64_t wait_ms = static_cast<uint64_t>(time_limit_ms_) + kAnswerMarginMs;
  const platform::TimePoint deadline = platform::Clock::now() + std::chrono::milliseconds(wait_ms);
  for (;;) {
    const platform::TimePoint now = platform::Clock::now();
    if (now >= deadline) {
      ++owed_answers_;  // the server may still answer; that answer is not the next request's
      return 0;
    }
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count();
    const uint32_t slice = static_cast<uint32_t>(std::min<int64_t>(left, kPresenceCheckMs));
    switch (answer_event_->wait_for(slice)) {
      case platform::NamedSemaphore::Wait::signalled:
        if (owed_answers_ > 0) {
          --owed_answers_;  // the late answer to an abandoned request
          continue;
        }
        break;
      case platform::NamedSemaphore::Wait::timed_out:
        if (!mutex_->owner_alive()) return 0;  // the server has ended: no answer will come
        continue;
      case platform::NamedSemaphore::Wait::failed: ++owed_answers_; return 0;
    }
    break;
  }

  const bool locked = held(mutex_->lock());
  const uint8_t* s = slot();
  const uint32_t length = get_u32(s + mx::kAnswerLengthOffset);
  size_t copied = 0;
  // A slot holds at most 256 bytes: a longer length is the server's error,
  // and the answer is refused rather than read past the slot.
  if (length <= mx::kSlotDataSize && frame != nullptr && length <= capacity) {
    std::memcpy(frame, s + mx::kDataOffset, length);
    copied = length;
  }
  if (locked) mutex_->unlock();
  return copied;
}

}  // namespace lyralink::link
