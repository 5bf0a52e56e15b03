// The engine's progress and messages in Qt: the progress dialog shows only
// while a job runs, and an error's statement goes to the log, not the box.

#include "ui/host_feedback.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QTimer>
#include <fstream>
#include <functional>
#include <sstream>

#include "support/test_databases.h"

namespace landstat {
namespace {

// Processes events for a while, so that timers due by then fire.
void ProcessEventsFor(int milliseconds) {
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < milliseconds) QApplication::processEvents(QEventLoop::AllEvents, 10);
}

TEST(HostFeedback, ProgressDialogShowsOnlyDuringAJob) {
  QWidget window;
  window.show();
  qt::DialogProgress progress(&window);
  ProcessEventsFor(100);
  EXPECT_FALSE(progress.Dialog()->isVisible());
  progress.Begin("统计");
  EXPECT_TRUE(progress.Dialog()->isVisible());
  EXPECT_EQ(progress.Dialog()->windowModality(), Qt::ApplicationModal);
  progress.End();
  ProcessEventsFor(100);
  EXPECT_FALSE(progress.Dialog()->isVisible());
}

// The bar shows the share of the whole job. Cancel (the button, Esc, the
// window's close button) asks the job to stop, which the engine hears; the
// dialog stays, saying so, until the job ends.
TEST(HostFeedback, CancelAsksTheJobToStopAndTheDialogStays) {
  QWidget window;
  window.show();
  qt::DialogProgress progress(&window);
  host::Progress* const previous = host::SetProgress(&progress);
  QProgressDialog* dialog = progress.Dialog();
  const std::function<void()> cancels[] = {
      [&] { dialog->findChild<QPushButton*>()->click(); },
      [&] {
        QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QApplication::sendEvent(dialog, &escape);
      },
      [&] { dialog->close(); },
  };
  for (const std::function<void()>& cancel : cancels) {
    progress.Begin("统计");
    progress.Step("统计", 0.5);
    EXPECT_EQ(dialog->value() * 2, dialog->maximum());
    EXPECT_FALSE(host::JobCancelled());
    cancel();
    EXPECT_TRUE(host::JobCancelled());
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_TRUE(dialog->labelText().contains(QString::fromUtf8("正在取消"))) << dialog->labelText().toStdString();
    progress.End();
    EXPECT_FALSE(dialog->isVisible());
  }
  host::SetProgress(previous);
}

TEST(HostFeedback, StatementsArePartedFromTheMessage) {
  const struct {
    const char* message;
    const char* text;
    const char* statement;
  } kCases[] = {
      {"no such table: T [select * from T]", "no such table: T", "select * from T"},
      {"report 一级: bad [SELECT [年度] from [T]]; the copy stays",
       "report 一级: bad; the copy stays", "SELECT [年度] from [T]"},
      {"county [330102] [update T set a = 1]", "county [330102]", "update T set a = 1"},
      {"layer [地类图斑] missing", "layer [地类图斑] missing", ""},
      {"plain", "plain", ""},
  };
  for (const auto& c : kCases) {
    const qt::ShownMessage shown = qt::SplitStatement(c.message);
    EXPECT_EQ(shown.text, c.text) << c.message;
    EXPECT_EQ(shown.statement, c.statement) << c.message;
  }
}

TEST(HostFeedback, AnErrorsStatementGoesToTheLog) {
  testing::TempDir dir;
  const std::string log = dir.File("gui.log");
  qt::MessageBoxNotifier notifier(nullptr, [&] { return log; });
  std::string boxed;
  QTimer::singleShot(0, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr) return;
    boxed = box->text().toStdString();
    box->accept();
  });
  notifier.Show("no such table: T [select * from T]");
  EXPECT_EQ(boxed, "no such table: T\n(语句见日志 " + log + ")");
  std::ifstream written(log);
  std::stringstream text;
  text << written.rdbuf();
  EXPECT_NE(text.str().find("no such table: T [select * from T]"), std::string::npos) << text.str();
}

// Messages and questions sit over the dialog in use, so that no box brings
// the main window in front of it.
TEST(HostFeedback, MessageBoxesSitOverTheDialogInUse) {
  QWidget window;
  window.show();
  QDialog dialog(&window);
  dialog.setWindowModality(Qt::ApplicationModal);
  dialog.show();
  qt::MessageBoxNotifier notifier(&window);
  for (const std::function<void()>& box_up :
       {std::function<void()>([&] { notifier.Show("说明"); }),
        std::function<void()>([&] { notifier.Show("no such table: T [select * from T]"); }),
        std::function<void()>([&] { notifier.Ask("覆盖吗?"); })}) {
    QWidget* owner = nullptr;
    QTimer::singleShot(0, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (box == nullptr) return;
      owner = box->parentWidget();
      box->done(QMessageBox::No);
    });
    box_up();
    EXPECT_EQ(owner, &dialog);
  }
}

// A message too long for the screen shows its first lines; the whole text
// is in the box's details.
TEST(HostFeedback, ALongMessageShowsItsFirstLinesAndTheWholeInDetails) {
  qt::MessageBoxNotifier notifier(nullptr);
  std::string text = "0", first = "0";
  for (int i = 1; i < 30; ++i) {
    text += "\n" + std::to_string(i);
    if (i < 20) first += "\n" + std::to_string(i);
  }
  std::string boxed, details;
  QTimer::singleShot(0, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr) return;
    boxed = box->text().toStdString();
    details = box->detailedText().toStdString();
    box->accept();
  });
  notifier.Show(text);
  EXPECT_EQ(boxed, first + "\n……");
  EXPECT_EQ(details, text);
}

}  // namespace
}  // namespace landstat
