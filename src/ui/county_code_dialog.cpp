#include "ui/county_code_dialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "platform/gis/gis_error.h"
#include "platform/gis/project.h"
#include "platform/host/notifier.h"

namespace landstat {

CCountyCodeDlg::CCountyCodeDlg(QWidget* parent) : qt::ModalDialog(kResourceId, parent) {
  setWindowTitle(QString::fromUtf8("设置县级代码"));
  auto* label = new QLabel(QString::fromUtf8("6位县级代码:"), this);
  code_edit_ = new QLineEdit(this);
  code_edit_->setObjectName(QString::number(kCodeEditId));
  code_edit_->setMaxLength(6);
  ok_button_ = new QPushButton(QString::fromUtf8("确定"), this);
  cancel_button_ = new QPushButton(QString::fromUtf8("取消"), this);
  ok_button_->setDefault(true);
  auto* row = new QHBoxLayout();
  row->addWidget(label);
  row->addWidget(code_edit_);
  auto* buttons = new QHBoxLayout();
  buttons->addStretch();
  buttons->addWidget(ok_button_);
  buttons->addWidget(cancel_button_);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(row);
  layout->addLayout(buttons);
  connect(ok_button_, &QPushButton::clicked, this, [this] { OnOK(); });
  connect(cancel_button_, &QPushButton::clicked, this, &QDialog::reject);
  connect(code_edit_, &QLineEdit::textChanged, this,
          [this](const QString& text) { m_strCountyCode = text.toStdString(); });
}

void CCountyCodeDlg::OnOK() {
  const QString code = code_edit_->text();
  if (code.isEmpty()) {
    ShowMessage(QString::fromUtf8("请输入县级代码"));
    return;
  }
  for (QChar c : code) {
    if (c < QChar('0') || c > QChar('9')) {
      ShowMessage(QString::fromUtf8("您输入的县级代码可能是错误的,请重新输入"));
      return;
    }
  }
  m_strCountyCode = code.toStdString();
  accept();
}

std::string ProjectCountyCode(gis::CGisXmlPrj* project, QWidget* parent) {
  std::string code = project ? project->GetCountyCode() : std::string();
  if (!code.empty() ||
      host::AfxMessageBox("从工程中取县级代码失败,是否手动填写?", host::MB_YESNO) != host::IDYES) {
    return code;
  }
  CCountyCodeDlg dialog(parent);
  if (dialog.DoModal() != host::IDOK) return code;
  code = dialog.m_strCountyCode;
  if (project) {
    try {
      project->SetCountyCode(code);
      project->Save();
    } catch (const gis::GisError& failure) {
      host::AfxMessageBox(failure.what());
    }
  }
  return code;
}

}  // namespace landstat
