#include "support/umask_calls.h"

#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>

namespace {
std::atomic<int> gUmaskCalls{0};
}  // namespace

// Takes the C library's place in the tests' program.
extern "C" mode_t umask(mode_t mask) noexcept {
  ++gUmaskCalls;
  return static_cast<mode_t>(::syscall(SYS_umask, mask));
}

namespace landstat::testing {

int UmaskCalls() {
  return gUmaskCalls;
}

}  // namespace landstat::testing
