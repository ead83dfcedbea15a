// SPDX-License-Identifier: LGPL-2.1-or-later
// Trace files as pulsecap --view reads them: a WAVE file (chunks of any
// size and order, a header that announces more than the file holds) or a
// text file of sample values, then the preview's envelope of the trace at
// a few zooms and pans, as the preview draws it.
//
// The input is the file itself, so the seeds are trace files written by
// the project's own recorders.
#include "fuzz/script.h"
#include "pulsecap/core/envelope.h"
#include "pulsecap/core/trace_reader.h"

using namespace pulsecap;

namespace {

void draw(const Trace& t, const TraceViewport& view, size_t columns) {
  const auto ranges = envelope(t.samples, view.first(), view.span(), columns);
  if (ranges.size() != columns) lyrafuzz::broken("envelope with another number of columns");
  for (const auto& r : ranges) {
    if (!r.empty && (r.low > r.high || r.high > 0x3FFF)) lyrafuzz::broken("envelope column out of order or range");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<uint8_t> bytes(data, data + size);
  std::string error;
  const auto trace = parse_trace(bytes, &error);
  if (!trace) {
    if (error.empty()) lyrafuzz::broken("a trace refused without a reason");
    return 0;
  }
  for (uint16_t s : trace->samples) {
    if (s > 0x3FFF) lyrafuzz::broken("a sample above 14 bits");
  }
  if (!trace->wave && trace->declared != trace->samples.size()) lyrafuzz::broken("a text trace declares other than it holds");
  TraceViewport view(trace->samples.size());
  draw(*trace, view, 64);
  view.zoom_at(0.25, 37.0);
  draw(*trace, view, 64);
  view.pan_by(-1e12);
  draw(*trace, view, 3);
  view.zoom_at(1.0, 1e9);
  view.pan_by(1e12);
  draw(*trace, view, 1);
  view.zoom_at(0.5, 1e-9);
  draw(*trace, view, 300);
  return 0;
}
