// SPDX-License-Identifier: LGPL-2.1-or-later
// Trace writers and reader, the preview's envelope and viewport.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <fstream>
#include <iterator>

#include "lyralink/link/bytes.h"
#include "pulsecap/core/envelope.h"
#include "pulsecap/core/trace_reader.h"
#include "pulsecap/core/trace_writer.h"
#include "tests/support/emulator.h"

using namespace pulsecap;
using lyralink::get_u16;
using lyralink::get_u32;

namespace {

class MemorySink final : public TraceSink {
 public:
  bool write(const uint8_t* d, size_t n) override {
    ++writes;
    if (fail_after >= 0 && writes > fail_after) return false;
    bytes.insert(bytes.end(), d, d + n);
    return true;
  }
  bool close() override {
    closed = true;
    return true;
  }
  std::string last_error() const override { return "no room"; }
  std::vector<uint8_t> bytes;
  int writes = 0;
  int fail_after = -1;
  bool closed = false;
};

std::vector<uint8_t> file_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace

TEST(TraceFiles, FormatFollowsTheExactEnding) {
  EXPECT_EQ(trace_format_for_path("/tmp/a.wav"), TraceFormat::wave);
  EXPECT_EQ(trace_format_for_path("a.WAV"), TraceFormat::text);
  EXPECT_EQ(trace_format_for_path("a.wav.txt"), TraceFormat::text);
  EXPECT_EQ(trace_format_for_path("wav"), TraceFormat::text);
  EXPECT_EQ(trace_format_for_path(".wav"), TraceFormat::wave);
}

TEST(TraceFiles, TextLinesAreSevenBytes) {
  MemorySink sink;
  TraceWriter w(sink, TraceFormat::text);
  ASSERT_TRUE(w.begin(3, 10'000'000));
  EXPECT_TRUE(sink.bytes.empty());  // no header
  const uint16_t samples[] = {5, 16383, 0, 0xFFFF};
  ASSERT_TRUE(w.write_chunk(samples, 4));
  const std::string text(sink.bytes.begin(), sink.bytes.end());
  // 0xFFFF is masked to 14 bits: 16383.
  EXPECT_EQ(text, "    5\r\n16383\r\n    0\r\n16383\r\n");
  EXPECT_EQ(sink.writes, 1);  // one write for the chunk
  EXPECT_EQ(w.samples_written(), 4u);
}

TEST(TraceFiles, WaveHeaderAndCentredSamples) {
  MemorySink sink;
  TraceWriter w(sink, TraceFormat::wave);
  ASSERT_TRUE(w.begin(3, 10'000'000));
  ASSERT_EQ(sink.bytes.size(), 44u);
  const uint8_t* h = sink.bytes.data();
  EXPECT_EQ(std::string(h, h + 4), "RIFF");
  EXPECT_EQ(get_u32(h + 4), 36u + 6u);
  EXPECT_EQ(std::string(h + 8, h + 16), "WAVEfmt ");
  EXPECT_EQ(get_u32(h + 16), 16u);
  EXPECT_EQ(get_u16(h + 20), 1);
  EXPECT_EQ(get_u16(h + 22), 1);
  EXPECT_EQ(get_u32(h + 24), 10'000'000u);
  EXPECT_EQ(get_u32(h + 28), 20'000'000u);
  EXPECT_EQ(get_u16(h + 32), 2);
  EXPECT_EQ(get_u16(h + 34), 16);
  EXPECT_EQ(std::string(h + 36, h + 40), "data");
  EXPECT_EQ(get_u32(h + 40), 6u);
  const uint16_t samples[] = {0, 8192, 16383};
  ASSERT_TRUE(w.write_chunk(samples, 3));
  ASSERT_EQ(sink.bytes.size(), 50u);
  EXPECT_EQ(get_u16(&sink.bytes[44]), 0xE000);
  EXPECT_EQ(get_u16(&sink.bytes[46]), 0x0000);
  EXPECT_EQ(get_u16(&sink.bytes[48]), 0x1FFF);
}

TEST(TraceFiles, EmptyRecordings) {
  auto h = wave_header(0, 5'000'000);
  EXPECT_EQ(h.size(), 44u);
  EXPECT_EQ(get_u32(&h[4]), 36u);
  EXPECT_EQ(get_u32(&h[40]), 0u);
  MemorySink sink;
  TraceWriter text(sink, TraceFormat::text);
  EXPECT_TRUE(text.begin(0, 1));
  EXPECT_TRUE(text.write_chunk(nullptr, 0));
  EXPECT_TRUE(sink.bytes.empty());
  EXPECT_EQ(sink.writes, 0);
}

TEST(TraceFiles, LargestRecordingFitsTheHeader) {
  auto h = wave_header(kMaxTraceSamples, 10'000'000);
  EXPECT_EQ(get_u32(&h[4]), 36u + 2u * kMaxTraceSamples);
  EXPECT_GE(get_u32(&h[4]), get_u32(&h[40]));  // no wrap
}

TEST(TraceFiles, FileSinkWritesBytesExactlyAndReportsCreateErrors) {
  const std::string dir = lyratest::make_temp_dir("trace");
  std::string why;
  EXPECT_EQ(FileSink::create(dir + "/missing/dir/a.txt", &why), nullptr);
  EXPECT_NE(why.find("No such file or directory"), std::string::npos) << why;

  const std::string path = dir + "/a.txt";
  {
    std::ofstream old(path);
    old << "an older, longer file that must be cut away";
  }
  auto sink = FileSink::create(path, &why);
  ASSERT_NE(sink, nullptr);
  TraceWriter w(*sink, TraceFormat::text);
  const uint16_t s[] = {1, 22};
  ASSERT_TRUE(w.write_chunk(s, 2));
  ASSERT_TRUE(w.end());
  const auto bytes = file_bytes(path);
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "    1\r\n   22\r\n");  // CR LF kept, old content gone
}

TEST(TraceFiles, AFullDiskIsReported) {
  std::string why;
  auto sink = FileSink::create("/dev/full", &why);
  ASSERT_NE(sink, nullptr) << why;
  TraceWriter w(*sink, TraceFormat::wave);
  EXPECT_FALSE(w.begin(10, 1000));
  EXPECT_NE(w.last_error().find("No space left on device"), std::string::npos) << w.last_error();
}

TEST(TraceFiles, AFileSizeLimitIsReported) {
  const std::string path = lyratest::make_temp_dir("fsize") + "/big.txt";
  // In a child: the limit and the ignored SIGXFSZ stay there.
  auto child = [&path] {
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{1000, 1000};
    setrlimit(RLIMIT_FSIZE, &limit);
    std::string e;
    auto sink = FileSink::create(path, &e);
    TraceWriter w(*sink, TraceFormat::text);
    std::vector<uint16_t> samples(720, 42);
    const bool first = w.write_chunk(samples.data(), samples.size());  // 5040 bytes: over the limit
    std::exit(!first && w.last_error().find("File too large") != std::string::npos ? 0 : 1);
  };
  EXPECT_EXIT(child(), ::testing::ExitedWithCode(0), "");
}

TEST(TraceFiles, ReaderReadsBothFormatsBack) {
  std::vector<uint16_t> samples;
  for (uint16_t i = 0; i < 2000; ++i) samples.push_back(static_cast<uint16_t>((i * 97) % 16384));
  for (TraceFormat f : {TraceFormat::text, TraceFormat::wave}) {
    MemorySink sink;
    TraceWriter w(sink, f);
    ASSERT_TRUE(w.begin(2000, 20'000'000));
    ASSERT_TRUE(w.write_chunk(samples.data(), 720));
    ASSERT_TRUE(w.write_chunk(samples.data() + 720, 1280));
    std::string error;
    auto t = parse_trace(sink.bytes, &error);
    ASSERT_TRUE(t) << error;
    EXPECT_EQ(t->samples, samples);
    EXPECT_EQ(t->rate, f == TraceFormat::wave ? 20'000'000u : 0u);
    EXPECT_FALSE(t->truncated());
  }
}

TEST(TraceFiles, ReaderTakesARecordingThatEndedEarly) {
  MemorySink sink;
  TraceWriter w(sink, TraceFormat::wave);
  ASSERT_TRUE(w.begin(1000, 1000));
  const uint16_t s[] = {100, 200, 300};
  ASSERT_TRUE(w.write_chunk(s, 3));
  sink.bytes.push_back(0x12);  // half a sample
  auto t = parse_trace(sink.bytes, nullptr);
  ASSERT_TRUE(t);
  EXPECT_EQ(t->samples, (std::vector<uint16_t>{100, 200, 300}));
  EXPECT_EQ(t->declared, 1000u);
  EXPECT_TRUE(t->truncated());
}

TEST(TraceFiles, ReaderRefusesWhatIsNoTrace) {
  std::string error;
  auto bytes = [](const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); };
  EXPECT_FALSE(parse_trace(bytes("    1\r\nabc\r\n"), &error));
  EXPECT_EQ(error, "line 2: not a sample value");
  EXPECT_FALSE(parse_trace(bytes("16384\n"), &error));
  EXPECT_EQ(error, "line 1: value above 16383");
  EXPECT_FALSE(parse_trace(bytes("12 13\n"), &error));
  EXPECT_FALSE(parse_trace(bytes("RIFF\x04\0\0\0WAVX"), &error));
  auto stereo = wave_header(2, 1000);
  stereo[22] = 2;
  EXPECT_FALSE(parse_trace(stereo, &error));
  EXPECT_EQ(error, "WAVE file is not mono");
  auto cut = wave_header(2, 1000);
  cut.resize(30);
  EXPECT_FALSE(parse_trace(cut, &error));
  // A hand-made text without the padding and with LF only still reads.
  auto t = parse_trace(bytes("1\n22\n\n333"), &error);
  ASSERT_TRUE(t) << error;
  EXPECT_EQ(t->samples, (std::vector<uint16_t>{1, 22, 333}));
  EXPECT_FALSE(read_trace_file("/nonexistent/trace.txt", &error));
}

TEST(TraceEnvelope, MinAndMaxPerColumn) {
  std::vector<uint16_t> s(1000, 100);
  s[10] = 900;
  s[11] = 5;
  s[999] = 700;
  auto cols = envelope(s, 0, 1000, 100);  // 10 samples a column
  ASSERT_EQ(cols.size(), 100u);
  EXPECT_EQ(cols[0].low, 100);
  EXPECT_EQ(cols[0].high, 100);
  EXPECT_EQ(cols[1].low, 5);
  EXPECT_EQ(cols[1].high, 900);
  EXPECT_EQ(cols[99].high, 700);
  for (const auto& c : cols) EXPECT_FALSE(c.empty);
  // Zoomed in past one sample a column: neighbours are joined.
  auto fine = envelope(s, 9, 4, 8);
  EXPECT_EQ(fine[0].high, 100);
  EXPECT_EQ(fine[2].high, 900);  // column 2 covers sample 10
  EXPECT_EQ(fine[3].low, 100);   // joined to sample 10 as well
  EXPECT_EQ(fine[3].high, 900);
  // Past the end of the trace nothing is drawn.
  auto past = envelope(s, 990, 20, 4);
  EXPECT_FALSE(past[1].empty);
  EXPECT_TRUE(past[3].empty);
  EXPECT_TRUE(envelope({}, 0, 10, 5)[0].empty);
}

TEST(TraceEnvelope, ViewportZoomsAroundThePointerAndStaysInside) {
  TraceViewport v(10000);
  EXPECT_EQ(v.first(), 0);
  EXPECT_EQ(v.span(), 10000);
  v.zoom_at(0.5, 4);  // around the middle
  EXPECT_DOUBLE_EQ(v.span(), 2500);
  EXPECT_DOUBLE_EQ(v.first(), 3750);
  v.zoom_at(0.0, 2);  // the left edge stays
  EXPECT_DOUBLE_EQ(v.first(), 3750);
  EXPECT_DOUBLE_EQ(v.span(), 1250);
  v.pan_by(1e9);
  EXPECT_DOUBLE_EQ(v.first(), 10000 - 1250);
  v.pan_by(-1e9);
  EXPECT_DOUBLE_EQ(v.first(), 0);
  v.zoom_at(0.5, 1e9);
  EXPECT_DOUBLE_EQ(v.span(), TraceViewport::kMinSpan);
  v.zoom_at(0.5, 1e-9);
  EXPECT_DOUBLE_EQ(v.span(), 10000);
  EXPECT_DOUBLE_EQ(v.first(), 0);
  TraceViewport tiny(3);
  tiny.zoom_at(0.5, 100);
  EXPECT_DOUBLE_EQ(tiny.span(), 3);
}

TEST(TraceEnvelope, AxisTicksAreRound) {
  auto t = axis_ticks(0, 1, 5);
  ASSERT_FALSE(t.empty());
  EXPECT_DOUBLE_EQ(t.front(), 0);
  EXPECT_NEAR(t[1] - t[0], 0.2, 1e-12);
  auto u = axis_ticks(1187, 2213, 4);
  EXPECT_NEAR(u[1] - u[0], 500, 1e-9);
  EXPECT_DOUBLE_EQ(u.front(), 1500);
  EXPECT_TRUE(axis_ticks(5, 5, 4).empty());
}
