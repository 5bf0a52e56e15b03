#include "platform/host/output_folder.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace landstat::host {

namespace fs = std::filesystem;

std::string OutputFolderProblem(const std::string& folder) {
  std::error_code error;
  fs::create_directories(folder, error);
  if (error) return "the output folder " + folder + " cannot be made: " + error.message();
  if (!fs::is_directory(folder, error)) return "the output folder " + folder + " is no folder";
  std::string probe = (fs::path(folder) / ".landstat-probe-XXXXXX").string();
  const int fd = ::mkstemp(probe.data());
  if (fd < 0) {
    return "the output folder " + folder + " cannot be written: " + std::strerror(errno);
  }
  ::close(fd);
  fs::remove(probe, error);
  return "";
}

OutputFolderHold::~OutputFolderHold() {
  if (fd_ >= 0) ::close(fd_);  // closing releases the hold
}

bool OutputFolderHold::Take(const std::string& folder, const std::string& job, std::string& error) {
  // The folder itself is locked: nothing is left in it to hold the lock.
  fd_ = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd_ < 0) {
    error = "the output folder " + folder + " cannot be opened: " + std::strerror(errno);
    return false;
  }
  if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
    error = errno == EWOULDBLOCK
                ? "another " + job + " is writing into the output folder " + folder +
                      "; start this one when it has ended"
                : "the output folder " + folder + " cannot be locked: " + std::strerror(errno);
    ::close(fd_);
    fd_ = -1;
    return false;
  }
  return true;
}

}  // namespace landstat::host
