// The opening of a job's log.

#include "platform/host/log_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace landstat::host {

void LogFileCloser::operator()(std::FILE* file) const {
  if (file) std::fclose(file);
}

namespace {

// Why the file at `path` is no place for a log; empty when it is one or
// there is none yet.
std::string UnusableLog(const std::string& path) {
  struct stat found {};
  if (::lstat(path.c_str(), &found) != 0) return {};
  if (S_ISLNK(found.st_mode)) return "it is a symbolic link";
  if (!S_ISREG(found.st_mode)) return "it is no regular file";
  return {};
}

}  // namespace

LogFile OpenLogFile(const std::string& path, LogOpening how, std::string& error) {
  const auto refuse = [&](const std::string& reason) {
    error = "cannot open the log file " + path + ": " + reason;
    return LogFile();
  };
  if (path.empty()) return refuse("no path given");
  if (std::string reason = UnusableLog(path); !reason.empty()) return refuse(reason);
  // O_NOFOLLOW and the check of what was opened hold even when the file
  // changed since it was looked at; O_NONBLOCK keeps a pipe from blocking
  // the open.
  const int flags = O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC |
                    (how == LogOpening::kAppend ? O_APPEND : 0);
  const int fd = ::open(path.c_str(), flags, 0666);
  if (fd < 0) {
    return refuse(errno == ELOOP ? "it is a symbolic link" : std::strerror(errno));
  }
  struct stat opened {};
  if (::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode)) {
    ::close(fd);
    return refuse("it is no regular file");
  }
  if (::fcntl(fd, F_SETFL, flags & O_APPEND) != 0 ||
      (how == LogOpening::kEmpty && ::ftruncate(fd, 0) != 0)) {
    const int failure = errno;
    ::close(fd);
    return refuse(std::strerror(failure));
  }
  LogFile file(::fdopen(fd, how == LogOpening::kAppend ? "a" : "w"));
  if (!file) {
    const int failure = errno;
    ::close(fd);
    return refuse(std::strerror(failure));
  }
  error.clear();
  return file;
}

}  // namespace landstat::host
