#include "tools/lyrasim/options.h"

#include <cerrno>
#include <cstdlib>

#include "platform/environment.h"

namespace lyrasim {

namespace {
bool to_number(const std::string& text, long long& out) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  out = std::strtoll(text.c_str(), &end, 0);
  return errno == 0 && end != text.c_str() && *end == '\0';
}
}  // namespace

std::optional<EndpointSpec> parse_endpoint_device(const std::string& name, const std::string& device,
                                                  std::string* error) {
  EndpointSpec endpoint;
  endpoint.name = name;
  // Endpoint keys are taken out; the rest describes the analyser.
  std::string identity_text;
  size_t start = 0;
  bool first = true;
  while (start <= device.size()) {
    size_t comma = device.find(',', start);
    std::string item = device.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    start = comma == std::string::npos ? device.size() + 1 : comma + 1;
    if (first) {
      identity_text = item;
      first = false;
      continue;
    }
    size_t eq = item.find('=');
    std::string key = item.substr(0, eq);
    std::string value = eq == std::string::npos ? "" : item.substr(eq + 1);
    long long v = 0;
    if (key == "bauds") {
      size_t p = 0;
      while (p <= value.size()) {
        size_t slash = value.find('/', p);
        std::string rate = value.substr(p, slash == std::string::npos ? std::string::npos : slash - p);
        p = slash == std::string::npos ? value.size() + 1 : slash + 1;
        if (!to_number(rate, v) || v <= 0) {
          if (error != nullptr) *error = "bad rate '" + rate + "' in bauds=";
          return std::nullopt;
        }
        endpoint.bauds.push_back(static_cast<uint32_t>(v));
      }
    } else if (key == "wire" && to_number(value, v)) {
      endpoint.wire = v != 0;
    } else if (key == "com" && to_number(value, v)) {
      endpoint.com_port = static_cast<int32_t>(v);
    } else if (key == "desc") {
      endpoint.description = value.substr(0, 63);
    } else if (key == "latency" && to_number(value, v)) {
      endpoint.latency = static_cast<uint8_t>(v);
    } else if (key == "driver" && to_number(value, v)) {
      endpoint.driver_version = static_cast<uint32_t>(v);
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
    if (to_number(*p, v) && v > 0 && v < 65536) o.udp_port = static_cast<uint16_t>(v);
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
      if (!v || !to_number(*v, n) || n <= 0 || n > 65535) return fail("--udp-port needs a port number");
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
