#include "platform/qt/modal_dialog.h"

#include <QApplication>
#include <cstdlib>

#include "platform/host/notifier.h"

namespace landstat::qt {

void EnsureApplication() {
  if (QApplication::instance()) return;
  // Without a display there is nothing to draw on: run off screen.
  if (!std::getenv("QT_QPA_PLATFORM") && !std::getenv("DISPLAY") &&
      !std::getenv("WAYLAND_DISPLAY")) {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
  }
  static int argc = 1;
  static char name[] = "landstat";
  static char* argv[] = {name, nullptr};
  static QApplication* application = new QApplication(argc, argv);
  (void)application;
}

ModalDialog::ModalDialog(int resource_id, QWidget* parent)
    : QDialog((EnsureApplication(), parent)), resource_id_(resource_id) {
  setModal(true);
}

int ModalDialog::DoModal() {
  return exec() == QDialog::Accepted ? host::IDOK : host::IDCANCEL;
}

void ModalDialog::ShowMessage(const QString& text) const {
  host::AfxMessageBox(text.toStdString());
}

}  // namespace landstat::qt
