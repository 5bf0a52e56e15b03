#pragma once

#include <string>
#include <vector>

namespace landstat::host {

// Message-box styles and answers, as the engine's callers pass and test them.
constexpr unsigned MB_OK = 0x0;
constexpr unsigned MB_OKCANCEL = 0x1;
constexpr unsigned MB_YESNO = 0x4;
constexpr unsigned MB_ICONQUESTION = 0x20;
constexpr unsigned MB_ICONINFORMATION = 0x40;
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

// Where the engine's messages and yes/no questions go: the terminal in the
// command-line host, message boxes in the desktop host, a recorder in tests.
// The engine never waits on a screen it cannot see.
class Notifier {
 public:
  virtual ~Notifier() = default;
  virtual void Show(const std::string& text) = 0;
  // True for yes (or OK).
  virtual bool Ask(const std::string& question) = 0;
};

// Messages to stderr; questions answered by a fixed policy and reported.
class StderrNotifier : public Notifier {
 public:
  explicit StderrNotifier(bool answer_yes = false) : answer_yes_(answer_yes) {}
  void Show(const std::string& text) override;
  bool Ask(const std::string& question) override;

 private:
  bool answer_yes_;
};

// Keeps what it was told; answers questions with `answer`.
class RecordingNotifier : public Notifier {
 public:
  explicit RecordingNotifier(bool answer = false) : answer_(answer) {}
  void Show(const std::string& text) override { messages.push_back(text); }
  bool Ask(const std::string& question) override {
    questions.push_back(question);
    return answer_;
  }
  std::vector<std::string> messages;
  std::vector<std::string> questions;

 private:
  bool answer_;
};

// Sets the notifier the engine uses (not owned; null restores the default,
// a StderrNotifier that answers no). Returns the one set before.
Notifier* SetNotifier(Notifier* notifier);
// Sets the notifier of the calling thread alone, which it uses before the
// one above (null: the one above). Returns the one set before.
Notifier* SetThreadNotifier(Notifier* notifier);
Notifier& CurrentNotifier();

// The engine's message box: shows the text, or asks when the style asks a
// question; returns IDOK, IDYES, IDNO or IDCANCEL.
int AfxMessageBox(const std::string& text, unsigned type = MB_OK);

// Installs a notifier for the life of a scope.
class ScopedNotifier {
 public:
  explicit ScopedNotifier(Notifier& notifier) : previous_(SetNotifier(&notifier)) {}
  ~ScopedNotifier() { SetNotifier(previous_); }
  ScopedNotifier(const ScopedNotifier&) = delete;
  ScopedNotifier& operator=(const ScopedNotifier&) = delete;

 private:
  Notifier* previous_;
};

}  // namespace landstat::host
