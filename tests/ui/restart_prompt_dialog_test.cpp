#include "ui/restart_prompt_dialog.h"

#include <gtest/gtest.h>

#include <QTimer>

#include "platform/host/notifier.h"

namespace landstat {
namespace {

TEST(RestartPromptDialogTest, EndsByItsTwoButtons) {
  CRestartPromptDlg prompt;
  EXPECT_EQ(prompt.ResourceId(), 17015);
  EXPECT_EQ(prompt.windowTitle().toStdString(), "提示");
  EXPECT_EQ(prompt.RestartButton()->text().toStdString(), "重新启动");
  QTimer::singleShot(0, &prompt, [&] { prompt.RestartButton()->click(); });
  EXPECT_EQ(prompt.DoModal(), host::IDOK);
  QTimer::singleShot(0, &prompt, [&] { prompt.LaterButton()->click(); });
  EXPECT_EQ(prompt.DoModal(), host::IDCANCEL);
}

}  // namespace
}  // namespace landstat
