// SPDX-License-Identifier: LGPL-2.1-or-later
#include "tools/lyractl/record.h"

#include <array>
#include <charconv>
#include <cstdio>
#include <memory>

#include "lyralink/link/bytes.h"
#include "platform/terminal.h"
#include "pulsecap/core/library_device.h"
#include "pulsecap/core/recording.h"
#include "pulsecap/core/trace_writer.h"
#include "tools/lyractl/report.h"

namespace lyractl {

namespace {

// The link is already open: the device layer never opens one.
class OpenLinkDevice final : public pulsecap::LibraryDevice {
 public:
  int16_t comm_init_select(void*, int32_t, int32_t, void*) override { return 0; }
};

class ProgressLine final : public pulsecap::RecordingObserver {
 public:
  ProgressLine(uint32_t samples, bool shown) : samples_(samples), shown_(shown) {}
  void progress(unsigned percent) override {
    if (!shown_ || percent == last_) return;
    last_ = percent;
    std::fprintf(stderr, "\rrecording: %3u %% of %u samples", percent, samples_);
    std::fflush(stderr);
  }
  void finish() {
    if (shown_ && last_ != 1000) std::fprintf(stderr, "\r%-60s\r", "");
  }

 private:
  uint32_t samples_;
  bool shown_;
  unsigned last_ = 1000;
};

int command_failed(const char* what, int status) {
  std::fprintf(stderr, "lyractl: record: %s failed: status %d (%s)\n", what, status, status_text(status));
  return status;
}

}  // namespace

std::optional<double> parse_seconds(const std::string& text) {
  size_t digits = 0, points = 0;
  for (char c : text) {
    if (c >= '0' && c <= '9') ++digits;
    else if (c == '.') ++points;
    else return std::nullopt;
  }
  if (digits == 0 || points > 1) return std::nullopt;
  double v = 0;
  auto r = std::from_chars(text.data(), text.data() + text.size(), v, std::chars_format::fixed);
  if (r.ec != std::errc() || r.ptr != text.data() + text.size()) return std::nullopt;
  return v;
}

int run_record(double seconds, const std::string& file) {
  using lyralink::get_u16;
  using lyralink::get_u32;
  OpenLinkDevice device;
  // The sample rate and the memory size as the recorder reads them.
  std::array<uint8_t, pulsecap::kAnswerSize> state740{}, extended{};
  if (int st = device.query_state740(state740.data()); st != 0) return command_failed("LYRA_QUERY_STATE740", st);
  if (int st = device.query_state740_ex(extended.data()); st != 0) return command_failed("LYRA_QUERY_STATE740_EX", st);
  const uint32_t rate = pulsecap::sample_rate(get_u16(&state740[2]), get_u16(&extended[104]));
  const uint32_t memory = get_u32(&extended[0]);
  const double range = pulsecap::time_range_seconds(memory, rate);
  if (seconds > range) {
    std::fprintf(stderr, "lyractl: record: %.6g s do not fit: the analyser's memory (%u bytes at %u samples/s) holds %.6g s\n",
                 seconds, memory, rate, range);
    return 64;
  }
  const uint32_t n = pulsecap::sample_count(seconds, rate, memory);

  std::string why;
  std::unique_ptr<pulsecap::FileSink> sink = pulsecap::FileSink::create(file, &why);
  if (!sink) {
    std::fprintf(stderr, "lyractl: record: %s\n", why.c_str());
    return 73;
  }
  pulsecap::TraceWriter writer(*sink, pulsecap::trace_format_for_path(file));
  if (!writer.begin(n, rate)) {
    std::fprintf(stderr, "lyractl: record: %s\n", writer.last_error().c_str());
    return 74;
  }
  ProgressLine progress(n, lyralink::platform::standard_error_is_terminal());
  pulsecap::RecordingResult result = pulsecap::run_recording(device, writer, n, progress);
  progress.finish();
  const bool closed = writer.end();
  switch (result.end) {
    case pulsecap::RecordingEnd::start_failed:
      return command_failed("starting the recording (LYRA_SET_COMMON_MEMORY_FILL_STOP, LYRA_START_ACQUIRE)",
                            result.status);
    case pulsecap::RecordingEnd::read_failed:
      std::fprintf(stderr, "lyractl: record: %s holds %llu of %u samples\n", file.c_str(),
                   static_cast<unsigned long long>(result.samples_written), n);
      return command_failed("LYRA_QUERY_COMMON_MEMORY", result.status);
    case pulsecap::RecordingEnd::write_failed:
      std::fprintf(stderr, "lyractl: record: %s (the file holds %llu of %u samples)\n", result.write_error.c_str(),
                   static_cast<unsigned long long>(result.samples_written), n);
      return 74;
    case pulsecap::RecordingEnd::complete: break;
  }
  if (!closed) {
    std::fprintf(stderr, "lyractl: record: %s\n", writer.last_error().c_str());
    return 74;
  }
  std::printf("recorded %u samples at %u samples/s (%.6g s) into %s (%s)\n", n, rate,
              static_cast<double>(n) / rate, file.c_str(),
              writer.format() == pulsecap::TraceFormat::wave ? "WAVE" : "text");
  return 0;
}

}  // namespace lyractl
