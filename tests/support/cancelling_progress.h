#pragma once

#include <atomic>

#include "platform/host/progress.h"

namespace landstat::testing {

// The operator's cancel, as the desktop's progress dialog gives it: set as
// the progress for its lifetime, it asks the job under way to stop once
// `cancelled` is set.
class CancellingProgress : public host::SilentProgress {
 public:
  CancellingProgress() : previous_(host::SetProgress(this)) {}
  ~CancellingProgress() override { host::SetProgress(previous_); }
  CancellingProgress(const CancellingProgress&) = delete;
  CancellingProgress& operator=(const CancellingProgress&) = delete;

  bool CancelRequested() const override { return cancelled; }
  std::atomic<bool> cancelled = false;

 private:
  host::Progress* previous_;
};

}  // namespace landstat::testing
