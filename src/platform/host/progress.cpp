#include "platform/host/progress.h"

#include <algorithm>
#include <cstdio>

namespace landstat::host {
namespace {

Progress*& Current() {
  static Progress* current = nullptr;
  return current;
}

Progress*& ThreadCurrent() {
  thread_local Progress* current = nullptr;
  return current;
}

}  // namespace

void TerminalProgress::Begin(const std::string& text) {
  text_ = text;
  done_ = total_ = 0;
  Draw(true);
}

void TerminalProgress::SetText(const std::string& text) {
  text_ = text;
  Draw(true);
}

void TerminalProgress::Step(const std::string& text, long done, long total) {
  const bool new_text = text != text_;
  text_ = text;
  done_ = done;
  total_ = total;
  Draw(new_text || done + 1 >= total);
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
  // Walks count 1 .. total - 1 (or 0 .. total - 1): the last step is done.
  const double share =
      total_ > 0 ? std::min(1.0, static_cast<double>(done_ + 1) / static_cast<double>(total_))
                 : 0.0;
  const int filled = static_cast<int>(share * kWidth);
  std::fprintf(stderr, "\r[%-*s] %3d%% %s\x1b[K", kWidth, std::string(filled, '#').c_str(),
               static_cast<int>(share * 100), text_.c_str());
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
  Progress* previous = Current();
  Current() = progress;
  return previous;
}

Progress* SetThreadProgress(Progress* progress) {
  Progress* previous = ThreadCurrent();
  ThreadCurrent() = progress;
  return previous;
}

Progress& CurrentProgress() {
  static SilentProgress silent;
  if (ThreadCurrent() != nullptr) return *ThreadCurrent();
  return Current() ? *Current() : silent;
}

void LindoDlgProgress(const std::string& text) {
  CurrentProgress().Begin(text);
}
void LindoDlgProgressSetText(const std::string& text) {
  CurrentProgress().SetText(text);
}
void LindoDlgSetProgress(const std::string& text, long done, long total) {
  CurrentProgress().Step(text, done, total);
}
void LindoDlgEndProgress() {
  CurrentProgress().End();
}

}  // namespace landstat::host
