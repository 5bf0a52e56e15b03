// The desktop host's window without a screen: opening a project finds its
// county and the database beside it; the dialogs wait for both.

#include <gtest/gtest.h>

#include <QApplication>
#include <QDate>
#include <QDialog>
#include <QProgressDialog>
#include <QTimer>
#include <chrono>
#include <filesystem>
#include <functional>

#include "county_plan.h"
#include "county_writer.h"
#include "engine/database_helpers.h"
#include "main_window.h"
#include "platform/host/ini_file.h"
#include "platform/host/notifier.h"
#include "support/program_dir.h"
#include "support/test_databases.h"
#include "ui/print_stat_dialog.h"
#include "ui/report_data_dialog.h"
#include "ui/stat_year_data_dialog.h"

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

  const std::filesystem::path beside = std::filesystem::path(files.project).parent_path();
  const std::string database = (beside / "2009.sqlite").string();
  ASSERT_EQ(CreateAcessDB(database), 1);
  testing::RecordCompletedRun(database, "2009", options.county_code);
  // A newer file holding no completed statistics is never opened.
  const std::string empty = (beside / "2010.sqlite").string();
  ASSERT_EQ(CreateAcessDB(empty), 1);
  std::filesystem::last_write_time(
      empty, std::filesystem::last_write_time(database) + std::chrono::hours(1));
  EXPECT_FALSE(window.SetDatabase(empty));
  // Nor is one that cannot be read, and the window says why, naming it
  // again when the project beside it opens.
  const std::string damaged = (beside / "damaged.sqlite").string();
  testing::WriteFileBytes(damaged, std::string(4096, 'x'));
  EXPECT_FALSE(window.SetDatabase(damaged));
  EXPECT_EQ(notifier.messages.back().rfind(
                "没有打开统计数据库: cannot read the years held in " + damaged, 0),
            0u)
      << notifier.messages.back();
  {
    // A project named relative to the working folder finds its database.
    const std::filesystem::path working = std::filesystem::current_path();
    std::filesystem::current_path(std::filesystem::path(files.project).parent_path());
    const bool opened = window.OpenProject("./project.xml");
    std::filesystem::current_path(working);
    ASSERT_TRUE(opened) << (notifier.messages.empty() ? "" : notifier.messages.back());
    EXPECT_NE(notifier.messages.back().find(damaged), std::string::npos)
        << notifier.messages.back();
  }
  EXPECT_EQ(window.Database(), database);
  // It opens large enough to read the project's layers and its state.
  EXPECT_GE(window.width(), 900);
  EXPECT_GE(window.height(), 600);
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

// Runs the menu entry; `use` gets its dialog, which is then closed.
template <class Dialog>
void WithDialog(QAction* action, const std::function<void(Dialog&)>& use) {
  bool seen = false;
  QTimer::singleShot(0, [&] {
    if (auto* dialog = dynamic_cast<Dialog*>(QApplication::activeModalWidget())) {
      seen = true;
      use(*dialog);
      dialog->reject();
    }
  });
  action->trigger();
  EXPECT_TRUE(seen) << action->text().toStdString();
}

// The statistics database goes with the open project: the window opens the
// file a summary made, the dialogs see it, and another project never takes
// the folder the window remembered.
TEST(LandstatGui, TheDatabaseGoesWithTheProject) {
  testing::ScopedProgramDir home;
  testing::TempDir dir;
  county::CountyOptions options;
  options.parcels = 20;
  const county::CountyPlan plan = county::PlanCounty(options);
  const county::CountyFiles first = county::WriteCounty(plan, dir.File("first"));
  const county::CountyFiles second = county::WriteCounty(plan, dir.File("second"));
  gui::MainWindow window;
  host::RecordingNotifier notifier;
  host::ScopedNotifier scoped(notifier);
  ASSERT_TRUE(window.OpenProject(first.project));
  EXPECT_TRUE(window.Database().empty());

  // The summary of 2010, its runs recording a completed run in the file.
  WithDialog<CStatYearDataDlg>(window.OperatorAction(0), [](CStatYearDataDlg& summary) {
    summary.m_runs.statistics = [](const StatisticsRequest& run) {
      testing::RecordCompletedRun(run.connection, run.year, run.county);
      RunReport report;
      report.outcome = RunOutcome::kCompleted;
      return report;
    };
    summary.m_runs.town_lots = [](const TownLotRequest&) {
      RunReport report;
      report.outcome = RunOutcome::kCompleted;
      return report;
    };
    summary.YearBox()->setEditText("2010");
    summary.SummaryButton()->click();
  });
  const std::string made = (std::filesystem::path(first.project).parent_path() /
                            ("2010" + options.county_code + ".sqlite"))
                               .string();
  EXPECT_EQ(window.Database(), made);
  WithDialog<CPrintStatDlg>(window.ReportAction(0), [&](CPrintStatDlg& print) {
    EXPECT_EQ(print.m_strDbFile, made);
    EXPECT_EQ(print.Combo(800)->currentText().toStdString(), "2010");
  });
  WithDialog<CReportDataDlg>(window.OperatorAction(3), [](CReportDataDlg& report) {
    EXPECT_EQ(report.YearBox()->currentText().toStdString(), "2010");
  });
  {
    // On a server the file's year is none of the server's.
    testing::WriteFileBytes(
        home.File("rivadoverid.ini"),
        "[数据源]\n模式=网络\n名称=host=/nonexistent-socket-folder dbname=none\n");
    WithDialog<CStatYearDataDlg>(window.OperatorAction(0), [](CStatYearDataDlg& summary) {
      EXPECT_EQ(summary.YearBox()->currentText(), QString::number(QDate::currentDate().year()));
    });
    std::filesystem::remove(home.File("rivadoverid.ini"));
  }

  // The other project, of the same county, has no statistics of its own.
  ASSERT_TRUE(window.OpenProject(second.project));
  EXPECT_TRUE(window.Database().empty());
  WithDialog<CStatYearDataDlg>(window.OperatorAction(0), [](CStatYearDataDlg& summary) {
    EXPECT_EQ(summary.YearList()->topLevelItemCount(), 0);
  });
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
