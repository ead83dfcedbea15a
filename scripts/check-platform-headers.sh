#!/bin/sh
# SPDX-License-Identifier: LGPL-2.1-or-later
# Keeps the operating system behind the platform layer, so that a backend
# for another system is one more folder under platform/ and nothing else.
#
#   scripts/check-platform-headers.sh [source root]
#
# Fails (exit 1, one line per finding) when
#  (a) a header platform/*.h includes anything but the C++ standard library
#      (the C headers of the C standard included, <cerrno> and <csignal>
#      excepted) and our own headers, names a system type (pid_t, uid_t,
#      termios, pthread_*, HANDLE, SOCKET, ...) or declares an `int` that
#      holds a descriptor (`int fd_`, `int poll_fd()`);
#  (b) a product file outside platform/ (lyralink/, pulsecap/, setup/,
#      tools/, include/), or an OS-neutral file platform/*.cpp, includes a
#      system header (<unistd.h>, <sys/...>, <termios.h>, <windows.h>, ...)
#      or reads errno or an errno constant (EACCES, ECONNREFUSED, ...);
#  (c) a Windows header (<windows.h>, <winsock2.h>, ...) is included anywhere
#      in platform/ but the Windows backend, platform/win32/.
# The backends (platform/posix/, platform/win32/) are where all of that
# belongs. tests/ and bench/ are exempt: they are the Linux test
# harness and drive the system directly on purpose. python/ is a separate
# package with its own rules.
#
# Comments and string literals are not read for (a)'s type names and (b)'s
# errno names, so a comment may still say why a backend does what it does.
set -eu
root="${1:-$(cd "$(dirname "$0")/.." && pwd)}"
cd "$root"

# The C++ standard library (C++20) and the C standard headers in their C++
# and C spellings, less the error and signal state of the system.
standard_headers='
algorithm any array atomic barrier bit bitset charconv chrono codecvt compare complex concepts
condition_variable coroutine deque exception execution expected filesystem format forward_list
fstream functional future initializer_list iomanip ios iosfwd iostream istream iterator latch
limits list locale map memory memory_resource mutex new numbers numeric optional ostream queue
random ranges ratio regex scoped_allocator semaphore set shared_mutex source_location span
sstream stack stdexcept stop_token streambuf string string_view syncstream system_error thread
tuple type_traits typeindex typeinfo unordered_map unordered_set utility valarray variant
vector version
cassert cctype cfenv cfloat cinttypes climits clocale cmath csetjmp cstdarg cstddef cstdint
cstdio cstdlib cstring ctime cuchar cwchar cwctype
assert.h ctype.h fenv.h float.h inttypes.h limits.h locale.h math.h setjmp.h stdarg.h
stdbool.h stddef.h stdint.h stdio.h stdlib.h string.h time.h uchar.h wchar.h wctype.h
'

# Headers of an operating system (POSIX, Linux, Windows), and the errno
# headers: never included by a product file outside platform/.
system_header_pattern='^(unistd\.h|sys/.*|termios\.h|fcntl\.h|poll\.h|pthread\.h|semaphore\.h|netinet/.*|arpa/.*|net/.*|netdb\.h|dlfcn\.h|signal\.h|pwd\.h|grp\.h|dirent\.h|ifaddrs\.h|linux/.*|asm/.*|spawn\.h|sched\.h|glob\.h|mntent\.h|elf\.h|link\.h|syslog\.h|libgen\.h|fnmatch\.h|ftw\.h|errno\.h|cerrno|windows\.h|winsock2?\.h|ws2tcpip\.h|ws2def\.h|iphlpapi\.h|winbase\.h|windef\.h|winnt\.h|winerror\.h|io\.h|process\.h|direct\.h|shlobj\.h|tlhelp32\.h)$'

# The headers of the Windows API (letter case as the file system of
# Windows ignores it): only the Windows backend includes them.
windows_header_pattern='^(windows|winsock|winsock2|ws2tcpip|ws2def|ws2ipdef|mswsock|iphlpapi|iptypes|ipifcons|winbase|windef|winnt|winerror|winver|winreg|winioctl|winuser|wincon|synchapi|handleapi|fileapi|processthreadsapi|libloaderapi|sysinfoapi|shlobj|shellapi|tlhelp32|io|direct|process|winternl|ntstatus|commctrl)\.h$'

# System types no platform header may name.
os_type_pattern='\b(pid_t|uid_t|gid_t|mode_t|off_t|ssize_t|socklen_t|sockaddr[a-z0-9_]*|termios|pthread_[a-z_]+|sem_t|fd_set|pollfd|sigset_t|HANDLE|SOCKET|DWORD|HMODULE|HWND|LPVOID|BOOL|OVERLAPPED)\b'

# A descriptor kept or passed as an int.
int_descriptor_pattern='\bint[[:space:]]+[A-Za-z_]*fd[A-Za-z0-9_]*\b|<int>[[:space:]]*&?[[:space:]]*[A-Za-z_]*fds\b'

# errno, its constants (POSIX's list) and its wording, and the Windows error
# state.
errno_pattern='\b(errno|E2BIG|EACCES|EADDRINUSE|EADDRNOTAVAIL|EAFNOSUPPORT|EAGAIN|EALREADY|EBADF|EBADMSG|EBUSY|ECANCELED|ECHILD|ECONNABORTED|ECONNREFUSED|ECONNRESET|EDEADLK|EDESTADDRREQ|EDOM|EDQUOT|EEXIST|EFAULT|EFBIG|EHOSTUNREACH|EIDRM|EILSEQ|EINPROGRESS|EINTR|EINVAL|EIO|EISCONN|EISDIR|ELOOP|EMFILE|EMLINK|EMSGSIZE|ENAMETOOLONG|ENETDOWN|ENETRESET|ENETUNREACH|ENFILE|ENOBUFS|ENODEV|ENOENT|ENOEXEC|ENOLCK|ENOMEM|ENOMSG|ENOPROTOOPT|ENOSPC|ENOSYS|ENOTCONN|ENOTDIR|ENOTEMPTY|ENOTRECOVERABLE|ENOTSOCK|ENOTSUP|ENOTTY|ENXIO|EOPNOTSUPP|EOVERFLOW|EOWNERDEAD|EPERM|EPIPE|EPROTO|EPROTONOSUPPORT|EPROTOTYPE|ERANGE|EROFS|ESPIPE|ESRCH|ESTALE|ETIMEDOUT|ETXTBSY|EWOULDBLOCK|EXDEV|strerror|WSAE[A-Z]+|GetLastError|WSAGetLastError)\b'

findings=$(mktemp)
trap 'rm -f "$findings"' EXIT

# Prints "file:line:text" for each line of the given files with comments
# and the contents of string and character literals blanked out.
code_only() {
  awk '
    FNR == 1 { block = 0 }
    {
      out = ""; n = length($0); i = 1; quote = ""
      while (i <= n) {
        c = substr($0, i, 1); two = substr($0, i, 2)
        if (block) {
          if (two == "*/") { block = 0; i += 2; out = out "  " } else { out = out " "; i++ }
        } else if (quote != "") {
          if (c == "\\") { out = out "  "; i += 2 }
          else if (c == quote) { out = out c; quote = ""; i++ }
          else { out = out " "; i++ }
        } else if (two == "//") {
          break
        } else if (two == "/*") {
          block = 1; out = out "  "; i += 2
        } else if (c == "\"" || c == "\047") {
          quote = c; out = out c; i++
        } else {
          out = out c; i++
        }
      }
      print FILENAME ":" FNR ":" out
    }' "$@"
}

# The #include <...> lines of the given files: "file:line:header".
angle_includes() {
  grep -HnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*<[^>]+>' "$@" |
    sed -E 's/^([^:]*:[0-9]+:)[[:space:]]*#[[:space:]]*include[[:space:]]*<([^>]+)>.*/\1\2/' || true
}

# ---- (a) the platform headers ----
platform_headers=$(find platform -maxdepth 1 -name '*.h' | sort)
if [ -n "$platform_headers" ]; then
  # shellcheck disable=SC2086
  angle_includes $platform_headers | while IFS= read -r entry; do
    header=${entry##*:}
    case " $(echo $standard_headers) " in
      *" $header "*) ;;
      *) echo "$entry: platform header includes <$header>, not a standard C++ header" ;;
    esac
  done >>"$findings"
  # shellcheck disable=SC2086
  code_only $platform_headers | grep -E "$os_type_pattern" |
    sed 's/$/   <- names a system type/' >>"$findings" || true
  # shellcheck disable=SC2086
  code_only $platform_headers | grep -E "$int_descriptor_pattern" |
    sed 's/$/   <- a descriptor as an int/' >>"$findings" || true
fi

# ---- (b) the product outside platform/, and platform's OS-neutral sources ----
product_files=$(
  for dir in lyralink pulsecap setup tools include; do
    [ -d "$dir" ] && find "$dir" -type f \( -name '*.h' -o -name '*.hpp' -o -name '*.c' -o -name '*.cpp' \)
  done
  find platform -maxdepth 1 -type f \( -name '*.h' -o -name '*.cpp' \)
)
product_files=$(printf '%s\n' "$product_files" | sort)
if [ -n "$product_files" ]; then
  # shellcheck disable=SC2086
  angle_includes $product_files | while IFS= read -r entry; do
    header=${entry##*:}
    if echo "$header" | grep -qE "$system_header_pattern"; then
      echo "$entry: includes the system header <$header> outside a platform backend"
    fi
  done >>"$findings"
  # shellcheck disable=SC2086
  code_only $product_files | grep -E "$errno_pattern" |
    sed 's/$/   <- reads errno or an errno constant outside a platform backend/' >>"$findings" || true
fi

# ---- (c) Windows headers outside the Windows backend ----
platform_sources=$(find platform -type f \( -name '*.h' -o -name '*.cpp' -o -name '*.c' \) ! -path 'platform/win32/*' | sort)
if [ -n "$platform_sources" ]; then
  # shellcheck disable=SC2086
  angle_includes $platform_sources | while IFS= read -r entry; do
    header=${entry##*:}
    if echo "$header" | grep -qiE "$windows_header_pattern"; then
      echo "$entry: includes the Windows header <$header> outside platform/win32/"
    fi
  done >>"$findings"
fi

if [ -s "$findings" ]; then
  cat "$findings" >&2
  echo "check-platform-headers: $(wc -l <"$findings") finding(s); system calls, system headers and errno belong in platform/posix/ or platform/win32/" >&2
  exit 1
fi
echo "check-platform-headers: platform headers are OS-neutral; no system header or errno outside the backends"
