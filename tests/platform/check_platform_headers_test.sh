#!/bin/sh
# SPDX-License-Identifier: LGPL-2.1-or-later
# The platform-header check against small source trees: a clean tree
# passes, and each kind of leak planted into it fails with its finding.
#   check_platform_headers_test.sh <path of check-platform-headers.sh>
set -u
check="$1"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
passed=0

clean_tree() {
  rm -rf "$work/tree"
  mkdir -p "$work/tree/platform/posix" "$work/tree/lyralink" "$work/tree/tools/x" "$work/tree/tests" \
    "$work/tree/bench"
  cat >"$work/tree/platform/widget.h" <<'EOF'
#pragma once
// A widget. On POSIX it holds a descriptor (an int fd) and a pid_t; the
// comment may say so.
#include <cstdint>
#include <memory>

#include "platform/handles.h"

class Widget {
 public:
  Waitable waitable() const;
  const char* text() const { return "pid_t and EACCES in a string"; }

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};
EOF
  cat >"$work/tree/platform/posix/widget_posix.cpp" <<'EOF'
#include <unistd.h>
#include <cerrno>
int widget_fd = -1;
bool refused() { return errno == ECONNREFUSED; }
EOF
  cat >"$work/tree/lyralink/user.cpp" <<'EOF'
#include <vector>
#include "platform/widget.h"
/* EBUSY here is only a comment,
   and so is <unistd.h> and errno */
int use() { return 0; }
EOF
  # The harness may use the system directly.
  printf '#include <unistd.h>\nint t() { return errno == EBUSY; }\n' >"$work/tree/tests/harness.cpp"
  printf '#include <sys/socket.h>\n' >"$work/tree/bench/bench.cpp"
}

# expect <name> <0|1> <text the output must hold, or "">
expect() {
  out=$(sh "$check" "$work/tree" 2>&1)
  rc=$?
  if [ "$rc" -ne "$2" ]; then
    echo "FAIL $1: exit $rc, expected $2"
    echo "$out" | sed 's/^/    /'
    failed=$((failed + 1))
    return
  fi
  if [ -n "$3" ] && ! printf '%s\n' "$out" | grep -qF -- "$3"; then
    echo "FAIL $1: output lacks '$3'"
    echo "$out" | sed 's/^/    /'
    failed=$((failed + 1))
    return
  fi
  echo "ok   $1"
  passed=$((passed + 1))
}

clean_tree
expect "clean tree (backend, comments, strings, tests and bench may name the system)" 0 "OS-neutral"

clean_tree
sed -i 's|#include <memory>|#include <memory>\n#include <sys/types.h>|' "$work/tree/platform/widget.h"
expect "platform header including <sys/types.h>" 1 "platform/widget.h:6:sys/types.h: platform header includes <sys/types.h>"

clean_tree
sed -i 's|#include <memory>|#include <memory>\n#include <windows.h>|' "$work/tree/platform/widget.h"
expect "platform header including <windows.h>" 1 "platform header includes <windows.h>"

clean_tree
sed -i 's|  Waitable waitable() const;|  pid_t pid() const;|' "$work/tree/platform/widget.h"
expect "platform header naming pid_t" 1 "pid_t pid() const;   <- names a system type"

clean_tree
sed -i 's|  Waitable waitable() const;|  HANDLE handle() const;|' "$work/tree/platform/widget.h"
expect "platform header naming HANDLE" 1 "<- names a system type"

clean_tree
sed -i 's|  std::unique_ptr<Impl> impl_;|  int fd_;|' "$work/tree/platform/widget.h"
expect "platform header keeping int fd_" 1 "int fd_;   <- a descriptor as an int"

clean_tree
sed -i 's|  Waitable waitable() const;|  int poll_fd() const;|' "$work/tree/platform/widget.h"
expect "platform header returning int poll_fd()" 1 "<- a descriptor as an int"

clean_tree
sed -i '1i #include <unistd.h>' "$work/tree/lyralink/user.cpp"
expect "product file including <unistd.h>" 1 "lyralink/user.cpp:1:unistd.h: includes the system header <unistd.h>"

clean_tree
sed -i '1i #include <termios.h>' "$work/tree/lyralink/user.cpp"
expect "product file including <termios.h>" 1 "includes the system header <termios.h>"

clean_tree
printf '#include <sys/ioctl.h>\n' >"$work/tree/tools/x/tool.cpp"
expect "tool including <sys/ioctl.h>" 1 "tools/x/tool.cpp:1:sys/ioctl.h"

clean_tree
printf 'bool busy(int e) { return e == EBUSY; }\n' >>"$work/tree/lyralink/user.cpp"
expect "product file comparing with EBUSY" 1 "lyralink/user.cpp:6:bool busy(int e) { return e == EBUSY; }"

clean_tree
printf 'int last() { return errno; }\n' >>"$work/tree/tools/x/tool.cpp"
expect "tool reading errno" 1 "<- reads errno"

clean_tree
printf '#include <cerrno>\nint f() { return 0; }\n' >"$work/tree/platform/neutral.cpp"
expect "OS-neutral platform source including <cerrno>" 1 "platform/neutral.cpp:1:cerrno"

clean_tree
printf '#include <windows.h>\n' >>"$work/tree/platform/posix/widget_posix.cpp"
expect "POSIX backend including <windows.h>" 1 "platform/posix/widget_posix.cpp:5:windows.h: includes the Windows header <windows.h> outside platform/win32/"

clean_tree
printf '#include <WinSock2.h>\n' >"$work/tree/platform/neutral.cpp"
expect "OS-neutral platform source including <WinSock2.h>" 1 "includes the Windows header <WinSock2.h> outside platform/win32/"

clean_tree
mkdir -p "$work/tree/platform/win32"
printf '#include <winsock2.h>\n#include <windows.h>\nint last() { return static_cast<int>(GetLastError()); }\n' \
  >"$work/tree/platform/win32/widget_win32.cpp"
expect "Windows backend including <windows.h> and reading GetLastError" 0 "OS-neutral"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
