#include "platform/host/held_output.h"

namespace landstat::host {

void HeldOutput::Show(const std::string& text) {
  events_.push_back({Kind::kShow, text});
}

bool HeldOutput::Ask(const std::string& question) {
  events_.push_back({Kind::kShow, question + " -> no"});
  return false;
}

void HeldOutput::Begin(const std::string& text) {
  events_.push_back({Kind::kBegin, text});
}

void HeldOutput::SetText(const std::string& text) {
  events_.push_back({Kind::kSetText, text});
}

void HeldOutput::Step(const std::string& text, long done, long total) {
  if (!events_.empty() && events_.back().kind == Kind::kStep && events_.back().text == text) {
    events_.back().done = done;
    events_.back().total = total;
    return;
  }
  events_.push_back({Kind::kStep, text, done, total});
}

void HeldOutput::End() {
  events_.push_back({Kind::kEnd, {}});
}

void HeldOutput::PassOn() const {
  for (const Event& event : events_) {
    switch (event.kind) {
      case Kind::kShow:
        CurrentNotifier().Show(event.text);
        break;
      case Kind::kBegin:
        CurrentProgress().Begin(event.text);
        break;
      case Kind::kSetText:
        CurrentProgress().SetText(event.text);
        break;
      case Kind::kStep:
        CurrentProgress().Step(event.text, event.done, event.total);
        break;
      case Kind::kEnd:
        CurrentProgress().End();
        break;
    }
  }
}

}  // namespace landstat::host
