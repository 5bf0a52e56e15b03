// The operator's dialogs offscreen: the annual summary and the report data
// on a generated county, the county batch's tree, the merge's checks.

#include <gtest/gtest.h>

#include <QDate>
#include <QLineEdit>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "engine/table_names.h"
#include "landuse/generated_county_run.h"
#include "operator/county_catalogue.h"
#include "platform/db/connection.h"
#include "platform/gis/project.h"
#include "platform/host/notifier.h"
#include "platform/host/paths.h"
#include "support/program_dir.h"
#include "support/test_databases.h"
#include "ui/merge_stat_dialog.h"
#include "ui/report_data_dialog.h"
#include "ui/stat_county_data_dialog.h"
#include "ui/stat_year_data_dialog.h"

namespace landstat {
namespace {

namespace fs = std::filesystem;

class OperatorDialogsTest : public ::testing::Test {
 protected:
  host::RecordingNotifier notifier_{false};
  host::ScopedNotifier scoped_{notifier_};
  testing::ScopedProgramDir home_;
};

TEST_F(OperatorDialogsTest, AnnualSummaryRunsTheYearAndTheReportDataCopiesIt) {
  testing::WriteStatConfig(testing::kThreeUnits);
  const testing::GeneratedCountyRun county(home_, 61, 150);
  testing::WriteFileBytes(county.host_settings,
                          "<HostSetting><Set version=\"通用农村\"/></HostSetting>");
  auto project = gis::CGisXmlPrj::Open(county.files.project);
  const std::string folder = fs::path(county.files.project).parent_path().string();
  CStatYearDataDlg dialog(project.get(), folder, county.codes.get(), nullptr);
  EXPECT_EQ(dialog.ResourceId(), 17000);
  EXPECT_EQ(dialog.windowTitle().toStdString(), "年度数据汇总");
  // Nothing summarised yet: it starts from this year.
  EXPECT_EQ(dialog.YearBox()->currentText(), QString::number(QDate::currentDate().year()));
  EXPECT_EQ(dialog.YearList()->topLevelItemCount(), 0);
  EXPECT_FALSE(dialog.IncrementalCheck()->isVisibleTo(&dialog));

  // Enter adds a typed year in order and refuses what is no year.
  dialog.YearBox()->setEditText("2016");
  EXPECT_TRUE(dialog.OnEnterYear());
  EXPECT_EQ(dialog.YearBox()->currentText().toStdString(), "2016");
  EXPECT_EQ(dialog.YearBox()->itemText(dialog.YearBox()->count() - 1).toStdString(), "2016");
  dialog.YearBox()->setEditText("20a6");
  EXPECT_FALSE(dialog.OnEnterYear());
  EXPECT_EQ(notifier_.messages.back(), "输入年度数据错误！");

  dialog.YearBox()->setCurrentText("2009");
  dialog.SummaryButton()->click();
  ASSERT_EQ(dialog.m_lastResult.steps.size(), 2u);
  EXPECT_TRUE(dialog.m_lastResult.report.Completed())
      << testing::ReadFileBytes(dialog.m_lastResult.log_path);
  EXPECT_EQ(notifier_.messages.back().rfind("汇总完毕!", 0), 0u) << notifier_.messages.back();
  ASSERT_EQ(dialog.YearList()->topLevelItemCount(), 1);
  EXPECT_EQ(dialog.YearList()->topLevelItem(0)->text(0).toStdString(), "2009");
  std::string viewed;
  dialog.m_viewer = [&](const std::string& path) { return viewed = path, true; };
  dialog.LogButton()->click();
  EXPECT_EQ(viewed, (fs::path(folder) / "2009330102StatLog.txt").string());

  // Asked again, naming the file, declined: nothing runs.
  const std::string file = (fs::path(folder) / "2009330102.sqlite").string();
  EXPECT_EQ(dialog.m_strSummarisedDb, file);
  dialog.SummaryButton()->click();
  EXPECT_EQ(notifier_.questions.back(),
            "该年度数据已经汇总,需要重新汇总吗?\n重新汇总将替换 " + file + " 中的统计");
  EXPECT_TRUE(dialog.m_lastResult.declined);

  // The report data starts from the year of the host's database, not the first.
  testing::WriteFileBytes(fs::path(folder) / "2008330102.sqlite", "");
  CReportDataDlg report(project.get(), folder, file);
  EXPECT_EQ(report.ResourceId(), 17027);
  ASSERT_EQ(report.YearBox()->count(), 2);
  EXPECT_EQ(report.YearBox()->currentText().toStdString(), "2009");
  EXPECT_EQ(report.UnitBox()->count(), 3);
  report.GenerateButton()->click();
  EXPECT_EQ(notifier_.messages.back(), "请选择存放路径");
  report.m_chooseFolder = [&] { return folder; };
  report.OnSelectOutputPath();
  report.GenerateButton()->click();
  EXPECT_EQ(notifier_.messages.back().rfind("生成上报数据完成！", 0), 0u)
      << notifier_.messages.back();
  EXPECT_TRUE(fs::exists(fs::path(folder) / "20093301021.sqlite"));
}

// On a server the question before a year is summarised again names the
// server, never its password.
TEST_F(OperatorDialogsTest, AnnualSummaryAsksAboutAServerWithoutItsPassword) {
  if (testing::PostgresConninfo().empty()) GTEST_SKIP() << "no PostgreSQL server";
  testing::TestDatabase server(db::DbKind::kServer);
  const std::string table = TableNames(1, "", "330102").AreaUnit();
  server.connection().Execute("create table " + table + " (年度 varchar(4))");
  server.connection().Execute("insert into " + table + " values ('2009')");
  const std::string connection = server.ConnectionString() + " password=Secret42";
  testing::WriteFileBytes(home_.File("rivadoverid.ini"),
                          "[数据源]\n模式=网络\n名称=" + connection + "\n");
  gis::WriteProjectFile(home_.File("project.xml"), "330102", "示例县", {});
  const auto project = gis::CGisXmlPrj::Open(home_.File("project.xml"));
  CStatYearDataDlg dialog(project.get(), home_.path().string(), nullptr, nullptr);
  ASSERT_EQ(dialog.YearList()->topLevelItemCount(), 1);
  dialog.YearBox()->setCurrentText("2009");
  dialog.SummaryButton()->click();
  ASSERT_EQ(notifier_.questions.size(), 1u);
  EXPECT_NE(notifier_.questions[0].find("数据源 " + db::DescribeConnection(connection)),
            std::string::npos)
      << notifier_.questions[0];
  EXPECT_EQ(notifier_.questions[0].find("Secret42"), std::string::npos) << notifier_.questions[0];
  EXPECT_TRUE(dialog.m_lastResult.declined);
}

// A database whose years cannot be read (a damaged file, a server out of
// reach) is named, without a password, instead of listing no year.
TEST_F(OperatorDialogsTest, YearListsSayWhyTheDatabaseCannotBeRead) {
  gis::WriteProjectFile(home_.File("project.xml"), "330102", "示例县", {});
  const auto project = gis::CGisXmlPrj::Open(home_.File("project.xml"));
  const std::string folder = home_.path().string(), damaged = home_.File("damaged.sqlite");
  testing::WriteFileBytes(damaged, std::string(4096, 'x'));
  const std::string server = "host=/nonexistent-socket-folder dbname=none password=Secret42";
  const struct {
    bool on_server;
    std::function<void()> open;
    const char* said;
    std::string named;
  } kCases[] = {
      {false, [&] { CReportDataDlg(project.get(), folder, damaged); },
       "读取统计年度失败: ", damaged},
      {true, [&] { CReportDataDlg(project.get(), folder, ""); },
       "读取统计年度失败: ", "host=/nonexistent-socket-folder"},
      {true, [&] { CStatYearDataDlg(project.get(), folder, nullptr, nullptr); },
       "读取已汇总的年度失败: ", "host=/nonexistent-socket-folder"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.said + c.named);
    testing::WriteFileBytes(home_.File("rivadoverid.ini"),
                            c.on_server ? "[数据源]\n模式=网络\n名称=" + server + "\n" : "");
    notifier_.messages.clear();
    c.open();
    ASSERT_EQ(notifier_.messages.size(), 1u);
    const std::string& message = notifier_.messages[0];
    EXPECT_EQ(message.rfind(std::string(c.said) + "cannot read the years held in ", 0), 0u)
        << message;
    EXPECT_NE(message.find(c.named), std::string::npos) << message;
    EXPECT_EQ(message.find("Secret42"), std::string::npos) << message;
  }
}

TEST_F(OperatorDialogsTest, CountyTreeTicksFromTheRootAndKeepsTreeOrder) {
  const std::string catalogue = home_.File("counties.sqlite");
  AddCatalogueCounty(catalogue,
                     {{"33", "示例省", ""}, {"3301", "示例市", "33"}, {"330102", "甲县", "3301"}},
                     "330102", "a/project.xml");
  AddCatalogueCounty(catalogue, {{"330103", "乙县", "3301"}}, "330103", "b/project.xml");
  CStatCountyDataDlg dialog(catalogue);
  EXPECT_EQ(dialog.windowTitle().toStdString(), "数据汇总");
  EXPECT_EQ(dialog.YearBox()->currentText(), QString::number(QDate::currentDate().year()));
  // A stand-alone install has no network to summarise to: files in a folder.
  EXPECT_FALSE(dialog.NetworkRadio()->isEnabled());
  EXPECT_TRUE(dialog.LocalRadio()->isChecked());
  dialog.OkButton()->click();
  EXPECT_EQ(notifier_.messages.back(), "请选择行政区!");
  QTreeWidgetItem* root = dialog.Tree()->topLevelItem(0);
  ASSERT_NE(root, nullptr);
  root->setCheckState(0, Qt::Checked);
  dialog.OkButton()->click();
  EXPECT_EQ(dialog.m_arrCodes, (std::vector<std::string>{"33", "3301", "330102", "330103"}));
  root->setCheckState(0, Qt::Unchecked);
  QTreeWidgetItem* city = root->child(0);
  city->child(1)->setCheckState(0, Qt::Checked);  // a lower box changes its item alone
  dialog.OkButton()->click();
  EXPECT_EQ(dialog.m_arrCodes, (std::vector<std::string>{"330103"}));
  EXPECT_EQ(notifier_.messages.back(), "请选择汇总数据的存放路径!");

  // Where a server is configured, the network is offered first.
  testing::WriteFileBytes(fs::path(host::ProgramDir()) / "rivadoverid.ini",
                          "[数据源]\n模式=网络\n名称=统计库\n");
  CStatCountyDataDlg networked(catalogue);
  EXPECT_TRUE(networked.NetworkRadio()->isChecked());
  EXPECT_FALSE(networked.PathButton()->isEnabled());
  networked.LocalRadio()->click();
  EXPECT_TRUE(networked.PathButton()->isEnabled());
  networked.m_chooseFolder = [] { return std::string("/data/out"); };
  networked.PathButton()->click();
  EXPECT_EQ(networked.m_strFolder, "/data/out");
  networked.NetworkRadio()->click();
  EXPECT_TRUE(networked.m_strFolder.empty());
}

TEST_F(OperatorDialogsTest, MergeChecksItsInputsBeforeMerging) {
  CMergeStatDlg dialog(nullptr);
  EXPECT_EQ(dialog.windowTitle().toStdString(), "合并汇总数据");
  dialog.MergeButton()->click();
  EXPECT_EQ(notifier_.messages.back(), "请选择数据！");
  dialog.m_chooseFile = [](const std::string&, const std::string&) {
    return std::string("/data/2009330102.sqlite");
  };
  dialog.OnSelectRuralData();
  dialog.OnSelectTownData();
  EXPECT_EQ(dialog.TownEdit()->text().toStdString(), "/data/2009330102.sqlite");
  dialog.MergeButton()->click();
  EXPECT_EQ(notifier_.messages.back(), "选择的数据相同！");
  dialog.m_chooseFile = [](const std::string&, const std::string&) {
    return std::string("/other/2009330102.sqlite");
  };
  dialog.OnSelectTownData();
  dialog.OptionRadio(2)->click();
  EXPECT_TRUE(dialog.PathButton()->isEnabled());
  dialog.MergeButton()->click();
  EXPECT_EQ(notifier_.messages.back(), "选择输出数据路径！");
  dialog.m_chooseFolder = [](const std::string&) { return std::string("/out"); };
  dialog.PathButton()->click();
  EXPECT_EQ(dialog.OutputEdit()->text().toStdString(), "/out");
  // Without a data dictionary the merge says so.
  dialog.MergeButton()->click();
  EXPECT_EQ(notifier_.messages.back().rfind("没有数据字典,无法合并！", 0), 0u);
  dialog.OptionRadio(0)->click();
  EXPECT_FALSE(dialog.PathButton()->isEnabled());
  EXPECT_TRUE(dialog.OutputEdit()->text().isEmpty());
}

}  // namespace
}  // namespace landstat
