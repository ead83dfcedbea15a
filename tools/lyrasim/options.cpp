// SPDX-License-Identifier: LGPL-2.1-or-later
#include "tools/lyrasim/options.h"

#include <cstdlib>

#include "platform/environment.h"
#include "tools/lyrasim/text.h"

namespace lyrasim {

std::optional<EndpointSpec> parse_endpoint_device(const std::string& name, const std::string& device,
                                                  std::string* error) {
  EndpointSpec endpoint;
  endpoint.name = name;
  // Endpoint keys are taken out; the rest describes the analyser.
  const std::vector<std::string> items = split_fields(device, ',');
  std::string identity_text = items.front();
  for (size_t i = 1; i < items.size(); ++i) {
    const std::string& item = items[i];
    const auto [key, value] = split_setting(item);
    long long v = 0;
    if (key == "bauds") {
      for (const std::string& rate : split_fields(value, '/')) {
        if (!parse_integer(rate, v) || v <= 0) {
          if (error != nullptr) *error = "bad rate '" + rate + "' in bauds=";
          return std::nullopt;
        }
        endpoint.bauds.push_back(static_cast<uint32_t>(v));
      }
    } else if (key == "wire" && parse_integer(value, v)) {
      endpoint.wire = v != 0;
    } else if (key == "com" && parse_integer(value, v)) {
      endpoint.com_port = static_cast<int32_t>(v);
    } else if (key == "desc") {
      endpoint.description = value.substr(0, 63);
    } else if (key == "latency" && parse_integer(value, v)) {
      endpoint.latency = static_cast<uint8_t>(v);
    } else if (key == "driver" && parse_integer(value, v)) {
      endpoint.driver_version = static_cast<uint32_t>(v);
    } else if (key == "descdelay" && parse_integer(value, v) && v >= 0) {
      endpoint.description_delay_ms = static_cast<uint32_t>(v);
    } else if (key == "qfail" && parse_integer(value, v)) {
      endpoint.queue_fails = v != 0;
    } else if (key == "qfailbaud" && parse_integer(value, v) && v > 0) {
      endpoint.queue_fails_at_baud = static_cast<uint32_t>(v);
    } else {
      identity_text += "," + item;
    }
  }
  auto id = parse_identity(identity_text, error);
  if (!id) return std::nullopt;
  endpoint.identity = *id;
  return endpoint;
}

std::optional<Options> parse_options(const std::vector<std::string>& args, std::string* error) {
  Options o;
  o.port_dir = lyralink::platform::environment_value("LYRALINK_PORT_DIR").value_or("ports");
  if (auto p = lyralink::platform::environment_value("LYRALINK_UDP_PORT")) {
    long long v = 0;
    if (parse_integer(*p, v) && v > 0 && v < 65536) o.udp_port = static_cast<uint16_t>(v);
  }
  auto fail = [&](const std::string& why) -> std::optional<Options> {
    if (error != nullptr) *error = why;
    return std::nullopt;
  };
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&]() -> std::optional<std::string> {
      if (i + 1 >= args.size()) return std::nullopt;
      return args[++i];
    };
    if (a == "--serial" || a == "--udp") {
      auto v = value();
      if (!v) return fail(a + " needs NAME=DEVICE");
      size_t eq = v->find('=');
      if (eq == std::string::npos || eq == 0) return fail(a + " needs NAME=DEVICE, got '" + *v + "'");
      std::string name = v->substr(0, eq);
      if (name.find('/') != std::string::npos) return fail("port name '" + name + "' must not contain '/'");
      auto endpoint = parse_endpoint_device(name, v->substr(eq + 1), error);
      if (!endpoint) return std::nullopt;
      (a == "--serial" ? o.serial : o.udp).push_back(*endpoint);
    } else if (a == "--port-dir") {
      auto v = value();
      if (!v) return fail("--port-dir needs a directory");
      o.port_dir = *v;
    } else if (a == "--udp-port") {
      auto v = value();
      long long n = 0;
      if (!v || !parse_integer(*v, n) || n <= 0 || n > 65535) return fail("--udp-port needs a port number");
      o.udp_port = static_cast<uint16_t>(n);
    } else if (a == "--record") {
      auto v = value();
      if (!v) return fail("--record needs a file");
      o.record = *v;
    } else if (a == "--fault") {
      auto v = value();
      if (!v) return fail("--fault needs a rule");
      auto r = parse_fault(*v, error);
      if (!r) return std::nullopt;
      o.faults.push_back(*r);
    } else if (a == "--control") {
      o.control = true;
    } else {
      return fail("unknown option '" + a + "'");
    }
  }
  return o;
}

}  // namespace lyrasim
