// SPDX-License-Identifier: LGPL-2.1-or-later
// The one place where Win32 and Winsock error codes are mapped onto the
// project's error kinds and worded.
#include <winsock2.h>
#include <windows.h>

#include "platform/system_error.h"
#include "platform/win32/win32_error.h"

namespace lyralink::platform {

ErrorKind win32::error_kind_of(uint32_t code) {
  switch (code) {
    case ERROR_SUCCESS: return ErrorKind::none;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_MOD_NOT_FOUND:
    case ERROR_PROC_NOT_FOUND:
    case ERROR_NOT_FOUND:
    case WSAHOST_NOT_FOUND: return ErrorKind::not_found;
    case ERROR_ACCESS_DENIED:
    case ERROR_PRIVILEGE_NOT_HELD:
    case WSAEACCES: return ErrorKind::permission_denied;
    case ERROR_SHARING_VIOLATION:
    case ERROR_BUSY:
    case ERROR_PIPE_BUSY: return ErrorKind::busy;
    // A byte-range lock that another process holds, asked for without
    // waiting; a non-blocking socket call that would have to wait.
    case ERROR_LOCK_VIOLATION:
    case WSAEWOULDBLOCK: return ErrorKind::would_block;
    // For a datagram socket, 10054 is the answer of an earlier datagram
    // that the peer refused (the port unreachable message).
    case WSAECONNREFUSED:
    case WSAECONNRESET: return ErrorKind::connection_refused;
    case ERROR_ALREADY_EXISTS:
    case ERROR_FILE_EXISTS: return ErrorKind::already_exists;
    case ERROR_OPERATION_ABORTED:
    case WSAEINTR: return ErrorKind::interrupted;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
    case ERROR_FILE_TOO_LARGE: return ErrorKind::no_space;
    case ERROR_INVALID_PARAMETER:
    case ERROR_BAD_ARGUMENTS:
    case WSAEINVAL: return ErrorKind::invalid_argument;
    // What a device without the operation answers: modem-line calls on a
    // line without modem lines, a console call on a file.
    case ERROR_INVALID_FUNCTION:
    case ERROR_NOT_SUPPORTED:
    case ERROR_CALL_NOT_IMPLEMENTED:
    case WSAEOPNOTSUPP: return ErrorKind::not_supported;
    case ERROR_BROKEN_PIPE:
    case ERROR_NO_DATA:
    case ERROR_PIPE_NOT_CONNECTED: return ErrorKind::broken_pipe;
    case WAIT_TIMEOUT:
    case ERROR_SEM_TIMEOUT:
    case ERROR_TIMEOUT:
    case WSAETIMEDOUT: return ErrorKind::timed_out;
    default: return ErrorKind::other;
  }
}

SystemError win32::system_error_of(std::string operation, uint32_t code) {
  return SystemError{std::move(operation), error_kind_of(code), static_cast<int>(code)};
}

std::string SystemError::reason() const {
  if (error_number == 0) return {};
  const auto code = static_cast<DWORD>(error_number);
  char* text = nullptr;
  const DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                     FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_MAX_WIDTH_MASK,
                                 nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                                 reinterpret_cast<char*>(&text), 0, nullptr);
  std::string reason;
  if (n != 0 && text != nullptr) {
    reason.assign(text, n);
    // The system's texts end with a full stop and blanks; the message
    // puts the number after them.
    while (!reason.empty() && (reason.back() == ' ' || reason.back() == '.' || reason.back() == '\r' ||
                               reason.back() == '\n')) {
      reason.pop_back();
    }
  }
  if (text != nullptr) LocalFree(text);
  if (reason.empty()) reason = "system error";
  return reason + " (error " + std::to_string(code) + ")";
}

std::string SystemError::message() const {
  if (error_number == 0) return operation;
  return operation + ": " + reason();
}

SystemError last_system_error(std::string operation) {
  const DWORD code = GetLastError();
  return win32::system_error_of(std::move(operation), code);
}

}  // namespace lyralink::platform
