// SPDX-License-Identifier: LGPL-2.1-or-later
#include "lyralink/commands/commands.h"

#include <array>
#include <cstring>

#include "lyralink/commands/command_table.h"
#include "lyralink/link/transaction.h"

namespace lyralink::commands {

using link::kAnswerDataSize;
namespace status = link::status;

namespace {

void copy_answer(const LinkState& s, uint8_t* answer) {
  if (answer != nullptr) std::memcpy(answer, s.answer_data(), kAnswerDataSize);
}

}  // namespace

Status run_command(LinkState& s, const Command& command, const Arguments& args) {
  if (!s.link_open()) return status::no_link;
  load_command(s.command, command, args);
  return link::short_transaction(s);
}

Status run_two_step(LinkState& s, const TwoStep& steps) {
  Status result = run_command(s, steps.first);
  if (result != status::ok) return result;
  continue_command(s.command, steps.second, {});
  return link::short_transaction(s);
}

Status run_short_query(LinkState& s, const ShortQuery& query, uint8_t* answer, const Arguments& args) {
  if (!s.link_open()) return status::no_link;
  load_command(s.command, query.command, args);
  const Status result = link::short_transaction(s);
  if (answer != nullptr) {
    copy_answer(s, answer);
    apply_decoding(query.decoding, answer);
  }
  return result;
}

Status run_long_query(LinkState& s, const LongQuery& query, uint8_t* buffer, const Arguments& args) {
  if (!s.link_open()) return status::no_link;
  load_command(s.command, query.command, args);
  return link::long_transaction(s, buffer, query.length);
}

Status query_voltage_current(LinkState& s, uint8_t* answer, bool reading5_offset) {
  if (!s.link_open()) return status::no_link;
  load_command(s.command, defs::query_voltage_current, {});
  const Status result = link::short_transaction(s);
  rescale_voltage_current(s.answer_data(), reading5_offset);
  copy_answer(s, answer);
  return result;
}

Status query_spectra_ex(LinkState& s, int32_t first, int32_t count, int32_t selector, uint8_t* answer) {
  const SpectraChoice choice = choose_spectra_query(first, count, selector);
  return run_short_query(s, *choice.query, answer, choice.args);
}

Status query_enrichment(LinkState& s, int32_t a1, int32_t a2, int32_t a3, int32_t a4, uint8_t* answer) {
  return run_short_query(s, defs::query_enrichment, answer, enrichment_arguments(a1, a2, a3, a4));
}

Status query_trigger_filter_results(LinkState& s, int32_t flag, uint8_t* buffer) {
  constexpr size_t kPart = 1444;
  constexpr size_t kDropped = 4;  // the second block's own header
  Status result = run_long_query(s, defs::trigger_filter_results_first, buffer);
  if (result != status::ok || static_cast<uint16_t>(flag) == 0) return result;
  continue_command(s.command, defs::trigger_filter_results_second, {});
  std::array<uint8_t, kPart> second{};
  result = link::long_transaction(s, second.data(), kPart);
  if (result != status::ok) return result;
  if (buffer != nullptr) std::memcpy(buffer + kPart, second.data() + kDropped, kPart - kDropped);
  return status::ok;
}

Status set_time(LinkState& s) {
  if (!s.link_open()) return status::no_link;
  const std::optional<uint32_t> packed = pack_device_time(local_time_now());
  if (!packed) return status::out_of_range;
  return run_command(s, defs::time, {static_cast<int32_t>(*packed)});
}

Status set_ahrc_param(LinkState& s, int32_t selector, const int32_t* values) {
  if (!s.link_open()) return status::no_link;
  if (values == nullptr) return status::out_of_range;
  // The header carries only the low word of the selector (word 3 stays 0).
  Status result = run_command(s, defs::ahrc_header, {static_cast<uint16_t>(selector)});
  for (int32_t i = 0; i < 10 && result == status::ok; ++i) {
    result = run_command(s, defs::ahrc_value, {i, values[i]});
  }
  return result;
}

Status set_ip_address(LinkState& s, const uint8_t* address) {
  if (!s.link_open()) return status::no_link;
  if (address == nullptr) return status::out_of_range;
  return run_command(s, defs::ip_address, {address[0], address[1], address[2], address[3]});
}

Status write_to_extension(LinkState& s, const char* text) {
  if (!s.link_open()) return status::no_link;
  if (text == nullptr) return status::out_of_range;
  Status result = run_command(s, defs::clear_extension_tx);
  if (result != status::ok) return result;
  const size_t length = std::strlen(text);
  for (size_t frame = 0; frame < extension_text_frames(length); ++frame) {
    Arguments chars{};
    for (size_t i = 0; i < kExtensionCharsPerFrame && frame * kExtensionCharsPerFrame + i < length; ++i) {
      chars[i] = static_cast<uint8_t>(text[frame * kExtensionCharsPerFrame + i]);
    }
    result = run_command(s, defs::write_extension_tx_ascii, chars);
    if (result != status::ok) return result;
  }
  return result;
}

namespace {

Status read_extension_block(LinkState& s, int32_t a1, std::array<uint8_t, kExtensionBlockSize>& block) {
  return run_long_query(s, defs::query_extension_rs232_rx, block.data(), {a1});
}

void put_text(const std::array<uint8_t, kExtensionBlockSize>& block, BlockRange range, char* text) {
  if (text == nullptr) return;
  std::memcpy(text, block.data() + range.offset, range.length);
  text[range.length] = '\0';
}

}  // namespace

Status read_from_extension(LinkState& s, char* text, int32_t maxlen) {
  std::array<uint8_t, kExtensionBlockSize> block{};
  const Status result = read_extension_block(s, 0, block);
  if (result != status::ok) return result;
  put_text(block, received_text_range(block.data(), maxlen), text);
  return status::ok;
}

Status read_from_extension_ex(LinkState& s, int32_t a1, char* text, int32_t maxlen) {
  std::array<uint8_t, kExtensionBlockSize> block{};
  const Status result = read_extension_block(s, a1, block);
  if (result != status::ok) return result;
  put_text(block, data_area_tail_range(maxlen), text);
  return status::ok;
}

Status write_detector_info(LinkState& s, const uint8_t* data, int32_t count) {
  if (!s.link_open()) return status::no_link;
  const std::vector<DetectorChunk> chunks = detector_info_chunks(static_cast<uint16_t>(count));
  if (chunks.empty() || data == nullptr) return status::out_of_range;
  Status result = status::ok;
  for (const DetectorChunk& chunk : chunks) {
    Arguments args{chunk.header};
    for (size_t i = 0; i < chunk.length; ++i) args[1 + i] = data[chunk.first + i];
    result = run_command(s, defs::detector_info_chunk, args);
    if (result != status::ok) return result;
  }
  return result;
}

Status generic_command(LinkState& s, const char* name, uint8_t* answer, const Arguments& p) {
  // The words are cleared before anything is checked; the code keeps the
  // previous command's value until a row is found.
  s.command.clear_parameters();
  if (!s.link_open()) return status::no_link;
  const CommandRow* row = find_command_row(name);
  if (row == nullptr) return status::device_error_aaab;  // 2: no such command name
  continue_command(s.command, row->command, p);
  const Status result = link::short_transaction(s);
  copy_answer(s, answer);
  return result;
}

}  // namespace lyralink::commands
