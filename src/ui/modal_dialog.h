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
  // True while a job started from the dialog runs.
  bool InJob() const { return in_job_; }
  // Closing is refused while a job runs.
  void reject() override;

 protected:
  void ShowMessage(const QString& text) const;

  // A job runs on the interface thread and processes events while it
  // reports progress: for its length the dialog's controls are disabled, so
  // that a click neither starts a second job inside it nor closes the dialog
  // under it.
  class JobScope {
   public:
    explicit JobScope(ModalDialog& dialog);
    ~JobScope();
    JobScope(const JobScope&) = delete;
    JobScope& operator=(const JobScope&) = delete;

   private:
    ModalDialog& dialog_;
    bool was_enabled_;
  };

 private:
  int resource_id_;
  bool in_job_ = false;
};

}  // namespace landstat::qt
