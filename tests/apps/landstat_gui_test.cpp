// The desktop host's window without a screen: opening a project finds its
// county and the database beside it; the dialogs wait for both.

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QProgressDialog>
#include <QTimer>
#include <filesystem>

#include "county_plan.h"
#include "county_writer.h"
#include "engine/database_helpers.h"
#include "main_window.h"
#include "platform/host/ini_file.h"
#include "platform/host/notifier.h"
#include "support/program_dir.h"
#include "support/test_databases.h"
#include "ui/print_stat_dialog.h"

namespace landstat {
namespace {

TEST(LandstatGui, OpensAProjectWithTheDatabaseBesideIt) {
  testing::ScopedProgramDir home;
  testing::TempDir dir;
  county::CountyOptions options;
  options.parcels = 20;
  const county::CountyFiles files =
      county::WriteCounty(county::PlanCounty(options), dir.File("county"));
  gui::MainWindow window;
  host::RecordingNotifier notifier;
  host::ScopedNotifier scoped(notifier);
  EXPECT_FALSE(window.ConvertAction()->isEnabled());

  EXPECT_FALSE(window.OpenProject(dir.File("missing.xml")));
  ASSERT_EQ(notifier.messages.size(), 1u);
  EXPECT_NE(notifier.messages[0].find("missing.xml"), std::string::npos);

  const std::string database =
      (std::filesystem::path(files.project).parent_path() / "2009.sqlite").string();
  ASSERT_EQ(CreateAcessDB(database), 1);
  {
    // A project named relative to the working folder finds its database.
    const std::filesystem::path working = std::filesystem::current_path();
    std::filesystem::current_path(std::filesystem::path(files.project).parent_path());
    const bool opened = window.OpenProject("./project.xml");
    std::filesystem::current_path(working);
    ASSERT_TRUE(opened) << (notifier.messages.empty() ? "" : notifier.messages.back());
  }
  EXPECT_EQ(window.Database(), database);
  const std::string status = window.StatusText()->text().toStdString();
  EXPECT_NE(status.find(options.county_code), std::string::npos) << status;
  // The project's layers are listed, the parcels among them.
  EXPECT_FALSE(
      window.LayerList()->findItems(QString::fromUtf8("地类图斑"), Qt::MatchExactly).isEmpty());
  EXPECT_TRUE(window.ConvertAction()->isEnabled());
  EXPECT_TRUE(window.CountyCodeAction()->isEnabled());
  EXPECT_EQ(window.StatisticsFolder(), std::filesystem::path(database).parent_path().string());

  // Each dialog opens from the menu, titled as its entry; the report
  // dialogs read the window's database. The test closes each.
  std::vector<QAction*> actions = {window.CountyCodeAction(), window.ConvertAction(),
                                   window.BrowseAction()};
  for (int mode = 0; mode < 3; ++mode) actions.push_back(window.ReportAction(mode));
  for (QAction* action : actions) {
    ASSERT_TRUE(action->isEnabled());
    QString title;
    std::string report_database = "none";
    QTimer::singleShot(0, [&] {
      auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
      if (dialog == nullptr) return;
      title = dialog->windowTitle();
      if (auto* print = dynamic_cast<CPrintStatDlg*>(dialog)) report_database = print->m_strDbFile;
      dialog->reject();
    });
    action->trigger();
    EXPECT_FALSE(title.isEmpty()) << action->text().toStdString();
    if (action == window.ConvertAction() || action == window.CountyCodeAction() ||
        action == window.BrowseAction())
      continue;
    EXPECT_EQ(title + "...", action->text());
    EXPECT_EQ(report_database, database);
  }
  EXPECT_FALSE(window.findChild<QProgressDialog*>()->isVisible());
}

// The status bar names the configured server without its password.
TEST(LandstatGui, StatusBarHidesTheServersPassword) {
  testing::ScopedProgramDir home;
  ASSERT_TRUE(host::_ZRK_WriteProfileString("数据源", "模式", "网络"));
  ASSERT_TRUE(host::_ZRK_WriteProfileString("数据源", "名称",
                                            "host=db.local dbname=tdly password=Secret42"));
  gui::MainWindow window;
  const std::string status = window.StatusText()->text().toStdString();
  EXPECT_NE(status.find("host=db.local"), std::string::npos) << status;
  EXPECT_NE(status.find("dbname=tdly"), std::string::npos) << status;
  EXPECT_EQ(status.find("Secret42"), std::string::npos) << status;
}

// The operator's dialogs open from the 统计 menu, titled as their entries.
TEST(LandstatGui, OperatorDialogsOpenFromTheStatisticsMenu) {
  testing::ScopedProgramDir home;
  testing::TempDir dir;
  county::CountyOptions options;
  options.parcels = 20;
  const county::CountyFiles files =
      county::WriteCounty(county::PlanCounty(options), dir.File("county"));
  gui::MainWindow window;
  host::RecordingNotifier notifier;
  host::ScopedNotifier scoped(notifier);
  ASSERT_TRUE(window.OpenProject(files.project));
  EXPECT_TRUE(window.RangeAction()->isEnabled());
  for (int index = 0; index < 4; ++index) {
    QAction* action = window.OperatorAction(index);
    ASSERT_TRUE(action->isEnabled()) << index;
    QString title;
    QTimer::singleShot(0, [&] {
      if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
        title = dialog->windowTitle();
        dialog->reject();
      }
    });
    action->trigger();
    EXPECT_EQ(title + "...", action->text());
  }
}

}  // namespace
}  // namespace landstat
