#include "ui/host_feedback.h"

#include <QCoreApplication>
#include <QMessageBox>

namespace landstat::qt {

DialogProgress::DialogProgress(QWidget* parent) {
  dialog_ = std::make_unique<QProgressDialog>(parent);
  dialog_->setWindowTitle(QString::fromUtf8("进度"));
  dialog_->setCancelButton(nullptr);  // the engine's work cannot be stopped midway
  dialog_->setMinimumDuration(0);
  dialog_->setAutoClose(false);
  dialog_->setAutoReset(false);
  dialog_->hide();
}

DialogProgress::~DialogProgress() = default;

void DialogProgress::Begin(const std::string& text) {
  dialog_->setRange(0, 0);  // busy until steps are counted
  dialog_->setLabelText(QString::fromStdString(text));
  dialog_->show();
  Refresh();
}

void DialogProgress::SetText(const std::string& text) {
  dialog_->setLabelText(QString::fromStdString(text));
  Refresh();
}

void DialogProgress::Step(const std::string& text, long done, long total) {
  if (!pace_.Due(done + 1 >= total)) return;
  dialog_->setLabelText(QString::fromStdString(text));
  if (total > 0) {
    dialog_->setRange(0, static_cast<int>(std::min<long>(total, 1L << 30)));
    dialog_->setValue(static_cast<int>(std::min(done + 1, total)));
  }
  Refresh();
}

void DialogProgress::End() {
  dialog_->hide();
}

void DialogProgress::Refresh() {
  QCoreApplication::processEvents();
}

void MessageBoxNotifier::Show(const std::string& text) {
  QMessageBox::information(parent_, QString::fromUtf8("提示"), QString::fromStdString(text));
}

bool MessageBoxNotifier::Ask(const std::string& question) {
  return QMessageBox::question(parent_, QString::fromUtf8("提示"),
                               QString::fromStdString(question)) == QMessageBox::Yes;
}

}  // namespace landstat::qt
