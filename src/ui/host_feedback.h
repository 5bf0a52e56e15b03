// Progress and messages of the engine shown in Qt: a progress dialog and
// message boxes, for the desktop host.

#pragma once

#include <QProgressDialog>
#include <atomic>
#include <functional>
#include <memory>
#include <string>

#include "platform/host/notifier.h"
#include "platform/host/progress.h"

namespace landstat::qt {

// The engine's progress shown in a Qt progress dialog: the text of the
// work, a bar of the whole job's progress, and events processed so the
// window keeps drawing while the engine works in the same thread. The
// dialog shows only between Begin and End, and blocks every other window
// while it shows, so that no click starts a second job inside the running
// one. Its cancel button (and Esc, and its window's close button) asks the
// job to stop: the dialog stays, saying so, until the job has ended.
class DialogProgress : public host::Progress {
 public:
  explicit DialogProgress(QWidget* parent = nullptr);
  ~DialogProgress() override;

  void Begin(const std::string& text) override;
  void SetText(const std::string& text) override;
  void Step(const std::string& text, double share) override;
  void End() override;
  bool CancelRequested() const override { return cancelled_; }

  QProgressDialog* Dialog() const { return dialog_.get(); }

 private:
  void Cancel();
  void ShowText(const std::string& text);
  void Refresh();
  std::unique_ptr<QProgressDialog> dialog_;
  std::atomic<bool> cancelled_ = false;
  host::RedrawPace pace_;
};

// A message as the engine words it, parted from the statement a database
// error carries (" [select ...]"), which means nothing to the operator.
struct ShownMessage {
  std::string text;       // what the message box shows
  std::string statement;  // the statement, for the log; empty when none
};
ShownMessage SplitStatement(const std::string& message);

// The engine's messages and questions as message boxes, in Chinese
// (InChinese), each over the dialog in use (the topmost modal one; else the
// host's window), so that no box raises the main window over that dialog.
// A message that
// carries a statement is an error: the box shows the words, and the whole
// message, statement and all, is appended to the log file, when there is one.
class MessageBoxNotifier : public host::Notifier {
 public:
  using LogPath = std::function<std::string()>;
  explicit MessageBoxNotifier(QWidget* parent = nullptr, LogPath log_path = {})
      : parent_(parent), log_path_(std::move(log_path)) {}
  void Show(const std::string& text) override;
  bool Ask(const std::string& question) override;

 private:
  // Appends the text to the log; the log's path, or "" when not written.
  std::string Log(const std::string& text) const;
  // The window a box is shown over.
  QWidget* Owner() const;
  QWidget* parent_;
  LogPath log_path_;
};

}  // namespace landstat::qt
