#include "ui/host_feedback.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDateTime>
#include <QMessageBox>
#include <QPushButton>
#include <algorithm>
#include <array>
#include <cctype>
#include <fstream>
#include <string_view>

#include "ui/desktop_words.h"

namespace landstat::qt {

namespace {

// The bar's steps over the whole job.
constexpr int kBarSteps = 1000;

// A progress dialog that stays until its job ends: its cancel button, Esc
// and its window's close button call `cancel`, which asks the job to stop.
class JobProgressDialog : public QProgressDialog {
 public:
  JobProgressDialog(QWidget* parent, std::function<void()> cancel)
      : QProgressDialog(parent), cancel_(std::move(cancel)) {
    // Qt's own answer to the cancel button hides the dialog while the job
    // goes on: here the job is asked to stop instead.
    disconnect(this, &QProgressDialog::canceled, this, nullptr);
    connect(this, &QProgressDialog::canceled, this, [this] { cancel_(); });
  }
  void reject() override { cancel_(); }

 protected:
  void closeEvent(QCloseEvent* event) override {
    event->ignore();
    cancel_();
  }

 private:
  std::function<void()> cancel_;
};

}  // namespace

DialogProgress::DialogProgress(QWidget* parent) {
  dialog_ = std::make_unique<JobProgressDialog>(parent, [this] { Cancel(); });
  dialog_->setWindowTitle(QString::fromUtf8("进度"));
  dialog_->setWindowModality(Qt::ApplicationModal);
  dialog_->setCancelButtonText(QString::fromUtf8("取消"));
  dialog_->setMinimumDuration(0);
  dialog_->setAutoClose(false);
  dialog_->setAutoReset(false);
  dialog_->setMinimumWidth(360);
  // A progress dialog shows itself once its minimum duration has passed
  // from its making; reset stops that timer, so that it shows only in Begin.
  dialog_->reset();
  dialog_->hide();
}

DialogProgress::~DialogProgress() = default;

void DialogProgress::Begin(const std::string& text) {
  cancelled_ = false;
  pace_ = {};
  if (auto* button = dialog_->findChild<QPushButton*>()) button->setEnabled(true);
  dialog_->setRange(0, kBarSteps);
  dialog_->setValue(0);
  dialog_->setLabelText(QString::fromStdString(text));
  dialog_->show();
  Refresh();
}

void DialogProgress::SetText(const std::string& text) {
  ShowText(text);
  Refresh();
}

void DialogProgress::Step(const std::string& text, double share) {
  if (!pace_.Due(share >= 1)) return;
  ShowText(text);
  dialog_->setValue(static_cast<int>(std::clamp(share, 0.0, 1.0) * kBarSteps));
  Refresh();
}

void DialogProgress::End() {
  dialog_->reset();
  dialog_->hide();
}

void DialogProgress::Cancel() {
  if (!dialog_->isVisible() || cancelled_) return;
  cancelled_ = true;
  if (auto* button = dialog_->findChild<QPushButton*>()) button->setEnabled(false);
  ShowText({});
}

// Once cancelled, the dialog says so whatever the job's text.
void DialogProgress::ShowText(const std::string& text) {
  dialog_->setLabelText(cancelled_ ? QString::fromUtf8("正在取消, 作业停止后关闭")
                                   : QString::fromStdString(text));
}

void DialogProgress::Refresh() {
  QApplication::processEvents();
}

ShownMessage SplitStatement(const std::string& message) {
  static constexpr std::array<std::string_view, 9> kVerbs = {
      "select", "insert", "update", "delete", "create", "drop", "alter", "with", "pragma"};
  const auto starts_statement = [&](std::size_t at) {
    return std::any_of(kVerbs.begin(), kVerbs.end(), [&](std::string_view verb) {
      if (message.size() < at + verb.size()) return false;
      for (std::size_t i = 0; i < verb.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(message[at + i])) != verb[i]) return false;
      }
      return true;
    });
  };
  for (std::size_t open = message.find(" ["); open != std::string::npos;
       open = message.find(" [", open + 1)) {
    const std::size_t close = message.rfind(']');
    if (close == std::string::npos || close < open || !starts_statement(open + 2)) continue;
    return {message.substr(0, open) + message.substr(close + 1),
            message.substr(open + 2, close - open - 2)};
  }
  return {message, {}};
}

namespace {

// A message of more lines than this shows its first lines and the whole
// text under the box's details, so that the box fits on the screen (the
// report dialog lists every report it left out).
constexpr int kShownLines = 20;

void ShowInformation(QWidget* parent, const QString& text) {
  const QStringList lines = text.split('\n');
  if (lines.size() <= kShownLines) {
    QMessageBox::information(parent, QString::fromUtf8("提示"), text);
    return;
  }
  QMessageBox box(QMessageBox::Information, QString::fromUtf8("提示"),
                  lines.mid(0, kShownLines).join('\n') + QString::fromUtf8("\n……"), QMessageBox::Ok,
                  parent);
  box.setDetailedText(text);
  box.exec();
}

}  // namespace

QWidget* MessageBoxNotifier::Owner() const {
  if (QWidget* modal = QApplication::activeModalWidget()) return modal;
  return parent_;
}

void MessageBoxNotifier::Show(const std::string& text) {
  const ShownMessage shown = SplitStatement(text);
  if (shown.statement.empty()) {
    ShowInformation(Owner(), QString::fromStdString(InChinese(text)));
    return;
  }
  const std::string log = Log(text);
  QMessageBox::warning(Owner(), QString::fromUtf8("错误"),
                       QString::fromStdString(InChinese(shown.text) +
                                              (log.empty() ? "" : "\n(语句见日志 " + log + ")")));
}

std::string MessageBoxNotifier::Log(const std::string& text) const {
  const std::string path = log_path_ ? log_path_() : std::string();
  if (path.empty()) return {};
  std::ofstream log(path, std::ios::app);
  log << QDateTime::currentDateTime().toString(Qt::ISODate).toStdString() << ' ' << text << '\n';
  log.close();
  return log ? path : std::string();
}

bool MessageBoxNotifier::Ask(const std::string& question) {
  return QMessageBox::question(Owner(), QString::fromUtf8("提示"),
                               QString::fromStdString(InChinese(question))) == QMessageBox::Yes;
}

}  // namespace landstat::qt
