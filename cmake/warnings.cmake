# SPDX-License-Identifier: LGPL-2.1-or-later
# Warning and sanitizer flags shared by every target of the project.
add_library(lyralink_build_flags INTERFACE)
target_compile_options(lyralink_build_flags INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wno-sign-conversion
  $<$<COMPILE_LANGUAGE:CXX>:-Wnon-virtual-dtor -Wold-style-cast> -Wcast-align
  $<$<BOOL:${LYRALINK_WERROR}>:-Werror>)
if(LYRALINK_SANITIZE)
  target_compile_options(lyralink_build_flags INTERFACE
    -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  target_link_options(lyralink_build_flags INTERFACE -fsanitize=address,undefined)
endif()
