#pragma once

#include <QLineEdit>
#include <QPushButton>
#include <string>

#include "ui/modal_dialog.h"

namespace landstat {

namespace gis {
class CGisXmlPrj;
}

// Dialog 17035 "设置县级代码": asks for the six-digit county code. OK refuses
// an empty code and a code with anything but digits, and stays open; after
// OK the code is in m_strCountyCode.
class CCountyCodeDlg : public qt::ModalDialog {
 public:
  static constexpr int kResourceId = 17035;
  static constexpr int kCodeEditId = 17054;

  explicit CCountyCodeDlg(QWidget* parent = nullptr);

  std::string m_strCountyCode;

  QLineEdit* CodeEdit() const { return code_edit_; }
  QPushButton* OkButton() const { return ok_button_; }
  QPushButton* CancelButton() const { return cancel_button_; }
  // The OK button's check; accepts the dialog when the code is good.
  void OnOK();

 private:
  QLineEdit* code_edit_;
  QPushButton* ok_button_;
  QPushButton* cancel_button_;
};

// The county code of a project ("sCode"). When it has none, asks
// "从工程中取县级代码失败,是否手动填写?" and, on Yes, runs the county-code
// dialog and keeps the code in the project; empty when declined.
std::string ProjectCountyCode(gis::CGisXmlPrj* project, QWidget* parent = nullptr);

}  // namespace landstat
