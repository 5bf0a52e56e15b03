#pragma once

// What a worker thread (a report writer, a builder of a run's tables)
// tells the notifier and the progress, held until the thread that started
// it passes it on in the order of the work.

#include <string>
#include <vector>

#include "platform/host/notifier.h"
#include "platform/host/progress.h"

namespace landstat::host {

class HeldOutput final : public Notifier, public Progress {
 public:
  void Show(const std::string& text) override;
  // No one can answer on a writer's thread: the question is answered no,
  // and held with its answer as a message.
  bool Ask(const std::string& question) override;
  void Begin(const std::string& text) override;
  void SetText(const std::string& text) override;
  // Held as its text: the share is of the thread's work, not of the job.
  void Step(const std::string& text, double share) override;
  void End() override;

  // Passes what was held, in its order, to the calling thread's notifier
  // and, as the engine's progress calls, to its progress.
  void PassOn() const;

 private:
  enum class Kind { kShow, kBegin, kSetText, kEnd };
  struct Event {
    Kind kind;
    std::string text;
  };
  std::vector<Event> events_;
};

// Makes `output` the calling thread's notifier and progress for a scope.
class ScopedHeldOutput {
 public:
  explicit ScopedHeldOutput(HeldOutput& output)
      : notifier_(SetThreadNotifier(&output)), progress_(SetThreadProgress(&output)) {}
  ~ScopedHeldOutput() {
    SetThreadNotifier(notifier_);
    SetThreadProgress(progress_);
  }
  ScopedHeldOutput(const ScopedHeldOutput&) = delete;
  ScopedHeldOutput& operator=(const ScopedHeldOutput&) = delete;

 private:
  Notifier* notifier_;
  Progress* progress_;
};

}  // namespace landstat::host
