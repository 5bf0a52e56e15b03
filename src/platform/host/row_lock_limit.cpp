#include "platform/host/row_lock_limit.h"

#include <limits>

#include "platform/host/notifier.h"

namespace landstat::host {
namespace {

// No limit, no restart: nothing on this platform needs either.
class NoRowLockLimit : public RowLockLimit {
 public:
  bool Read(long& limit) override {
    limit = std::numeric_limits<long>::max();
    return true;
  }
  bool Write(long) override { return true; }
  bool AskRestart() override { return false; }
  bool RestartMachine() override { return false; }
  void Tell(const std::string& text, const std::string&) override { AfxMessageBox(text); }
};

RowLockLimit*& Current() {
  static RowLockLimit* current = nullptr;
  return current;
}

}  // namespace

RowLockLimit* SetRowLockLimit(RowLockLimit* limit) {
  RowLockLimit* previous = Current();
  Current() = limit;
  return previous;
}

RowLockLimit& CurrentRowLockLimit() {
  static NoRowLockLimit fallback;
  return Current() ? *Current() : fallback;
}

}  // namespace landstat::host
