#include "platform/host/new_entries.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <functional>
#include <random>
#include <string_view>

namespace landstat::host {
namespace {

// Tries names until `make` makes one (true) or fails otherwise than by
// finding the name taken; a bounded number of tries.
bool MakeUnique(std::string& pattern, const std::function<bool(const std::string&)>& make) {
  constexpr std::string_view kTemplate = "XXXXXX";
  constexpr std::string_view kLetters =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  constexpr int kTries = 100;
  if (pattern.size() < kTemplate.size() ||
      pattern.compare(pattern.size() - kTemplate.size(), kTemplate.size(), kTemplate) != 0) {
    errno = EINVAL;
    return false;
  }
  std::random_device seed;
  std::mt19937 random(seed());
  std::uniform_int_distribution<std::size_t> pick(0, kLetters.size() - 1);
  std::string name = pattern;
  for (int tries = 0; tries < kTries; ++tries) {
    for (std::size_t i = name.size() - kTemplate.size(); i < name.size(); ++i) {
      name[i] = kLetters[pick(random)];
    }
    if (make(name)) {
      pattern = name;
      return true;
    }
    if (errno != EEXIST) return false;
  }
  errno = EEXIST;
  return false;
}

}  // namespace

int MakeUniqueFile(std::string& pattern) {
  int fd = -1;
  const bool made = MakeUnique(pattern, [&](const std::string& name) {
    fd = ::open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    return fd >= 0;
  });
  return made ? fd : -1;
}

bool MakeUniqueFolder(std::string& pattern) {
  return MakeUnique(pattern,
                    [](const std::string& name) { return ::mkdir(name.c_str(), 0777) == 0; });
}

}  // namespace landstat::host
