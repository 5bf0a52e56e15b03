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

void HeldOutput::Step(const std::string& text, double) {
  if (!events_.empty() && events_.back().kind == Kind::kSetText && events_.back().text == text) {
    return;
  }
  events_.push_back({Kind::kSetText, text});
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
        LindoDlgProgress(event.text);
        break;
      case Kind::kSetText:
        LindoDlgProgressSetText(event.text);
        break;
      case Kind::kEnd:
        LindoDlgEndProgress();
        break;
    }
  }
}

}  // namespace landstat::host
