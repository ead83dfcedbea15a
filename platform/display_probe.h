/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// Checks that tell whether a window system can be reached, made before a
// toolkit is started on it (a toolkit that fails to start ends the
// process). Built only into the windows module: liblyralink.so never
// links the X libraries.
#include <functional>
#include <memory>
#include <string>

namespace lyralink::platform {

// True when the shared library at `path` and everything it needs load;
// it then stays loaded. Does not block beyond the loading itself.
bool library_loads(const std::string& path);

// An open connection to an X server, closed when destroyed. Held until
// the toolkit has made its own connection: an X server whose last client
// leaves resets itself, and refuses connections while it does.
class XDisplayConnection {
 public:
  // Null when the server does not accept a connection (authorisation
  // included) to `display`. Blocks for as long as connecting takes (a local
  // server: about a millisecond).
  static std::unique_ptr<XDisplayConnection> open(const std::string& display);
  ~XDisplayConnection();
  XDisplayConnection(const XDisplayConnection&) = delete;
  XDisplayConnection& operator=(const XDisplayConnection&) = delete;

 private:
  explicit XDisplayConnection(void* connection) : connection_(connection) {}
  void* connection_;
};

// True when a listener accepts a connection on the Unix stream socket at
// `path`; the connection is closed again at once.
bool unix_socket_accepts(const std::string& path);

// Runs `body` on a new, detached thread that receives no asynchronous
// signals (the host's handlers keep running on the host's own threads).
// False when the thread cannot be started.
bool start_detached_thread(std::function<void()> body);

}  // namespace lyralink::platform
