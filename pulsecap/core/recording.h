/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// One recording of the analyser's common (signal) memory into a trace
// file: fill stop, start, a pause of 100 ms, then the memory read back in
// chunks of 720 samples, each masked to 14 bits and handed to the trace
// writer at once. The recorder window and `lyractl record` both run it.
#include <cstdint>
#include <string>

#include "pulsecap/core/device_layer.h"
#include "pulsecap/core/trace_writer.h"

namespace pulsecap {

// Sample rate R in samples per second: 10 MHz below firmware 0x1304, else
// the kHz word of the extended 740 state times 1000.
uint32_t sample_rate(uint16_t firmware, uint16_t rate_khz);

// Longest recording in seconds for a common memory of `memory_bytes`:
// (M - 1440) / (2 R); 0 when the memory is smaller than 1440 bytes or the
// rate is unknown (0), so the range never goes negative or infinite.
double time_range_seconds(uint32_t memory_bytes, uint32_t rate);

// The sample count of a recording of `seconds` at `rate`, truncated, and
// clamped to what the memory holds ((M - 1440) / 2) and to what the WAVE
// sizes and the fill stop 2 N can carry in 32 bits.
uint32_t sample_count(double seconds, uint32_t rate, uint32_t memory_bytes);

// Progress after `read_offset` of n samples: read_offset * 100 / n in
// unsigned integer arithmetic, without the product wrapping.
unsigned progress_percent(uint64_t read_offset, uint32_t n);

// What the caller sees during the read-back.
class RecordingObserver {
 public:
  virtual ~RecordingObserver() = default;
  // The fill stop and the start succeeded; the default waits 100 ms, the
  // time the analyser gets before the read-back starts.
  virtual void started();
  // After a chunk that was not the last: the share read so far.
  virtual void progress(unsigned /*percent*/) {}
  // Between two chunks: the recorder lets its window handle its events.
  virtual void between_chunks() {}
};

enum class RecordingEnd {
  complete,      // every chunk read and written
  start_failed,  // the fill stop or the start command failed: nothing read
  read_failed,   // a memory read failed; the file holds what came before
  write_failed,  // the trace file refused a chunk (full disk ...); reading stopped
};

struct RecordingResult {
  RecordingEnd end = RecordingEnd::complete;
  int16_t status = 0;            // the failed command's status
  uint64_t samples_written = 0;
  uint64_t chunks_read = 0;
  std::string write_error;       // the file's reason for write_failed
};

// Runs the device part of a recording of n samples into a writer whose
// begin() (the WAVE header) has already been written. The file is not
// closed here.
RecordingResult run_recording(RecordingDevice& device, TraceWriter& writer, uint32_t n, RecordingObserver& observer);

}  // namespace pulsecap
