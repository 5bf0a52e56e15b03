#include "platform/host/progress.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <utility>

namespace landstat::host {
namespace {

std::atomic<Progress*>& Current() {
  static std::atomic<Progress*> current = nullptr;
  return current;
}

Progress*& ThreadCurrent() {
  thread_local Progress* current = nullptr;
  return current;
}

// The walk's share of its own work: walks count 1 .. total - 1 (or 0 ..
// total - 1), so the last step is all done.
double Fraction(long done, long total) {
  if (total <= 0) return 0;
  return std::clamp(static_cast<double>(done + 1) / static_cast<double>(total), 0.0, 1.0);
}

}  // namespace

// The stages under way on the calling thread, innermost first, and where
// they put the whole job.
struct StageMeter {
  static JobStages*& Innermost() {
    thread_local JobStages* innermost = nullptr;
    return innermost;
  }

  // Where in the whole the stage under way stands with `fraction` of it
  // done. A stage done ends where the next begins, and the last where the
  // job ends, to the last bit: the bar never steps back.
  static double At(const JobStages& stages, double fraction) {
    if (stages.next_ >= stages.stages_.size() || stages.total_ <= 0) return stages.end_;
    double done = 0;
    for (std::size_t i = 0; i < stages.next_; ++i) done += stages.stages_[i].weight;
    const double weight = stages.stages_[stages.next_].weight;
    done = fraction >= 1 ? done + weight : done + weight * fraction;
    if (done >= stages.total_) return stages.end_;
    return stages.begin_ + (stages.end_ - stages.begin_) * done / stages.total_;
  }

  static double Share(const JobStages& stages) { return At(stages, stages.walked_); }

  // Where the part under way of the stage under way ends in the whole.
  static double PartEnd(const JobStages& stages) { return At(stages, stages.part_end_); }

  // The part under way is `fraction` done (the stage never less than
  // before).
  static void Walk(JobStages& stages, double fraction) {
    const double part = stages.part_end_ - stages.part_begin_;
    const double reached = fraction >= 1 ? stages.part_end_ : stages.part_begin_ + part * fraction;
    stages.walked_ = std::max(stages.walked_, reached);
    CurrentProgress().Step(stages.text_, Share(stages));
  }

  // `done` of `total` parts of the stage under way are done: the next one
  // is under way.
  static void Part(JobStages& stages, long done, long total) {
    if (total <= 0) return;
    stages.part_begin_ = std::clamp(static_cast<double>(done) / total, 0.0, 1.0);
    stages.part_end_ = std::clamp(static_cast<double>(done + 1) / total, 0.0, 1.0);
    Walk(stages, 0);
  }

  static void SetText(JobStages& stages, const std::string& text) { stages.text_ = text; }
};

JobStages::JobStages(const std::string& text, std::vector<Stage> stages)
    : outer_(StageMeter::Innermost()), stages_(std::move(stages)), text_(text) {
  for (Stage& stage : stages_) {
    stage.weight = std::max(0.0, stage.weight);
    total_ += stage.weight;
  }
  StageMeter::Innermost() = this;
  if (outer_) {
    // The rest of the outer stage under way.
    begin_ = StageMeter::Share(*outer_);
    end_ = StageMeter::PartEnd(*outer_);
    CurrentProgress().Step(text_, begin_);
  } else {
    CurrentProgress().Begin(text_);
    CurrentProgress().Step(text_, 0);
  }
}

JobStages::~JobStages() {
  StageMeter::Innermost() = outer_;
  if (outer_) {
    StageMeter::Walk(*outer_, 1);
  } else {
    CurrentProgress().End();
  }
}

void JobStages::Done(const std::string& name) {
  for (std::size_t i = next_; i < stages_.size(); ++i) {
    if (stages_[i].name != name) continue;
    next_ = i + 1;
    walked_ = part_begin_ = 0;
    part_end_ = 1;
    CurrentProgress().Step(text_, StageMeter::Share(*this));
    return;
  }
}

void TerminalProgress::Begin(const std::string& text) {
  text_ = text;
  share_ = 0;
  Draw(true);
}

void TerminalProgress::SetText(const std::string& text) {
  text_ = text;
  Draw(true);
}

void TerminalProgress::Step(const std::string& text, double share) {
  const bool new_text = text != text_;
  text_ = text;
  share_ = std::clamp(share, 0.0, 1.0);
  Draw(new_text || share_ >= 1);
}

void TerminalProgress::End() {
  if (drawn_) std::fputs("\n", stderr);
  drawn_ = false;
}

bool RedrawPace::Due(bool force) {
  const auto now = std::chrono::steady_clock::now();
  if (!force && now - last_ < std::chrono::milliseconds(100)) return false;
  last_ = now;
  return true;
}

void TerminalProgress::Draw(bool force) {
  if (!pace_.Due(force)) return;
  constexpr int kWidth = 30;
  const int filled = static_cast<int>(share_ * kWidth);
  std::fprintf(stderr, "\r[%-*s] %3d%% %s\x1b[K", kWidth, std::string(filled, '#').c_str(),
               static_cast<int>(share_ * 100), text_.c_str());
  std::fflush(stderr);
  drawn_ = true;
}

void StageLines::Line(const std::string& text) {
  if (text.empty() || text == text_) return;
  text_ = text;
  std::fprintf(stderr, "%s\n", text.c_str());
  std::fflush(stderr);
}

Progress* SetProgress(Progress* progress) {
  return Current().exchange(progress);
}

Progress* SetThreadProgress(Progress* progress) {
  Progress* previous = ThreadCurrent();
  ThreadCurrent() = progress;
  return previous;
}

Progress& CurrentProgress() {
  static SilentProgress silent;
  if (ThreadCurrent() != nullptr) return *ThreadCurrent();
  Progress* current = Current();
  return current ? *current : silent;
}

void LindoDlgProgress(const std::string& text) {
  // Within a job's stages the job began the progress: this is its text.
  if (StageMeter::Innermost() != nullptr) {
    LindoDlgProgressSetText(text);
    return;
  }
  CurrentProgress().Begin(text);
}

void LindoDlgProgressSetText(const std::string& text) {
  if (JobStages* stages = StageMeter::Innermost()) StageMeter::SetText(*stages, text);
  CurrentProgress().SetText(text);
}

void LindoDlgSetProgress(const std::string& text, long done, long total) {
  JobStages* stages = StageMeter::Innermost();
  if (!stages) {
    CurrentProgress().Step(text, Fraction(done, total));
    return;
  }
  StageMeter::SetText(*stages, text);
  StageMeter::Walk(*stages, Fraction(done, total));
}

void LindoDlgEndProgress() {
  // Within a job's stages the job ends the progress when it ends.
  if (StageMeter::Innermost() == nullptr) CurrentProgress().End();
}

void StepStage(long done, long total) {
  if (JobStages* stages = StageMeter::Innermost()) StageMeter::Part(*stages, done, total);
}

bool JobCancelled() {
  const Progress* current = Current();
  return current != nullptr && current->CancelRequested();
}

}  // namespace landstat::host
