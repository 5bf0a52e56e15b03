#include "ui/restart_prompt_dialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace landstat {

const char* const CRestartPromptDlg::kText =
    "    由于需要调平的数据行数超过了Windows系统设定的范围，程序已经修改了注册表，"
    "重新启动计算机后设置才能生效，需要重新启动吗?";

CRestartPromptDlg::CRestartPromptDlg(QWidget* parent) : qt::ModalDialog(kResourceId, parent) {
  setWindowTitle(QString::fromUtf8("提示"));
  auto* text = new QLabel(QString::fromUtf8(kText), this);
  text->setWordWrap(true);
  restart_button_ = new QPushButton(QString::fromUtf8("重新启动"), this);
  later_button_ = new QPushButton(QString::fromUtf8("稍后重启"), this);
  auto* buttons = new QHBoxLayout();
  buttons->addStretch();
  buttons->addWidget(restart_button_);
  buttons->addWidget(later_button_);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(text);
  layout->addLayout(buttons);
  connect(restart_button_, &QPushButton::clicked, this, &QDialog::accept);
  connect(later_button_, &QPushButton::clicked, this, &QDialog::reject);
}

}  // namespace landstat
