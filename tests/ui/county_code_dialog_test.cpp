#include "ui/county_code_dialog.h"

#include <gtest/gtest.h>

#include <QTimer>

#include "platform/host/notifier.h"

namespace landstat {
namespace {

class CountyCodeDialogTest : public ::testing::Test {
 protected:
  host::RecordingNotifier notifier_;
  host::ScopedNotifier scoped_{notifier_};
};

TEST_F(CountyCodeDialogTest, RefusesEmptyAndNonDigitCodesAndStaysOpen) {
  CCountyCodeDlg dialog;
  EXPECT_EQ(dialog.ResourceId(), 17035);
  EXPECT_EQ(dialog.windowTitle().toStdString(), "设置县级代码");
  EXPECT_EQ(dialog.CodeEdit()->objectName().toStdString(), "17054");
  EXPECT_EQ(dialog.CodeEdit()->maxLength(), 6);
  dialog.show();

  dialog.OkButton()->click();
  ASSERT_EQ(notifier_.messages.size(), 1u);
  EXPECT_EQ(notifier_.messages[0], "请输入县级代码");
  EXPECT_TRUE(dialog.isVisible());

  dialog.CodeEdit()->setText("33a102");
  dialog.OkButton()->click();
  ASSERT_EQ(notifier_.messages.size(), 2u);
  EXPECT_EQ(notifier_.messages[1], "您输入的县级代码可能是错误的,请重新输入");
  EXPECT_TRUE(dialog.isVisible());
  EXPECT_EQ(dialog.result(), 0);
}

TEST_F(CountyCodeDialogTest, AcceptsDigitsAndKeepsTheCode) {
  CCountyCodeDlg dialog;
  dialog.CodeEdit()->setText("3301029");  // longer than the box takes
  EXPECT_EQ(dialog.CodeEdit()->text().toStdString(), "330102");
  QTimer::singleShot(0, &dialog, [&] { dialog.OkButton()->click(); });
  EXPECT_EQ(dialog.DoModal(), host::IDOK);
  EXPECT_EQ(dialog.m_strCountyCode, "330102");
  EXPECT_TRUE(notifier_.messages.empty());
}

TEST_F(CountyCodeDialogTest, CancelEndsWithoutChecking) {
  CCountyCodeDlg dialog;
  QTimer::singleShot(0, &dialog, [&] { dialog.CancelButton()->click(); });
  EXPECT_EQ(dialog.DoModal(), host::IDCANCEL);
  EXPECT_TRUE(notifier_.messages.empty());
}

}  // namespace
}  // namespace landstat
