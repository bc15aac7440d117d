// Unix-domain stream sockets for the single-instance hand-off: the few calls
// whose flags differ between platforms (close-on-exec, no SIGPIPE on a write
// to a closed peer, the peer's credentials, file modes) live behind these
// functions.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "support/result.h"

namespace shell::platform {

using deadline = std::chrono::steady_clock::time_point;

// Which file a directory entry is: the same device and inode.
struct fileIdentity {
  uint64_t device = 0;
  uint64_t inode = 0;
  bool operator==(const fileIdentity&) const = default;
};

// The file at `path`, not followed when it is a link; none when there is none.
std::optional<fileIdentity> entryAt(const std::string& path);

// A connection to a local socket, or why there is none.
struct connection {
  int fd = -1;
  // Something listens at the name but took no connection within the timeout:
  // its queue is full, as when the listener no longer accepts.
  bool timedOut = false;
};

// Connects to the socket at `path`, giving up after `timeout` (a listener
// whose queue is full keeps a connect waiting).
connection connectLocal(const std::string& path, std::chrono::milliseconds timeout);

struct listening {
  int fd = -1;
  fileIdentity file;  // the socket file this process bound
};

// Binds and listens on `path`, with a socket file that only this user may
// open whatever the file-creation mask. Fails when the name is taken, also
// by a file that nobody listens on.
support::Result<listening> listenLocal(const std::string& path);

// Whether an entry at `path` (not followed when it is a link) belongs to a
// user other than this process's effective one.
bool ownedByAnotherUser(const std::string& path);

// Removes the entry at `path` while it is still `file`; an entry that took
// its place meanwhile is left alone.
void removeIfSame(const std::string& path, const fileIdentity& file);

// Whether the process at the other end of a connected socket runs as this
// process's effective user; false when that cannot be told.
bool peerIsThisUser(int fd);

// The outcome of waiting for the next connection.
struct accepted {
  int fd = -1;         // the connection, when one came
  int error = 0;       // errno of a failed accept
  bool woken = false;  // the wake descriptor became readable
};

// Waits for a connection on `listener` or for `wake` to become readable.
accepted acceptLocal(int listener, int wake);

// Waits up to `pause` for `wake` to become readable; true when it did.
bool waitForWake(int wake, std::chrono::milliseconds pause);

// A pipe whose read end (fds[0]) wakes acceptLocal and waitForWake once
// wake() wrote to its write end (fds[1]). Both are close-on-exec.
support::Status makeWakePipe(int fds[2]);
void wake(int writeEnd);

// Reads what is there, waiting until `until` at most. Returns the number of
// bytes read, 0 at the end of the stream, -1 on an error or at the deadline.
long readBefore(int fd, char* buffer, size_t size, deadline until);

// Writes all of `data` before `until`; false on an error or at the deadline.
// A peer that went away is an error here, never a signal.
bool writeBefore(int fd, std::string_view data, deadline until);

void closeDescriptor(int fd);

}  // namespace shell::platform
