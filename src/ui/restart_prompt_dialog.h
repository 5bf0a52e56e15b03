#pragma once

#include <QPushButton>

#include "ui/modal_dialog.h"

namespace landstat {

// Dialog 17015 "提示": the prompt that asked for a restart after the row
// lock limit was raised. The embedded database has no such limit, so no run
// asks it any more; it is kept for hosts that show it.
class CRestartPromptDlg : public qt::ModalDialog {
 public:
  static constexpr int kResourceId = 17015;
  static const char* const kText;

  explicit CRestartPromptDlg(QWidget* parent = nullptr);

  QPushButton* RestartButton() const { return restart_button_; }
  QPushButton* LaterButton() const { return later_button_; }

 private:
  QPushButton* restart_button_;
  QPushButton* later_button_;
};

}  // namespace landstat
