// SPDX-License-Identifier: LGPL-2.1-or-later
// Writes the seed corpus of every fuzz target from the project's own
// tools: answer frames of lyrasim's emulated analysers, command frames as
// the library sends them, trace files of the recorder's writers, uninstall
// logs of the setup programs' writer, registry texts as the setup script
// holds them. The layout of each seed is the one its target reads (see the
// comment at the top of each target).
//   make_seeds DIR     writes DIR/TARGET/NAME (the corpus is fuzz/corpus)
// The setup script seeds are not written here: they are the setup
// directory's install.lst of lyralink and the setup tests' script that
// uses every section, copied into fuzz/corpus/setup_script.
#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <vector>

#include "fuzz/script.h"
#include "lyralink/discovery/identity.h"
#include "lyralink/link/frames.h"
#include "pulsecap/core/trace_writer.h"
#include "setup/common/uninstall_log.h"
#include "tools/lyrasim/device.h"

using lyrafuzz::ScriptWriter;
using Bytes = std::vector<uint8_t>;

namespace {

std::string out_dir;

void save(const std::string& target, const std::string& name, const Bytes& bytes) {
  const std::string dir = out_dir + "/" + target;
  ::mkdir(dir.c_str(), 0755);
  FILE* f = std::fopen((dir + "/" + name).c_str(), "wb");
  if (f == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size() || std::fclose(f) != 0) {
    lyrafuzz::broken("cannot write a seed");
  }
}

Bytes text_bytes(const std::string& s) { return Bytes(s.begin(), s.end()); }

// The frame the library sends for `code` with parameter word 1, as the
// emulator receives it.
lyrasim::Command command(uint16_t code, uint16_t word1 = 0) {
  lyralink::link::CommandFrame frame(code);
  frame.set_word(1, word1);
  lyrasim::Command c;
  std::copy(frame.data(), frame.data() + 12, c.raw.begin());
  return c;
}

const lyrasim::SteadyClock::time_point kNow{std::chrono::hours(2)};

Bytes answer(lyrasim::Analyser& device, uint16_t code, uint16_t word1 = 0) {
  return device.respond(command(code, word1), kNow);
}

Bytes slice(const Bytes& b, size_t from, size_t n) {
  return Bytes(b.begin() + static_cast<std::ptrdiff_t>(from), b.begin() + static_cast<std::ptrdiff_t>(from + n));
}

Bytes datagram(const Bytes& frame) {
  Bytes d{0, 0};
  d.insert(d.end(), frame.begin(), frame.end());
  return d;
}

// The word whose long answer length (2 * (1 + w % 732)) is len.
uint16_t word_for_length(size_t len) { return static_cast<uint16_t>(len / 2 - 1); }

void receive_seeds(lyrasim::Analyser& mca740) {
  const Bytes state = answer(mca740, 0x5A);
  const Bytes bulk = answer(mca740, 0x5B, 0x0010);
  const Bytes memory = answer(mca740, 297, 3);  // 1444 bytes of signal memory
  const Bytes refused = lyrasim::error_answer(0xAAAE);
  struct Case {
    const char* name;
    uint8_t flags;
    uint16_t code;
    uint16_t word;
    std::vector<Bytes> pieces;
  };
  const std::vector<Case> cases = {
      {"short-whole", 0, 0x5A, 0, {state}},
      {"short-in-two-pieces", 0, 0x5A, 0, {slice(state, 0, 50), slice(state, 50, 86)}},
      {"short-too-long", 0, 0x5A, 0, {state, Bytes{0x5A}}},
      {"bulk-whole", 0, 0x5B, 0x0010, {bulk}},
      {"long-in-pieces", 1, 297, word_for_length(1444),
       {slice(memory, 0, 300), Bytes{}, slice(memory, 300, 300), slice(memory, 600, memory.size() - 600)}},
      {"long-refused", 1, 297, word_for_length(1444), {refused, Bytes{}}},
      {"long-late-deadline", 3, 297, word_for_length(1444), {slice(memory, 0, 136)}},
  };
  for (const Case& c : cases) {
    ScriptWriter q;
    q.u8(c.flags);
    q.u16(c.code);
    q.u16(c.word);
    for (const Bytes& p : c.pieces) q.piece(p);
    save("receive_queue", c.name, q.data());

    // The same answer as datagrams: a stranger's first, then the device's.
    ScriptWriter u;
    u.u8(c.flags & 1);
    u.u16(c.code);
    u.u16(c.word);
    u.u8(1);  // one datagram before the send
    u.u8(2);
    u.piece(datagram(c.pieces.front()));
    Bytes whole;
    for (const Bytes& p : c.pieces) whole.insert(whole.end(), p.begin(), p.end());
    u.u8(0);
    u.piece(datagram(whole));
    save("receive_udp", c.name, u.data());
  }
  ScriptWriter failing;
  failing.u8(1);
  failing.u16(297);
  failing.u16(word_for_length(1444));
  failing.piece(slice(memory, 0, 700));
  failing.u16(0xFFFF);
  save("receive_queue", "long-query-fails", failing.data());
}

void identity_seeds(lyrasim::Analyser& mca740, lyrasim::Analyser& mca310, lyrasim::Analyser& head) {
  const Bytes id740 = answer(mca740, lyralink::discovery::kProbe740Code);
  const Bytes id310 = answer(mca310, lyralink::discovery::kProbe310Code);
  const Bytes from740 = answer(mca740, lyralink::discovery::kProbe310Code);
  const Bytes head_answer = answer(head, lyralink::discovery::kHeadQueryCode);
  auto seed = [&](const char* name, uint8_t flags, const std::string& where, const Bytes& frame,
                  const std::vector<std::pair<uint8_t, Bytes>>& datagrams, const Bytes& rest) {
    ScriptWriter w;
    w.u8(flags);
    w.u8(1);
    w.u8(1);
    w.u16(0x0100);
    w.u16(0x1116);
    w.text(where);
    w.piece(frame);
    for (const auto& [sender, bytes] : datagrams) {
      w.u8(sender);
      w.u8(0);    // the devices' port
      w.u8(20);   // 20 ms later
      w.u8(0);
      w.piece(bytes);
    }
    w.bytes(rest);
    save("identity", name, w.data());
  };
  seed("mca740-on-com3", 0, "COM3", id740, {}, {});
  seed("mca310-on-usb", 1, "USB", id310, {}, {});
  seed("mca740-answers-the-310-probe", 1, "COM4", from740, {}, {});
  seed("window-two-analysers", 2, "192.168.1.20", id740, {{0, datagram(id740)}, {1, datagram(id740)}, {0, datagram(id740)}},
       {});
  seed("window-and-head", 0, "192.168.1.20", id740, {{0, datagram(id740)}, {0, datagram(head_answer)}},
       slice(head_answer, 0, head_answer.size()));
}

void usb_seeds(lyrasim::Analyser& mca740, lyrasim::Analyser& mca310) {
  const Bytes id740 = answer(mca740, lyralink::discovery::kProbe740Code);
  const Bytes id310 = answer(mca310, lyralink::discovery::kProbe310Code);
  const Bytes state = answer(mca740, 0x5A);
  auto seed = [&](const char* name, const std::vector<std::pair<std::string, Bytes>>& devices) {
    ScriptWriter w;
    w.u8(static_cast<uint8_t>(devices.size() - 1));
    w.u16(0x5A);
    w.u16(0);
    for (const auto& [description, frame] : devices) {
      w.u8(0);  // FT_ListDevices
      w.piece(text_bytes(description + std::string(1, '\0')));
      w.u8(0);  // FT_Write of the probe
      w.u8(0);  // FT_GetQueueStatus
      w.u16(static_cast<uint16_t>(frame.size()));
      w.u8(0);  // FT_Read
      w.piece(frame);
    }
    // The link: the queue is empty before the send, then the answer waits.
    w.u8(0);
    w.u16(0);
    w.u8(0);
    w.u8(0);
    w.u16(136);
    w.u8(0);
    w.piece(state);
    save("usb_selection", name, w.data());
  };
  seed("mca740", {{"MCA-740", id740}});
  seed("mca740-micro-and-mca310-cable", {{"MCA-740 Micro", id740}, {"MCA-310 Cable", id310}});
  seed("unknown-bridge-and-mca310", {{"USB <-> Serial", id740}, {"MCA-310", id310}});
}

void settings_seeds() {
  auto op = [](ScriptWriter& w, uint8_t code, const std::vector<std::string>& texts) {
    w.u8(code);
    for (const auto& t : texts) w.text(t);
  };
  ScriptWriter special;
  op(special, 0, {"Software\\LYRALINK\\Special IPs"});
  op(special, 2, {"Software\\LYRALINK\\Special IPs", "IP1", "192.168.1.20"});
  op(special, 3, {"software\\lyralink\\special ips", "Count"});
  special.u32(1);
  op(special, 6, {"Software\\LYRALINK"});
  op(special, 5, {"Software\\LYRALINK\\Special IPs"});
  op(special, 8, {"Software"});
  special.u8(1);
  save("settings_store", "special-ips", special.data());

  ScriptWriter entries;
  op(entries, 9, {"HKEY_CURRENT_USER\\Software\\lyralink,REG_SZ(Path,/opt/lyralink)"});
  op(entries, 9, {"HKEY_LOCAL_MACHINE\\Software\\lyralink\\Setup,REG_DW(Installed,1)"});
  op(entries, 9, {"HKEY_CURRENT_USER\\Software\\lyralink,REG_UN(Old)"});
  op(entries, 10, {"HKEY_CURRENT_USER\\Software\\lyralink", "HKEY_CURRENT_USER\\Software\\lyralink,Path"});
  op(entries, 4, {"Software\\lyralink", "Path"});
  op(entries, 7, {"Software\\lyralink", "PATH"});
  save("settings_store", "registry-entries", entries.data());
}

void log_seeds() {
  using namespace lyralink::setup;
  const std::string log = log_header() + title_line("lyralink") + action_line(ActionKind::create_dir, "/opt/lyralink") +
                          action_line(ActionKind::private_file, "/opt/lyralink/bin/lyractl") +
                          action_line(ActionKind::shared_file, "/opt/lyralink/lib/liblyralink.so.1") +
                          action_line(ActionKind::shell_link, "/home/user/.local/share/applications/lyralink") +
                          action_line(ActionKind::reg_app, "lyralink") +
                          action_line(ActionKind::reg_key, "HKEY_CURRENT_USER\\Software\\lyralink") +
                          action_line(ActionKind::reg_value, "HKEY_CURRENT_USER\\Software\\lyralink,Path");
  for (uint8_t flags : {uint8_t{0}, uint8_t{6}}) {
    Bytes b{flags};
    const std::string disk = to_disk_text(log);
    b.insert(b.end(), disk.begin(), disk.end());
    save("uninstall_log", flags == 0 ? "install-log" : "install-log-writable-by-others", b);
  }
  Bytes command{0};
  const std::string text = uninstall_string("/opt/lyralink", "/opt/lyralink/uninst00.log");
  command.insert(command.end(), text.begin(), text.end());
  save("uninstall_log", "uninstall-command", command);
}

class MemorySink final : public pulsecap::TraceSink {
 public:
  Bytes bytes;
  bool write(const uint8_t* data, size_t n) override {
    bytes.insert(bytes.end(), data, data + n);
    return true;
  }
  bool close() override { return true; }
  std::string last_error() const override { return {}; }
};

void trace_seeds(lyrasim::Analyser& mca740) {
  std::vector<uint16_t> samples(400);
  for (size_t i = 0; i < samples.size(); ++i) samples[i] = mca740.signal_sample(i) & 0x3FFF;
  for (auto format : {pulsecap::TraceFormat::wave, pulsecap::TraceFormat::text}) {
    MemorySink sink;
    pulsecap::TraceWriter writer(sink, format);
    if (!writer.begin(static_cast<uint32_t>(samples.size()), 20000000) ||
        !writer.write_chunk(samples.data(), samples.size()) || !writer.end()) {
      lyrafuzz::broken("trace writer failed");
    }
    const bool wave = format == pulsecap::TraceFormat::wave;
    save("trace_reader", wave ? "trace.wav" : "trace.txt", sink.bytes);
    // A recording that ended early: the header announces all samples.
    if (wave) save("trace_reader", "trace-cut.wav", slice(sink.bytes, 0, sink.bytes.size() / 2));
  }
}

void lyrasim_seeds() {
  auto frame = [](uint16_t code, uint16_t word1 = 0) {
    const lyrasim::Command c = command(code, word1);
    return Bytes(c.raw.begin(), c.raw.end());
  };
  auto seed = [&](const char* name, uint8_t flags, const std::vector<std::string>& rules, const std::vector<Bytes>& pieces) {
    ScriptWriter w;
    w.u8(flags);
    w.u8(static_cast<uint8_t>(rules.size()));
    for (const auto& r : rules) w.text(r);
    for (const Bytes& p : pieces) {
      w.u16(50);
      w.piece(p);
    }
    save("lyrasim_frames", name, w.data());
  };
  Bytes stream = frame(0x5A);
  const Bytes second = frame(297, 3);
  stream.insert(stream.end(), {0x00, 0xA5, 0x5A, 0x01});  // junk
  stream.insert(stream.end(), second.begin(), second.end());
  seed("serial-state-junk-memory", 0, {}, {slice(stream, 0, 7), slice(stream, 7, stream.size() - 7)});
  seed("serial-310-newer-command", 1, {}, {frame(0x101), frame(0x5A)});
  seed("udp-head-query", 6, {}, {frame(0x108), frame(0x101)});
  seed("faults", 0, {"checksum,code=90,count=1", "length=-4,skip=1", "error=0xAAAE,on=COM3"},
       {frame(0x5A), frame(0x5A), frame(0x105, 1)});
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_seeds DIR\n");
    return 2;
  }
  out_dir = argv[1];
  ::mkdir(out_dir.c_str(), 0755);
  lyrasim::Identity i740;
  i740.serial = 2024;
  lyrasim::Analyser mca740(i740);
  lyrasim::Identity i310;
  i310.model = lyrasim::Model::mca310;
  i310.serial = 310;
  i310.firmware = 0x0205;
  lyrasim::Analyser mca310(i310);
  lyrasim::Identity ihead;
  ihead.head = true;
  ihead.head_serial = 4711;
  lyrasim::Analyser head(ihead);
  receive_seeds(mca740);
  identity_seeds(mca740, mca310, head);
  usb_seeds(mca740, mca310);
  settings_seeds();
  log_seeds();
  trace_seeds(mca740);
  lyrasim_seeds();
  return 0;
}
