#pragma once
#include <optional>
#include <string>

namespace lyralink::platform {

// Value of an environment variable; nullopt when unset (an empty value is a value).
std::optional<std::string> environment_value(const char* name);

}  // namespace lyralink::platform
