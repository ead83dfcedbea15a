#pragma once
// Recognising the analyser's USB-serial bridge ports.
#include <string>

namespace lyralink::link {

// True when the serial port `name` belongs to a USB-serial bridge of the
// analyser (vendor 0403, product 6001).
bool is_usb_port(const std::string& name);

}  // namespace lyralink::link
