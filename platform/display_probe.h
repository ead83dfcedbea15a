#pragma once
// Checks that tell whether a window system can be reached, made before a
// toolkit is started on it (a toolkit that fails to start ends the
// process). Built only into the windows module: liblyralink.so never
// links the X libraries.
#include <functional>
#include <string>

namespace lyralink::platform {

// True when the shared library at `path` and everything it needs load;
// it then stays loaded. Does not block beyond the loading itself.
bool library_loads(const std::string& path);

// True when an X server accepts a connection (authorisation included) to
// `display`; the connection is closed again. Blocks for as long as
// connecting takes (a local server: about a millisecond).
bool x_display_answers(const std::string& display);

// True when a listener accepts a connection on the Unix stream socket at
// `path`; the connection is closed again at once.
bool unix_socket_accepts(const std::string& path);

// Runs `body` on a new, detached thread that receives no asynchronous
// signals (the host's handlers keep running on the host's own threads).
// False when the thread cannot be started.
bool start_detached_thread(std::function<void()> body);

}  // namespace lyralink::platform
