#pragma once

#include <QDialog>
#include <QString>

namespace landstat::qt {

// Makes sure a Qt application object exists before a dialog is built: the
// desktop host has made one; for any other caller one is made here (a host
// without a display runs with QT_QPA_PLATFORM=offscreen).
void EnsureApplication();

// The base of the engine's modal dialogs: it carries the dialog's resource
// number, runs modally and reports its end as IDOK or IDCANCEL, and shows
// messages through the engine's notifier, so tests and the command-line host
// see them without a screen.
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
