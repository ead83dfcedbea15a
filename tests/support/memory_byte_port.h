/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// A byte port in memory: the test fills its receive queue and reads what
// was written; queries fail on request. Waits never block (the queue only
// changes when the test changes it), and the port counts the calls tests
// check.
#include <algorithm>
#include <deque>
#include <set>
#include <vector>

#include "lyralink/link/byte_port.h"

namespace lyratest {

class MemoryBytePort : public lyralink::link::BytePort {
 public:
  std::deque<uint8_t> queue;
  std::vector<uint8_t> written;
  bool fail_queries = false;
  std::set<uint32_t> refused_rates;
  std::vector<uint32_t> rates_set;  // every set_rate call, refused ones too
  int drains = 0;                   // drain(slowly = true) calls
  lyralink::link::ModemLines lines;

  std::optional<size_t> bytes_waiting() override {
    if (fail_queries) return std::nullopt;
    return queue.size();
  }
  std::optional<size_t> wait_for(size_t, lyralink::link::TimePoint) override { return bytes_waiting(); }
  size_t read(uint8_t* buf, size_t n) override {
    const size_t count = std::min(n, queue.size());
    for (size_t i = 0; i < count; ++i) {
      buf[i] = queue.front();
      queue.pop_front();
    }
    return count;
  }
  size_t write(const uint8_t* buf, size_t n) override {
    written.insert(written.end(), buf, buf + n);
    on_write(buf, n);
    return n;
  }
  bool set_rate(uint32_t rate) override {
    rates_set.push_back(rate);
    if (refused_rates.count(rate) != 0) return false;
    rate_ = rate;
    return true;
  }
  uint32_t rate() const override { return rate_; }
  std::optional<lyralink::link::ModemLines> modem_lines() override {
    if (fail_queries) return std::nullopt;
    return lines;
  }
  void set_modem_lines(std::optional<bool>, std::optional<bool>) override {}
  bool drain(bool slowly, const Bytes& seen) override {
    if (slowly) ++drains;
    return BytePort::drain(false, seen);
  }

 protected:
  // What the device on the other end does with the bytes written.
  virtual void on_write(const uint8_t*, size_t) {}

 private:
  uint32_t rate_ = 38400;
};

}  // namespace lyratest
