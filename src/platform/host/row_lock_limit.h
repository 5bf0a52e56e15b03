#pragma once

#include <string>

namespace landstat::host {

// The old file engine's limit on the rows one statement may lock: a
// machine-wide setting that a larger farmland table had to raise, and the
// restart that made the raised limit take effect. The embedded engine has
// no such limit, so the default reports a limit no table reaches, accepts a
// new one without storing it, declines the restart, never restarts the
// machine and shows its messages through the notifier. Tests set a fake.
class RowLockLimit {
 public:
  virtual ~RowLockLimit() = default;
  // The limit now in force; false when it cannot be read.
  virtual bool Read(long& limit) = 0;
  // Stores a new limit; false when it cannot be stored.
  virtual bool Write(long limit) = 0;
  // The restart prompt (dialog 17015): true when the operator chose to
  // restart now.
  virtual bool AskRestart() = 0;
  // Restarts the machine; false when it did not.
  virtual bool RestartMachine() = 0;
  // A message box with its caption.
  virtual void Tell(const std::string& text, const std::string& caption) = 0;
};

// Sets the limit the engine asks (not owned; null restores the default).
// Returns the one set before.
RowLockLimit* SetRowLockLimit(RowLockLimit* limit);
RowLockLimit& CurrentRowLockLimit();

}  // namespace landstat::host
