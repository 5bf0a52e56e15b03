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

void ModalDialog::ShowMessage(const QString& text) const {
  host::AfxMessageBox(text.toStdString());
}

}  // namespace landstat::qt
