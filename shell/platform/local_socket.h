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

// Which file a directory entry is. The device and inode alone do not tell:
// a file system hands a freed inode number to the next file at once. The
// time of the last change of the inode (made, renamed, linked, its mode
// changed) sets a new file apart from the one that went.
struct fileIdentity {
  uint64_t device = 0;
  uint64_t inode = 0;
  int64_t changedNs = 0;
  bool operator==(const fileIdentity&) const = default;
};

// The file at `path`, not followed when it is a link; none when there is none.
std::optional<fileIdentity> entryAt(const std::string& path);

// Whether `path` fits the address of a local socket.
bool fitsSocketAddress(const std::string& path);

// A connection to a local socket, or why there is none.
struct connection {
  enum failure {
    none,
    missing,   // no file at the name
    refused,   // a file nobody listens on: its listener is gone
    timedOut,  // a listener took no connection within the timeout: its queue
               // is full, as when it no longer accepts
    other,     // this process could not ask (short of descriptors, no access)
  };
  int fd = -1;
  failure failed = none;
};

// Connects to the socket at `path`, giving up after `timeout` (a listener
// whose queue is full keeps a connect waiting).
connection connectLocal(const std::string& path, std::chrono::milliseconds timeout);

struct listening {
  int fd = -1;
  std::string name;   // the private name the socket was bound to
  fileIdentity file;  // the socket file as bound there
};

// Binds and listens on a fresh private name in the directory of `path`, with
// a socket file that only this user may open whatever the file-creation mask.
// Nobody knows the name, so nobody can find the socket there before it is
// published at `path`, listening.
support::Result<listening> listenAside(const std::string& path);

enum class published { done, taken };

// Gives the file at `from` the name `to` without ever replacing what is
// there: `taken` when something is. `from` keeps its name when it fails.
support::Result<published> publishAt(const std::string& from, const std::string& to);

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

// What came of moving bytes over a connection before a deadline.
enum class transfer {
  done,
  ended,         // the peer closed the connection or reset it
  pastDeadline,  // nothing (or not all) went before the deadline
  failed,        // any other error
};

// Reads what is there, waiting until `until` at most: `done` with the number
// of bytes read in `got` (at least one), or why none came. The end of the
// stream is `ended`.
transfer readBefore(int fd, char* buffer, size_t size, deadline until, size_t& got);

// Writes all of `data` before `until`. A peer that went away ends the
// transfer, never the process by a signal.
transfer writeBefore(int fd, std::string_view data, deadline until);

void closeDescriptor(int fd);

}  // namespace shell::platform
