#include <cstdlib>

#include "platform/environment.h"

namespace lyralink::platform {

std::optional<std::string> environment_value(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

}  // namespace lyralink::platform
