// SPDX-License-Identifier: LGPL-2.1-or-later
#include "pulsecap/core/trace_writer.h"

#include "lyralink/link/bytes.h"
#include "platform/output_file.h"

namespace pulsecap {

TraceFormat trace_format_for_path(const std::string& path) {
  return path.size() >= 4 && path.compare(path.size() - 4, 4, ".wav") == 0 ? TraceFormat::wave : TraceFormat::text;
}

struct FileSink::Impl {
  std::unique_ptr<lyralink::platform::OutputFile> file;
};

std::unique_ptr<FileSink> FileSink::create(const std::string& path, std::string* error) {
  lyralink::platform::SystemError e;
  auto file = lyralink::platform::OutputFile::create(path, &e);
  if (!file) {
    if (error != nullptr) *error = e.message();
    return nullptr;
  }
  auto impl = std::make_unique<Impl>();
  impl->file = std::move(file);
  return std::unique_ptr<FileSink>(new FileSink(std::move(impl)));
}

FileSink::FileSink(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
FileSink::~FileSink() = default;

bool FileSink::write(const uint8_t* data, size_t n) {
  lyralink::platform::SystemError e;
  if (impl_->file->write(data, n, &e)) return true;
  error_ = e.message();
  return false;
}

bool FileSink::close() {
  lyralink::platform::SystemError e;
  if (impl_->file->close(&e)) return true;
  error_ = e.message();
  return false;
}

std::vector<uint8_t> wave_header(uint32_t samples, uint32_t rate) {
  using lyralink::put_u16;
  using lyralink::put_u32;
  const uint32_t data_bytes = 2u * samples;
  std::vector<uint8_t> h(kWaveHeaderSize, 0);
  auto tag = [&](size_t at, const char* four) {
    for (size_t i = 0; i < 4; ++i) h[at + i] = static_cast<uint8_t>(four[i]);
  };
  tag(0, "RIFF");
  put_u32(&h[4], 36u + data_bytes);
  tag(8, "WAVE");
  tag(12, "fmt ");
  put_u32(&h[16], 16);
  put_u16(&h[20], 1);  // PCM
  put_u16(&h[22], 1);  // mono
  put_u32(&h[24], rate);
  put_u32(&h[28], 2u * rate);
  put_u16(&h[32], 2);
  put_u16(&h[34], 16);
  tag(36, "data");
  put_u32(&h[40], data_bytes);
  return h;
}

void append_text_line(std::vector<uint8_t>& out, uint16_t value) {
  char digits[5] = {' ', ' ', ' ', ' ', ' '};
  int i = 4;
  do {
    digits[i--] = static_cast<char>('0' + value % 10);
    value = static_cast<uint16_t>(value / 10);
  } while (value != 0 && i >= 0);
  out.insert(out.end(), digits, digits + 5);
  out.push_back('\r');
  out.push_back('\n');
}

bool TraceWriter::begin(uint32_t samples, uint32_t rate) {
  if (format_ == TraceFormat::text) return true;
  std::vector<uint8_t> h = wave_header(samples, rate);
  return sink_.write(h.data(), h.size());
}

bool TraceWriter::write_chunk(const uint16_t* samples, size_t n) {
  if (n == 0) return true;
  buffer_.clear();
  if (format_ == TraceFormat::text) {
    buffer_.reserve(n * kTextLineSize);
    for (size_t i = 0; i < n; ++i) append_text_line(buffer_, static_cast<uint16_t>(samples[i] & 0x3FFF));
  } else {
    buffer_.resize(2 * n);
    for (size_t i = 0; i < n; ++i) {
      // Mid-scale 8192 becomes 0: the 14-bit range maps to -8192 .. 8191.
      const int32_t centred = static_cast<int32_t>(samples[i] & 0x3FFF) - kWaveMidScale;
      lyralink::put_u16(&buffer_[2 * i], static_cast<uint16_t>(static_cast<int16_t>(centred)));
    }
  }
  if (!sink_.write(buffer_.data(), buffer_.size())) return false;
  written_ += n;
  return true;
}

bool TraceWriter::end() { return sink_.close(); }

}  // namespace pulsecap
