#pragma once

#include <QDialog>
#include <QString>

namespace landstat::qt {

// The base of the engine's modal dialogs: it carries the dialog's resource
// number, runs modally and reports its end as IDOK or IDCANCEL, and shows
// messages through the engine's notifier, so tests see them without a screen.
// The host (or the test) makes the Qt application object before any dialog.
class ModalDialog : public QDialog {
 public:
  explicit ModalDialog(int resource_id, QWidget* parent = nullptr);

  int ResourceId() const { return resource_id_; }
  // Runs the dialog modally; IDOK (1) or IDCANCEL (2).
  int DoModal();

 protected:
  void ShowMessage(const QString& text) const;

 private:
  int resource_id_;
};

}  // namespace landstat::qt
