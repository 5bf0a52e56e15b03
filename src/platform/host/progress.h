#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace landstat::host {

// Progress of long work: the terminal bar of the command-line host, the Qt
// progress dialog of the desktop host, nothing in tests. The engine reaches
// it through the calls at the end of this header, which work out how far
// the whole job is (JobStages); a host draws what it is told.
class Progress {
 public:
  virtual ~Progress() = default;
  // A job begins: the progress shows from now on until End.
  virtual void Begin(const std::string& text) = 0;
  virtual void SetText(const std::string& text) = 0;
  // The work named `text`, with `share` of the whole job done (0 to 1).
  virtual void Step(const std::string& text, double share) = 0;
  virtual void End() = 0;
  // True once the operator asked to cancel the job under way; the engine
  // then ends it as failed at its next safe point. Asked from any thread of
  // the job.
  virtual bool CancelRequested() const { return false; }
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
  void Step(const std::string&, double) override {}
  void End() override {}
};

// A one-line bar on stderr, redrawn at most ten times a second.
class TerminalProgress : public Progress {
 public:
  void Begin(const std::string& text) override;
  void SetText(const std::string& text) override;
  void Step(const std::string& text, double share) override;
  void End() override;

 private:
  void Draw(bool force);
  std::string text_;
  double share_ = 0;
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
  void Step(const std::string& text, double) override { Line(text); }
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

// The stages of a job and their weights, each the share of the job's time
// it usually takes, so that the progress shows how far the whole job is:
// the stages done, and the steps of the one under way. The stages of a job
// run within a stage of another (the general run of the annual summary, a
// county's run in a batch) take the rest of that stage's part of the whole.
//
// The stages of the outermost job of a thread begin the progress, and end
// it when they go: the Begin and End the engine calls within them change
// only the text, so that the progress shows, and can be cancelled, until
// the whole job ends.
class JobStages {
 public:
  struct Stage {
    std::string name;
    double weight = 1;
  };
  JobStages(const std::string& text, std::vector<Stage> stages);
  ~JobStages();
  JobStages(const JobStages&) = delete;
  JobStages& operator=(const JobStages&) = delete;

  // The stage `name` is done, and those before it: the next one is under
  // way. A name that is not a stage of the job, or is done already,
  // changes nothing.
  void Done(const std::string& name);

 private:
  friend struct StageMeter;
  JobStages* outer_;
  std::vector<Stage> stages_;
  double total_ = 0;
  std::size_t next_ = 0;  // the stage under way
  double begin_ = 0;      // the part of the whole the job takes
  double end_ = 1;
  double walked_ = 0;      // of the stage under way, by its steps
  double part_begin_ = 0;  // the part of the stage under way (StepStage)
  double part_end_ = 1;
  std::string text_;  // the progress's text as it stands
};

// The progress calls the engine makes. A walk's steps (`done` of `total`,
// counted from 0 or 1) move the bar through the part under way of the stage
// under way (the whole stage unless StepStage parted it), as do the stages
// of a job run within it.
void LindoDlgProgress(const std::string& text);
void LindoDlgProgressSetText(const std::string& text);
void LindoDlgSetProgress(const std::string& text, long done, long total);
void LindoDlgEndProgress();
// `done` of `total` parts of the stage under way are done, and the next
// one is under way, under the text as it stands.
void StepStage(long done, long total);

// True once the operator asked to cancel the job under way (see
// Progress::CancelRequested), from any thread of the job.
bool JobCancelled();

}  // namespace landstat::host
