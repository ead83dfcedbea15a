// SPDX-License-Identifier: LGPL-2.1-or-later
#include "tests/support/emulator.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/udp_socket.h"

namespace fs = std::filesystem;

namespace lyratest {

std::string lyrasim_path() { return LYRATEST_LYRASIM; }
std::string standin_bridge_path() { return LYRATEST_STANDIN_BRIDGE; }

std::string RecordedFrame::hex() const {
  static const char d[] = "0123456789abcdef";
  std::string s;
  for (uint8_t b : bytes) {
    s.push_back(d[b >> 4]);
    s.push_back(d[b & 15]);
  }
  return s;
}

std::vector<RecordedFrame> read_record(const std::string& path) {
  std::vector<RecordedFrame> out;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    RecordedFrame f;
    std::string hex, extra;
    fields >> f.us >> f.endpoint >> hex;
    if (hex == "junk" || hex.size() != 24) continue;
    for (size_t i = 0; i < 12; ++i) f.bytes[i] = static_cast<uint8_t>(std::stoul(hex.substr(2 * i, 2), nullptr, 16));
    if (fields >> extra && extra.rfind("baud=", 0) == 0) f.baud = static_cast<uint32_t>(std::stoul(extra.substr(5)));
    out.push_back(f);
  }
  return out;
}

std::string make_temp_dir(const std::string& tag) {
  static int counter = 0;
  fs::path base = fs::temp_directory_path() / ("lyratest-" + std::to_string(::getpid()));
  fs::path dir = base / (tag + "-" + std::to_string(++counter));
  fs::create_directories(dir);
  static bool registered = false;
  if (!registered) {
    registered = true;
    static fs::path to_remove;
    to_remove = base;
    std::atexit([] {
      std::error_code ec;
      fs::remove_all(to_remove, ec);
    });
  }
  return dir.string();
}

std::unique_ptr<Emulator> Emulator::start(const std::vector<std::string>& args,
                                          const std::vector<std::string>& launcher) {
  auto e = std::unique_ptr<Emulator>(new Emulator);
  std::string dir = make_temp_dir("sim");
  e->port_dir_ = dir + "/ports";
  fs::create_directories(e->port_dir_);
  e->record_path_ = dir + "/frames.log";
  std::vector<std::string> argv{lyrasim_path(), "--port-dir", e->port_dir_, "--record", e->record_path_, "--control"};
  argv.insert(argv.end(), args.begin(), args.end());
  argv.insert(argv.begin(), launcher.begin(), launcher.end());
  lyralink::platform::SystemError err;
  e->process_ = lyralink::platform::ChildProcess::spawn(argv, {}, &err);
  if (!e->process_) {
    ADD_FAILURE() << "cannot start lyrasim: " << err.message();
    return nullptr;
  }
  auto deadline = lyralink::platform::deadline_after_ms(10000);
  while (auto line = e->process_->read_line(deadline)) {
    if (*line == "ready") return e;
  }
  ADD_FAILURE() << "lyrasim did not get ready";
  return nullptr;
}

Emulator::~Emulator() {
  if (process_) {
    process_->write("quit\n");
    process_->wait(lyralink::platform::deadline_after_ms(3000));
  }
}

bool Emulator::control(const std::string& line) {
  if (!process_->write(line + "\n")) return false;
  auto answer = process_->read_line(lyralink::platform::deadline_after_ms(5000));
  return answer && *answer == "ok";
}

std::vector<RecordedFrame> Emulator::frames() const { return read_record(record_path_); }

void Emulator::clear_record() {
  std::ofstream truncate(record_path_, std::ios::trunc);
}

void Emulator::use_ports() const { ::setenv("LYRALINK_PORT_DIR", port_dir_.c_str(), 1); }

uint16_t free_udp_port() {
  auto s = lyralink::platform::UdpSocket::create(0, "127.0.0.1");
  return s ? s->local_port() : 0;
}

}  // namespace lyratest
