/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// Command-line options of lyrasim, parsed without side effects.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tools/lyrasim/device.h"
#include "tools/lyrasim/engine.h"

namespace lyrasim {

// One emulated analyser on one endpoint (a port name, an address, a USB slot).
struct EndpointSpec {
  std::string name;
  Identity identity;
  std::vector<uint32_t> bauds;  // answer only at these line rates; empty: any
  bool wire = false;            // pace answers at the line rate
  // Direct USB stand-in only:
  int32_t com_port = -1;
  std::string description = "MCA-740";
  uint8_t latency = 16;
  uint32_t driver_version = 0x00021400;
  uint32_t description_delay_ms = 0;  // the description is listed only this long after start
  bool queue_fails = false;           // every queue query fails
  uint32_t queue_fails_at_baud = 0;   // queue queries fail while the device runs at this rate
};

// Parses "DEVICE" (740|310 with options) including the endpoint options
// bauds=, wire=, com=, desc=, latency=, driver=, descdelay=, qfail=,
// qfailbaud=.
std::optional<EndpointSpec> parse_endpoint_device(const std::string& name, const std::string& device,
                                                  std::string* error);

struct Options {
  std::vector<EndpointSpec> serial;
  std::vector<EndpointSpec> udp;
  std::vector<FaultRule> faults;
  std::string port_dir;
  uint16_t udp_port = 50000;
  std::string record;
  bool control = false;
};

std::optional<Options> parse_options(const std::vector<std::string>& args, std::string* error);

}  // namespace lyrasim
