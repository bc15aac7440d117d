#include "support/file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "support/path.h"

namespace support {
namespace {

Error errnoError(const char* op, const std::string& path, int err) {
  return makeError(std::string(op) + " " + path + ": " + std::strerror(err));
}

Status writeAll(int fd, const std::string& data, const std::string& path) {
  size_t done = 0;
  while (done < data.size()) {
    ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errnoError("write", path, errno);
    }
    done += static_cast<size_t>(n);
  }
  return {};
}

}  // namespace

Result<std::string> readFile(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errnoError("open", path, errno);
  std::string data;
  char buf[65536];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      int err = errno;
      ::close(fd);
      return errnoError("read", path, err);
    }
    if (n == 0) break;
    data.append(buf, static_cast<size_t>(n));
  }
  ::close(fd);
  return data;
}

bool pathExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

Status makeDirs(const std::string& path) {
  if (path.empty() || pathExists(path)) return {};
  std::string parent = dirName(path);
  if (parent != path && parent != "." && parent != "/") {
    if (Status s = makeDirs(parent); !s) return s;
  }
  if (::mkdir(path.c_str(), 0755) != 0 && errno != EEXIST) {
    return errnoError("mkdir", path, errno);
  }
  return {};
}

Status writeFileAtomic(const std::string& path, const std::string& data) {
  std::string dir = dirName(path);
  if (Status s = makeDirs(dir); !s) return s;
  std::string tmpl = joinPath({dir, "." + path.substr(path.rfind('/') + 1) + ".tmp-XXXXXX"});
  int fd = ::mkstemp(tmpl.data());
  if (fd < 0) return errnoError("open", tmpl, errno);
  Status status = writeAll(fd, data, tmpl);
  if (status && ::fchmod(fd, 0644) != 0) status = errnoError("chmod", tmpl, errno);
  if (status && ::fsync(fd) != 0) status = errnoError("sync", tmpl, errno);
  if (::close(fd) != 0 && status) status = errnoError("close", tmpl, errno);
  if (status && ::rename(tmpl.c_str(), path.c_str()) != 0)
    status = errnoError("rename", path, errno);
  if (!status) ::unlink(tmpl.c_str());
  return status;
}

}  // namespace support
