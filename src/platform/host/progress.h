#pragma once

#include <chrono>
#include <string>

namespace landstat::host {

// Progress of long work: the terminal bar of the command-line host, the Qt
// progress dialog of the desktop host, nothing in tests.
class Progress {
 public:
  virtual ~Progress() = default;
  virtual void Begin(const std::string& text) = 0;
  virtual void SetText(const std::string& text) = 0;
  // Step `done` of `total` of the work named `text`.
  virtual void Step(const std::string& text, long done, long total) = 0;
  virtual void End() = 0;
};

// At most ten redraws a second, for walks that report every record.
class RedrawPace {
 public:
  // True when a redraw is due now (always when forced).
  bool Due(bool force);

 private:
  std::chrono::steady_clock::time_point last_{};
};

class SilentProgress : public Progress {
 public:
  void Begin(const std::string&) override {}
  void SetText(const std::string&) override {}
  void Step(const std::string&, long, long) override {}
  void End() override {}
};

// A one-line bar on stderr, redrawn at most ten times a second.
class TerminalProgress : public Progress {
 public:
  void Begin(const std::string& text) override;
  void SetText(const std::string& text) override;
  void Step(const std::string& text, long done, long total) override;
  void End() override;

 private:
  void Draw(bool force);
  std::string text_;
  long done_ = 0;
  long total_ = 0;
  bool drawn_ = false;
  RedrawPace pace_;
};

// One plain line on stderr each time the stage's text changes: the
// progress where stderr is no terminal (a file, a pipe, a CI log), so no
// carriage return or escape code ends up there.
class StageLines : public Progress {
 public:
  void Begin(const std::string& text) override { Line(text); }
  void SetText(const std::string& text) override { Line(text); }
  void Step(const std::string& text, long, long) override { Line(text); }
  void End() override {}

 private:
  void Line(const std::string& text);
  std::string text_;
};

// Sets the progress the engine reports to (not owned; null: silent).
// Returns the one set before.
Progress* SetProgress(Progress* progress);
// Sets the progress of the calling thread alone, which it reports to before
// the one above (null: the one above). Returns the one set before.
Progress* SetThreadProgress(Progress* progress);
Progress& CurrentProgress();

// The progress calls the engine makes.
void LindoDlgProgress(const std::string& text);
void LindoDlgProgressSetText(const std::string& text);
void LindoDlgSetProgress(const std::string& text, long done, long total);
void LindoDlgEndProgress();

}  // namespace landstat::host
