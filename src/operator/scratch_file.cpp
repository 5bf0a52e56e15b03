// Scratch files beside the file a job replaces.

#include "operator/scratch_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/db/sqlite_backend.h"
#include "platform/host/new_entries.h"

namespace landstat {

ScratchBeside::ScratchBeside(std::string target, const std::string& tag)
    : target_(std::move(target)) {
  std::string path = db::ScratchPath(target_, tag + "-XXXXXX");
  // Made with the usual permissions; the file it replaces keeps its own.
  const int fd = host::MakeUniqueFile(path);
  if (fd < 0) {
    error_ = "cannot write in the folder of " + target_ + ": " + std::strerror(errno);
    return;
  }
  struct stat existing {};
  if (::stat(target_.c_str(), &existing) == 0) (void)::fchmod(fd, existing.st_mode & 07777);
  ::close(fd);
  path_ = path;
}

ScratchBeside::~ScratchBeside() {
  if (!path_.empty()) ::unlink(path_.c_str());
}

void ScratchBeside::Truncate() {
  if (!path_.empty()) (void)::truncate(path_.c_str(), 0);
}

bool ScratchBeside::Publish(std::string& error) {
  if (!db::WriteBackLog(target_, error)) {
    error = "cannot put the new file in the place of " + target_ + ": " + error;
    return false;
  }
  const int fd = ::open(path_.c_str(), O_RDONLY);
  const bool synced = fd >= 0 && ::fsync(fd) == 0;
  if (fd >= 0) ::close(fd);
  if (!synced || std::rename(path_.c_str(), target_.c_str()) != 0) {
    error = "cannot put the new file in the place of " + target_ + ": " + std::strerror(errno);
    return false;
  }
  path_.clear();
  return true;
}

}  // namespace landstat
