#include "platform/host/notifier.h"

#include <iostream>

namespace landstat::host {
namespace {

Notifier*& Current() {
  static Notifier* current = nullptr;
  return current;
}

Notifier*& ThreadCurrent() {
  thread_local Notifier* current = nullptr;
  return current;
}

}  // namespace

void StderrNotifier::Show(const std::string& text) {
  std::cerr << text << "\n";
}

bool StderrNotifier::Ask(const std::string& question) {
  std::cerr << question << " -> " << (answer_yes_ ? "yes" : "no") << "\n";
  return answer_yes_;
}

Notifier* SetNotifier(Notifier* notifier) {
  Notifier* previous = Current();
  Current() = notifier;
  return previous;
}

Notifier* SetThreadNotifier(Notifier* notifier) {
  Notifier* previous = ThreadCurrent();
  ThreadCurrent() = notifier;
  return previous;
}

Notifier& CurrentNotifier() {
  static StderrNotifier fallback;
  if (ThreadCurrent() != nullptr) return *ThreadCurrent();
  return Current() ? *Current() : fallback;
}

int AfxMessageBox(const std::string& text, unsigned type) {
  const unsigned buttons = type & 0xF;
  if (buttons == MB_YESNO) return CurrentNotifier().Ask(text) ? IDYES : IDNO;
  if (buttons == MB_OKCANCEL) return CurrentNotifier().Ask(text) ? IDOK : IDCANCEL;
  CurrentNotifier().Show(text);
  return IDOK;
}

}  // namespace landstat::host
