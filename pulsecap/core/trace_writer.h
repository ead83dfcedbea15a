/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// The trace file writers: plain text with one sample a line, or WAVE
// (RIFF, 16-bit mono PCM). Samples arrive one chunk at a time, already
// masked to 14 bits, and each chunk goes to the file in one write; no
// trace is held in memory.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace pulsecap {

enum class TraceFormat { text, wave };

// WAVE exactly when the last four characters of the path are ".wav"
// (letter case counts: "shot.WAV" is a text file).
TraceFormat trace_format_for_path(const std::string& path);

constexpr size_t kWaveHeaderSize = 44;
constexpr size_t kTextLineSize = 7;  // "%5hu\r\n"
constexpr int32_t kWaveMidScale = 8192;

// Where the writer's bytes go. write() takes a whole block; false when it
// was not all taken (the reason then comes from last_error()).
class TraceSink {
 public:
  virtual ~TraceSink() = default;
  virtual bool write(const uint8_t* data, size_t n) = 0;
  virtual bool close() = 0;
  virtual std::string last_error() const = 0;
};

// A trace file on disk.
class FileSink final : public TraceSink {
 public:
  // Null when the file cannot be created; *error says why.
  static std::unique_ptr<FileSink> create(const std::string& path, std::string* error);
  ~FileSink() override;
  bool write(const uint8_t* data, size_t n) override;
  bool close() override;
  std::string last_error() const override { return error_; }

 private:
  struct Impl;
  explicit FileSink(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
  std::string error_;
};

// The 44-byte WAVE header for n samples at rate samples per second. The
// sizes 36 + 2n and 2n are written for the whole recording before the
// first sample and never revised; n must be small enough for them to fit
// 32 bits (kMaxTraceSamples).
std::vector<uint8_t> wave_header(uint32_t samples, uint32_t rate);
constexpr uint32_t kMaxTraceSamples = (0xFFFFFFFFu - 36u) / 2u;

// One text line, "%5hu\r\n".
void append_text_line(std::vector<uint8_t>& out, uint16_t value);

class TraceWriter {
 public:
  TraceWriter(TraceSink& sink, TraceFormat format) : sink_(sink), format_(format) {}

  // Writes the WAVE header (nothing for text). False when the sink failed.
  bool begin(uint32_t samples, uint32_t rate);
  // Writes the samples of one chunk (each masked to 14 bits again, so a
  // stray upper bit can never reach the file) in one block.
  bool write_chunk(const uint16_t* samples, size_t n);
  bool end();

  uint64_t samples_written() const { return written_; }
  TraceFormat format() const { return format_; }
  std::string last_error() const { return sink_.last_error(); }

 private:
  TraceSink& sink_;
  TraceFormat format_;
  std::vector<uint8_t> buffer_;
  uint64_t written_ = 0;
};

}  // namespace pulsecap
