// SPDX-License-Identifier: LGPL-2.1-or-later
#include "lyralink/commands/packing.h"

namespace lyralink::commands {

void apply_packing(link::CommandFrame& frame, const Packing& packing, const Arguments& args) {
  for (uint8_t i = 0; i < packing.count; ++i) {
    const Field& f = packing.fields[i];
    const uint32_t v = f.constant ? f.value : static_cast<uint32_t>(args[f.arg]);
    switch (f.kind) {
      case Field::Kind::word: frame.set_word(f.at, static_cast<uint16_t>(v)); break;
      case Field::Kind::dword:
        frame.set_word(f.at, static_cast<uint16_t>(v));
        frame.set_word(f.at + 1, static_cast<uint16_t>(v >> 16));
        break;
      case Field::Kind::byte: frame.set_byte(f.at, static_cast<uint8_t>(v)); break;
      case Field::Kind::word_low8: frame.set_word(f.at, static_cast<uint8_t>(v)); break;
    }
  }
}

void load_command(link::CommandFrame& frame, const Command& command, const Arguments& args) {
  frame.set_code(command.code);
  frame.clear_parameters();
  apply_packing(frame, command.packing, args);
}

void continue_command(link::CommandFrame& frame, const Command& command, const Arguments& args) {
  frame.set_code(command.code);
  apply_packing(frame, command.packing, args);
}

}  // namespace lyralink::commands
