// Progress and messages of the engine shown in Qt: a progress dialog and
// message boxes, for the desktop host.

#pragma once

#include <QProgressDialog>
#include <memory>

#include "platform/host/notifier.h"
#include "platform/host/progress.h"

namespace landstat::qt {

// The engine's progress shown in a Qt progress dialog: the text of the
// work, a bar for counted steps, and events processed so the window keeps
// drawing while the engine works in the same thread.
class DialogProgress : public host::Progress {
 public:
  explicit DialogProgress(QWidget* parent = nullptr);
  ~DialogProgress() override;

  void Begin(const std::string& text) override;
  void SetText(const std::string& text) override;
  void Step(const std::string& text, long done, long total) override;
  void End() override;

  QProgressDialog* Dialog() const { return dialog_.get(); }

 private:
  void Refresh();
  std::unique_ptr<QProgressDialog> dialog_;
  host::RedrawPace pace_;
};

// The engine's messages and questions as message boxes.
class MessageBoxNotifier : public host::Notifier {
 public:
  explicit MessageBoxNotifier(QWidget* parent = nullptr) : parent_(parent) {}
  void Show(const std::string& text) override;
  bool Ask(const std::string& question) override;

 private:
  QWidget* parent_;
};

}  // namespace landstat::qt
