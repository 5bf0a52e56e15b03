#pragma once

#include <atomic>
#include <string>

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
  // With `cancel_at` set, the cancel is asked when a step of the work of
  // that text is shown (a walk over a layer's records shows each record);
  // the steps of it shown after that are counted.
  void Step(const std::string& text, double) override {
    if (cancel_at.empty() || text != cancel_at) return;
    if (cancelled) ++steps_after;
    cancelled = true;
  }
  std::atomic<bool> cancelled = false;
  std::string cancel_at;
  long steps_after = 0;

 private:
  host::Progress* previous_;
};

}  // namespace landstat::testing
