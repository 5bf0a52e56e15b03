#include "ui/modal_dialog.h"

#include "platform/host/notifier.h"

namespace landstat::qt {

ModalDialog::ModalDialog(int resource_id, QWidget* parent)
    : QDialog(parent), resource_id_(resource_id) {
  setModal(true);
}

int ModalDialog::DoModal() {
  return exec() == QDialog::Accepted ? host::IDOK : host::IDCANCEL;
}

void ModalDialog::reject() {
  if (!in_job_) QDialog::reject();
}

void ModalDialog::ShowMessage(const QString& text) const {
  host::AfxMessageBox(text.toStdString());
}

ModalDialog::JobScope::JobScope(ModalDialog& dialog)
    : dialog_(dialog), was_enabled_(dialog.isEnabled()) {
  dialog_.in_job_ = true;
  dialog_.setEnabled(false);
}

ModalDialog::JobScope::~JobScope() {
  dialog_.setEnabled(was_enabled_);
  dialog_.in_job_ = false;
}

}  // namespace landstat::qt
