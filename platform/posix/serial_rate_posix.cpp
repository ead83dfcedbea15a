// SPDX-License-Identifier: LGPL-2.1-or-later
#include <asm/termbits.h>
#include <sys/ioctl.h>

#include "platform/posix/serial_rate.h"

namespace lyralink::platform::posix {

bool set_line_rate(int fd, uint32_t baud) {
  struct termios2 tio {};
  if (ioctl(fd, TCGETS2, &tio) != 0) return false;
  tio.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
  tio.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
  tio.c_ispeed = baud;
  tio.c_ospeed = baud;
  return ioctl(fd, TCSETS2, &tio) == 0;
}

std::optional<uint32_t> get_line_rate(int fd) {
  struct termios2 tio {};
  if (ioctl(fd, TCGETS2, &tio) != 0) return std::nullopt;
  return tio.c_ospeed;
}

}  // namespace lyralink::platform::posix
