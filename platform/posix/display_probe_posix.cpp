// SPDX-License-Identifier: LGPL-2.1-or-later
#include <dlfcn.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <cstring>
#include <memory>

#include "platform/display_probe.h"

namespace lyralink::platform {

bool library_loads(const std::string& path) {
  if (path.empty()) return false;
  // RTLD_NODELETE: a toolkit plugin that loads now is loaded again by the
  // toolkit moments later; unmapping it in between gains nothing.
  void* handle = dlopen(path.c_str(), RTLD_LAZY | RTLD_LOCAL | RTLD_NODELETE);
  if (handle == nullptr) return false;
  dlclose(handle);
  return true;
}

std::unique_ptr<XDisplayConnection> XDisplayConnection::open(const std::string& display) {
  if (display.empty()) return nullptr;
  xcb_connection_t* connection = xcb_connect(display.c_str(), nullptr);
  if (connection == nullptr) return nullptr;
  if (xcb_connection_has_error(connection) != 0) {
    // xcb_disconnect also frees a connection that is in an error state.
    xcb_disconnect(connection);
    return nullptr;
  }
  return std::unique_ptr<XDisplayConnection>(new XDisplayConnection(connection));
}

XDisplayConnection::~XDisplayConnection() { xcb_disconnect(static_cast<xcb_connection_t*>(connection_)); }

bool unix_socket_accepts(const std::string& path) {
  sockaddr_un address{};
  if (path.empty() || path.size() >= sizeof address.sun_path) return false;
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.data(), path.size());
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  bool ok = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return ok;
}

namespace {

void* run_body(void* arg) {
  std::unique_ptr<std::function<void()>> body(static_cast<std::function<void()>*>(arg));
  (*body)();
  return nullptr;
}

}  // namespace

bool start_detached_thread(std::function<void()> body) {
  auto* heap_body = new std::function<void()>(std::move(body));
  // The new thread inherits the signal mask in force while it is created.
  // Faults stay unblocked: they belong to the thread that caused them.
  sigset_t all;
  sigset_t previous;
  sigfillset(&all);
  for (int fault : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGABRT}) sigdelset(&all, fault);
  pthread_sigmask(SIG_SETMASK, &all, &previous);
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
  pthread_t thread;
  int rc = pthread_create(&thread, &attributes, run_body, heap_body);
  pthread_attr_destroy(&attributes);
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  if (rc != 0) {
    delete heap_body;
    return false;
  }
  return true;
}

}  // namespace lyralink::platform
