// SPDX-License-Identifier: LGPL-2.1-or-later
// Waiting on several objects on Win32.
//
// A Waitable's token is a HANDLE or a SOCKET. Handles that the system
// signals while they are ready (manual-reset events, processes) are waited
// on together in WaitForMultipleObjects; standard input becomes such an
// event (see standard_input() below). Objects the system cannot wait on
// that way are asked directly before and between the waits: another pipe
// (PeekNamedPipe; a pipe handle is signalled whether or not data waits) and
// a socket (WSAPoll; only a wait over sockets alone sleeps in WSAPoll
// itself, since a socket's own wait object belongs to the socket's owner).
// While such an object is in a mixed set the wait sleeps in slices of at
// most 10 ms: bounded waits, never a spin.
#include <winsock2.h>
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <csignal>
#include <deque>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "platform/event_wait.h"

namespace lyralink::platform {

namespace {

constexpr DWORD kAskedObjectSliceMs = 10;

enum class ObjectKind { handle, pipe, socket, always_ready };

HANDLE handle_of(const Waitable& w) { return reinterpret_cast<HANDLE>(w.token()); }

bool is_socket(intptr_t token) {
  int type = 0;
  int size = sizeof type;
  // Fails with WSAENOTSOCK for a handle, and with WSANOTINITIALISED when the
  // process has no socket at all.
  return getsockopt(static_cast<SOCKET>(token), SOL_SOCKET, SO_TYPE, reinterpret_cast<char*>(&type), &size) == 0;
}

ObjectKind kind_of(const Waitable& w) {
  if (is_socket(w.token())) return ObjectKind::socket;
  switch (GetFileType(handle_of(w))) {
    case FILE_TYPE_PIPE: return ObjectKind::pipe;
    // Files read at once, as poll() reports them on POSIX.
    case FILE_TYPE_DISK: return ObjectKind::always_ready;
    default: return ObjectKind::handle;  // events, console input, processes, ...
  }
}

// A pipe is readable when bytes wait or the writer is gone (end of input).
bool pipe_readable(HANDLE pipe) {
  DWORD available = 0;
  if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr)) return true;
  return available > 0;
}

bool socket_readable(intptr_t token) {
  WSAPOLLFD p{};
  p.fd = static_cast<SOCKET>(token);
  p.events = POLLRDNORM;
  return WSAPoll(&p, 1, 0) > 0 && (p.revents & (POLLRDNORM | POLLHUP | POLLERR)) != 0;
}

// Milliseconds until the deadline, rounded up so that a wait never ends a
// fraction of a millisecond early; INFINITE without a deadline.
DWORD wait_ms(std::optional<TimePoint> deadline) {
  if (!deadline) return INFINITE;
  const auto left = std::chrono::duration_cast<std::chrono::microseconds>(*deadline - Clock::now()).count();
  if (left <= 0) return 0;
  const long long ms = (left + 999) / 1000;
  return static_cast<DWORD>(std::min<long long>(ms, INFINITE - 1));
}

// Sockets only: one WSAPoll sleeps until one is readable.
std::vector<size_t> wait_sockets(const std::vector<Waitable>& objects, std::optional<TimePoint> deadline) {
  std::vector<WSAPOLLFD> p(objects.size());
  for (size_t i = 0; i < objects.size(); ++i) {
    p[i].fd = static_cast<SOCKET>(objects[i].token());
    p[i].events = POLLRDNORM;
  }
  std::vector<size_t> ready;
  for (;;) {
    const DWORD ms = wait_ms(deadline);
    const int timeout = ms == INFINITE ? -1 : static_cast<int>(std::min<DWORD>(ms, INT_MAX));
    const int rc = WSAPoll(p.data(), static_cast<ULONG>(p.size()), timeout);
    if (rc < 0) return ready;
    if (rc > 0) break;
    // The system's timer may end the wait a little early: only the
    // deadline ends an empty wait.
    if (ms == 0) return ready;
  }
  for (size_t i = 0; i < p.size(); ++i) {
    if ((p[i].revents & (POLLRDNORM | POLLHUP | POLLERR)) != 0) ready.push_back(i);
  }
  return ready;
}

}  // namespace

std::vector<size_t> wait_readable(const std::vector<Waitable>& objects, std::optional<TimePoint> deadline) {
  std::vector<ObjectKind> kinds;
  kinds.reserve(objects.size());
  for (const Waitable& w : objects) kinds.push_back(kind_of(w));
  if (!objects.empty() && std::all_of(kinds.begin(), kinds.end(), [](ObjectKind k) { return k == ObjectKind::socket; })) {
    return wait_sockets(objects, deadline);
  }
  std::vector<HANDLE> handles;
  bool asked = false;  // an object that must be asked rather than waited on
  for (size_t i = 0; i < objects.size(); ++i) {
    if (kinds[i] == ObjectKind::handle && handles.size() < MAXIMUM_WAIT_OBJECTS) {
      handles.push_back(handle_of(objects[i]));
    } else {
      asked = true;
    }
  }
  for (;;) {
    std::vector<size_t> ready;
    for (size_t i = 0; i < objects.size(); ++i) {
      bool now = false;
      switch (kinds[i]) {
        case ObjectKind::handle: now = WaitForSingleObject(handle_of(objects[i]), 0) == WAIT_OBJECT_0; break;
        case ObjectKind::pipe: now = pipe_readable(handle_of(objects[i])); break;
        case ObjectKind::socket: now = socket_readable(objects[i].token()); break;
        case ObjectKind::always_ready: now = true; break;
      }
      if (now) ready.push_back(i);
    }
    DWORD ms = wait_ms(deadline);
    if (!ready.empty() || ms == 0) return ready;
    if (asked) ms = std::min(ms, kAskedObjectSliceMs);
    DWORD rc = WAIT_TIMEOUT;
    if (handles.empty()) {
      Sleep(ms);
    } else {
      rc = WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), FALSE, ms);
    }
    if (rc == WAIT_FAILED) return ready;
    // Something is signalled, a slice has passed, or the system's timer
    // ended the wait a little early: ask every object again; only the
    // deadline ends an empty wait.
  }
}

// Standard input is read by a thread of its own into a buffer, and what
// the event loop waits on is an event that is set while the buffer holds
// bytes or the input has ended. Neither a console nor a pipe can be waited
// on for "readable" directly: a console is signalled by any input event
// (a key release, a mouse move), and a pipe handle is always signalled;
// under Wine, standard input from a Unix pipe cannot even be peeked at
// (PeekNamedPipe fails with ERROR_NOT_SUPPORTED). The thread blocks in
// ReadFile until input comes, and lives as long as the process.
namespace {

struct InputReader {
  std::mutex mutex;
  std::string buffer;
  bool ended = false;
  HANDLE ready = nullptr;  // manual reset: set while buffer or end waits
};

InputReader* start_input_reader() {
  auto* reader = new InputReader;
  reader->ready = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  std::thread([reader, input] {
    char chunk[4096];
    for (;;) {
      DWORD got = 0;
      const bool ok = input != nullptr && input != INVALID_HANDLE_VALUE &&
                      ReadFile(input, chunk, sizeof chunk, &got, nullptr) != FALSE;
      std::lock_guard<std::mutex> hold(reader->mutex);
      if (ok && got > 0) {
        reader->buffer.append(chunk, got);
      } else {
        reader->ended = true;  // end of input, or input that cannot be read
      }
      SetEvent(reader->ready);
      if (reader->ended) return;
    }
  }).detach();
  return reader;
}

InputReader& input_reader() {
  static InputReader* reader = start_input_reader();
  return *reader;
}

}  // namespace

Waitable standard_input() { return Waitable::from_token(reinterpret_cast<intptr_t>(input_reader().ready)); }

long read_some(Waitable from, void* buf, size_t n) {
  InputReader& reader = input_reader();
  if (from.token() == reinterpret_cast<intptr_t>(reader.ready)) {
    std::lock_guard<std::mutex> hold(reader.mutex);
    if (reader.buffer.empty()) return reader.ended ? 0 : -1;
    const size_t count = std::min(n, reader.buffer.size());
    std::memcpy(buf, reader.buffer.data(), count);
    reader.buffer.erase(0, count);
    if (reader.buffer.empty() && !reader.ended) ResetEvent(reader.ready);
    return static_cast<long>(count);
  }
  HANDLE h = handle_of(from);
  DWORD want = static_cast<DWORD>(std::min<size_t>(n, 1u << 30));
  if (GetFileType(h) == FILE_TYPE_PIPE) {
    DWORD available = 0;
    if (!PeekNamedPipe(h, nullptr, 0, nullptr, &available, nullptr)) {
      return GetLastError() == ERROR_BROKEN_PIPE ? 0 : -1;  // the writer is gone: end of input
    }
    if (available == 0) return -1;
    want = std::min(want, available);
  }
  DWORD got = 0;
  if (!ReadFile(h, buf, want, &got, nullptr)) return GetLastError() == ERROR_BROKEN_PIPE ? 0 : -1;
  return static_cast<long>(got);
}

// The console's control events (Ctrl+C, Ctrl+Break, closing the console,
// log-off, shut-down) arrive on a thread of their own; the handler queues
// them and sets a manual-reset event that stays set while any waits. Once
// taken over, the events stay taken for the life of the process, so the
// queue is never freed.
namespace {

struct ControlEvents {
  std::mutex mutex;
  std::deque<int> pending;
  HANDLE ready = nullptr;
};

ControlEvents* control_events = nullptr;

// The signal numbers that the C runtime gives these events.
int signal_number_of(DWORD type) {
  switch (type) {
    case CTRL_C_EVENT: return SIGINT;
    case CTRL_BREAK_EVENT: return SIGBREAK;
    default: return SIGTERM;  // close, log-off, shut-down
  }
}

BOOL WINAPI on_control_event(DWORD type) {
  ControlEvents* events = control_events;
  if (events == nullptr) return FALSE;
  std::lock_guard<std::mutex> hold(events->mutex);
  events->pending.push_back(signal_number_of(type));
  SetEvent(events->ready);
  return TRUE;
}

}  // namespace

struct TerminationRequests::Impl {
  ControlEvents* events;
};

TerminationRequests::TerminationRequests(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

std::unique_ptr<TerminationRequests> TerminationRequests::take_over() {
  if (control_events == nullptr) {
    auto* events = new ControlEvents;
    events->ready = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (events->ready == nullptr) {
      delete events;
      return nullptr;
    }
    control_events = events;
    if (!SetConsoleCtrlHandler(on_control_event, TRUE)) return nullptr;
  }
  return std::unique_ptr<TerminationRequests>(new TerminationRequests(std::make_unique<Impl>(Impl{control_events})));
}

TerminationRequests::~TerminationRequests() = default;

Waitable TerminationRequests::waitable() const {
  return Waitable::from_token(reinterpret_cast<intptr_t>(impl_->events->ready));
}

std::optional<int> TerminationRequests::take() {
  ControlEvents& events = *impl_->events;
  std::lock_guard<std::mutex> hold(events.mutex);
  if (events.pending.empty()) return std::nullopt;
  const int number = events.pending.front();
  events.pending.pop_front();
  if (events.pending.empty()) ResetEvent(events.ready);
  return number;
}

}  // namespace lyralink::platform
