#include "ui/print_stat_dialog.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QTimer>
#include <algorithm>
#include <cstdlib>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "engine/database_helpers.h"
#include "engine/run_record.h"
#include "engine/run_workspace.h"
#include "engine/stat_config.h"
#include "engine/table_names.h"
#include "landuse/generated_county_run.h"
#include "platform/host/notifier.h"
#include "platform/host/paths.h"
#include "report/report_readback.h"
#include "support/program_dir.h"
#include "support/run_program.h"
#include "support/test_databases.h"

namespace landstat {
namespace {

namespace fs = std::filesystem;
using testing::WriteFileBytes;

const char kCatalogue[] =
    "<AutoBuildList>"
    "<Row 表格名称=\"农村土地利用现状一级分类面积汇总表\" statTbl=\"TDLY_YJFL\" "
    "shortName=\"一级\"/>"
    "<Row 表格名称=\"耕地坡度分级面积汇总表\" statTbl=\"TDLY_GDPD\" shortName=\"坡度\"/>"
    "</AutoBuildList>";

// Jobs of years 2009 to 2013 in a run record; the years with a completed
// job whose last job finished, of county 330102, are 2009 and 2013.
void RecordJobs(db::Connection& database) {
  const struct {
    const char* year;
    const char* county;
    int outcome;  // -1 not finished
  } kJobs[] = {{"2009", "330102", 0}, {"2010", "330102", 1}, {"2010", "330102", -1},
               {"2011", "330102", 2}, {"2012", "330103", 0}, {"2013", "330102", 2},
               {"2013", "330102", 1}};
  for (const auto& job : kJobs) {
    const long id = BeginRunRecord(database, job.year, job.county, "run");
    if (job.outcome >= 0) FinishRunRecord(database, id, static_cast<RunOutcome>(job.outcome), 0);
  }
}

// Sets the server mode on the data source `name` in the program directory.
void UseServer(const std::string& name) {
  WriteFileBytes(fs::path(host::ProgramDir()) / "rivadoverid.ini",
                 "[数据源]\n模式=网络\n名称=" + name + "\n");
}

// A program directory of the test's own, a catalogue, a code table and a
// project of county 330102, and the dialog's messages recorded.
class PrintStatDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFileBytes(home_.File("catalogue.xml"), kCatalogue);
    codes_.reset(gis::RuralCode::FromEntries({{"地类代码", "011", "水田"},
                                              {"县行政代码", "330102", "示例县"},
                                              {"乡行政代码", "330102001", "一乡"}}));
    gis::WriteProjectFile(home_.File("project.xml"), "330102", "示例县", {});
    project_ = gis::CGisXmlPrj::Open(home_.File("project.xml"));
  }
  // A dialog of the mode on the fixture's files, initialised.
  std::unique_ptr<CPrintStatDlg> Dialog(int mode = 0) {
    auto dialog = std::make_unique<CPrintStatDlg>();
    dialog->m_pPrj = project_.get();
    dialog->m_strOutPath = home_.File("out");
    dialog->m_strTemplatePath = home_.File("missing.xlsx");
    dialog->m_strCatalogPath = home_.File("catalogue.xml");
    dialog->m_strDbPath = home_.path().string();
    dialog->m_pCode = codes_.get();
    dialog->m_nMode = mode;
    dialog->OnInitDialog();
    return dialog;
  }

  testing::ScopedProgramDir home_;
  host::RecordingNotifier notifier_;
  host::ScopedNotifier scoped_{notifier_};
  std::unique_ptr<gis::RuralCode> codes_;
  std::unique_ptr<gis::CGisXmlPrj> project_;
};

// A job's messages come while it runs, with events processed: the dialog is
// disabled then, and neither a second print nor closing gets through.
class JobProbe : public host::RecordingNotifier {
 public:
  explicit JobProbe(CPrintStatDlg& dialog) : dialog_(dialog) {}
  void Show(const std::string& text) override {
    host::RecordingNotifier::Show(text);
    if (!dialog_.InJob()) return;
    enabled_in_job.push_back(dialog_.isEnabled());
    dialog_.findChild<QPushButton*>("17057")->click();
    dialog_.reject();
  }
  std::vector<bool> enabled_in_job;

 private:
  CPrintStatDlg& dialog_;
};

// With the host's database open, the years are those its run record holds
// completed (a year whose last job did not finish is left out), and the
// reports come from that file. A report whose table the county's runs did
// not build, or whose writer this version lacks, is listed apart from the
// failures.
TEST_F(PrintStatDialogTest, TheHostsDatabaseGivesYearsAndTables) {
  std::string catalogue = kCatalogue;
  catalogue.insert(catalogue.rfind("</AutoBuildList>"),
                   "<Row 表格名称=\"土地利用现状变更平衡表\" statTbl=\"\" "
                   "shortName=\"平衡表\"/>");
  WriteFileBytes(home_.File("catalogue.xml"), catalogue);
  const std::string file = home_.File("stats.sqlite");
  ASSERT_EQ(CreateAcessDB(file), 1);
  {
    db::Connection database(file);
    RecordJobs(database);
    database.Execute("create table " +
                     TableNames(0, "2013", "330102").Summary('Z', kSquareMetre, "TDLY_YJFL") +
                     " (XZQDM varchar(19))");
  }
  auto scanned = Dialog();
  EXPECT_EQ(scanned->Combo(800)->count(), 0);  // no file named year and county
  const auto on_file = [&](const std::string& database, const std::string& folder = "") {
    auto opened = std::make_unique<CPrintStatDlg>();
    opened->m_strDbPath = folder;
    opened->m_pPrj = project_.get();
    opened->m_strOutPath = home_.File("out");
    opened->m_strCatalogPath = home_.File("catalogue.xml");
    opened->m_strDbFile = database;
    opened->OnInitDialog();
    return opened;
  };
  // A file without completed statistics of the county says so.
  ASSERT_EQ(CreateAcessDB(home_.File("empty.sqlite")), 1);
  EXPECT_EQ(on_file(home_.File("empty.sqlite"))->Combo(800)->count(), 0);
  EXPECT_EQ(notifier_.messages.back(), "统计数据库 " + home_.File("empty.sqlite") +
                                           " 中没有县 330102 完成的统计, 没有可以出表的年度");
  // One that cannot be read says why.
  WriteFileBytes(home_.File("damaged.sqlite"), std::string(4096, 'x'));
  EXPECT_EQ(on_file(home_.File("damaged.sqlite"))->Combo(800)->count(), 0);
  EXPECT_EQ(
      notifier_.messages.back().rfind(
          "读取统计年度失败: cannot read the years held in " + home_.File("damaged.sqlite"), 0),
      0u)
      << notifier_.messages.back();
  auto dialog = on_file(file);
  std::vector<std::string> years;
  for (int i = 0; i < dialog->Combo(800)->count(); ++i) {
    years.push_back(dialog->Combo(800)->itemText(i).toStdString());
  }
  // The file holds the statistics of its newest completed job only.
  EXPECT_EQ(years, (std::vector<std::string>{"2013"}));

  JobProbe probe(*dialog);
  host::ScopedNotifier scoped(probe);
  dialog->show();
  dialog->ApplyRegion("330102", "示例县");
  dialog->OnCheckAll();
  {
    // While a job holds the database its tables are being replaced: no print.
    RunWorkspace job(file, false, "2013", "330102", "run");
    std::string error;
    std::vector<std::string> notices;
    ASSERT_TRUE(job.Open({}, error, notices)) << error;
    dialog->OnPrint();
    EXPECT_EQ(dialog->LastRun().dispatched, 0);
    EXPECT_TRUE(dialog->Writers().Outcomes().empty());
    EXPECT_EQ(probe.messages.back(), "作业正在处理 " + file + ", 请在作业结束后再打印");
  }
  dialog->OnPrint();
  EXPECT_EQ(dialog->LastRun().connection, file);
  EXPECT_EQ(dialog->LastRun().dispatched, 0);
  // The stored table's report fails (no template), once; the others are
  // left out.
  EXPECT_EQ(dialog->Writers().Outcomes().size(), 1u);
  EXPECT_EQ(probe.enabled_in_job, (std::vector<bool>{false}));
  EXPECT_TRUE(dialog->isVisible());
  EXPECT_TRUE(dialog->isEnabled());
  ASSERT_FALSE(probe.messages.empty());
  EXPECT_EQ(probe.messages.back(),
            "没有写出报表\n1 个报表未能写出\n2 个报表的表格本县的统计没有生成\n表格本县的统计没有"
            "生成的报表:\n  耕地坡度分级面积汇总表 (TDLY_GDPD, not in the database)\n  "
            "土地利用现状变更平衡表 (no change records of 2013 (ndChange): the survey has no layer "
            "变更汇总)");

  // The county's files beside it give their years too, printed from their
  // own file; the open file's year comes first.
  const std::string year_file = home_.File("2009330102.sqlite");
  ASSERT_EQ(CreateAcessDB(year_file), 1);
  testing::RecordCompletedRun(year_file, "2009", "330102");
  auto beside = on_file(file, home_.path().string());
  EXPECT_EQ(beside->Combo(800)->count(), 2);
  EXPECT_EQ(beside->Combo(800)->currentText().toStdString(), "2013");
  beside->ApplyRegion("330102", "示例县");
  beside->OnCheckAll();
  for (const auto& [year, source] :
       std::vector<std::pair<std::string, std::string>>{{"2009", year_file}, {"2011", ""}}) {
    beside->Combo(800)->setEditText(QString::fromStdString(year));
    beside->OnPrint();
    if (source.empty()) {
      // A year no file holds is refused, saying so before the details.
      EXPECT_EQ(probe.messages.back().rfind("统计数据库中没有县 330102 2011 年完成的统计", 0), 0u)
          << probe.messages.back();
      EXPECT_FALSE(fs::exists(home_.File("2011330102.sqlite")));
    } else {
      EXPECT_NE(beside->LastRun().connection.find(source), std::string::npos)
          << beside->LastRun().connection;
    }
  }
}

TEST_F(PrintStatDialogTest, ModeDecidesTheRowsShown) {
  const struct {
    int mode;
    bool filters, checker, stat_type, mongol;
    const char* title;
  } kCases[] = {{0, false, true, true, false, "二次调查数据汇总表格"},
                {1, true, false, true, false, "权属争议与后备资源表格"},
                {2, false, true, false, true, "蒙古专有权属表格"}};
  for (const auto& c : kCases) {
    auto dialog = Dialog(c.mode);
    dialog->show();
    EXPECT_EQ(dialog->windowTitle().toStdString(), c.title);
    for (int id : {17033, 807, 17034, 808, 17036, 809}) {
      EXPECT_EQ(dialog->Control(id)->isVisible(), c.filters) << c.mode << " " << id;
    }
    for (int id : {17037, 805, 17038, 804, 17039, 806}) {
      EXPECT_EQ(dialog->Control(id)->isVisible(), c.checker) << c.mode << " " << id;
    }
    EXPECT_EQ(dialog->Control(17041)->isVisible(), c.stat_type) << c.mode;
    EXPECT_EQ(dialog->Control(17053)->isVisible(), c.mongol) << c.mode;
    EXPECT_EQ(dialog->ReportList()->count(), 2);
    EXPECT_EQ(dialog->Combo(802)->currentText().toStdString(), "平方米");
  }
  EXPECT_TRUE(notifier_.messages.empty());
}

TEST_F(PrintStatDialogTest, LevelsFollowTheCodeLengthAndMode) {
  const struct {
    int mode;
    std::string code;
    std::vector<std::string> levels;
  } kCases[] = {
      {0, "33", {"市级", "县(区)级", "乡(街道)级", "村(街坊)级", "小组级"}},
      {1, "3301", {"县(区)级", "乡(街道)级", "村(街坊)级", "小组级"}},
      {0, "330102", {"乡(街道)级", "村(街坊)级", "小组级"}},
      {0, "330102001", {"村(街坊)级", "小组级"}},
      {0, "330102001001", {"小组级"}},
      {0, "3301020", {}},
      {2, "150001", {"类别级", "管局级", "管局下属二级", "管局下属三级"}},
      {2, "15000101", {"管局级", "管局下属二级", "管局下属三级"}},
      {2, "1500010101", {"管局下属二级", "管局下属三级"}},
      {2, "1500010101001", {"管局下属三级"}},
      {2, "330102001", {}},
  };
  for (const auto& c : kCases) {
    auto dialog = Dialog(c.mode);
    dialog->ApplyRegion(c.code, "某地");
    std::vector<std::string> levels;
    for (int i = 0; i < dialog->Combo(801)->count(); ++i) {
      levels.push_back(dialog->Combo(801)->itemText(i).toStdString());
    }
    EXPECT_EQ(levels, c.levels) << c.mode << " " << c.code;
    EXPECT_EQ(dialog->Combo(801)->currentIndex(), c.levels.empty() ? -1 : 0);
  }
  // The chooser offers the administrative codes of the code table.
  auto dialog = Dialog();
  std::vector<std::string> offered;
  dialog->SetRegionChooser(
      [&](const std::vector<gis::CODESTRUCT>& codes, std::string& code, std::string& name) {
        for (const gis::CODESTRUCT& entry : codes) offered.push_back(entry.code);
        code = codes.back().code;
        name = codes.back().name;
        return true;
      });
  dialog->OnChooseRegion();
  EXPECT_EQ(offered, (std::vector<std::string>{"330102", "330102001"}));
  EXPECT_EQ(dialog->m_strRegionCode, "330102001");
  EXPECT_EQ(qobject_cast<QLineEdit*>(dialog->Control(17058))->text().toStdString(), "一乡");
  EXPECT_EQ(dialog->GetCodeName("330102"), "示例县");
  EXPECT_EQ(dialog->m_arrClassCodes, std::vector<std::string>{"011"});
}

TEST_F(PrintStatDialogTest, StatisticsTypesByConfiguredType) {
  const struct {
    int type;
    std::vector<std::string> items;
  } kCases[] = {{0, {"座落单位"}}, {1, {"权属单位"}}, {2, {"座落单位", "权属单位"}}};
  for (const auto& c : kCases) {
    ASSERT_TRUE(SetStatType(c.type));
    auto dialog = Dialog();
    std::vector<std::string> items;
    for (int i = 0; i < dialog->Combo(17041)->count(); ++i) {
      items.push_back(dialog->Combo(17041)->itemText(i).toStdString());
    }
    EXPECT_EQ(items, c.items) << c.type;
    EXPECT_EQ(dialog->Combo(17041)->currentIndex(), 0);
  }
}

TEST_F(PrintStatDialogTest, FiltersClearEachOtherAndNamesPersistOnCancel) {
  auto dialog = Dialog(1);
  const int kFilters[] = {807, 808, 809};
  for (int chosen : kFilters) {
    for (int id : kFilters) dialog->Combo(id)->setCurrentIndex(0);
    dialog->Combo(chosen)->setCurrentIndex(1);
    emit dialog->Combo(chosen)->activated(1);
    for (int id : kFilters) {
      EXPECT_EQ(dialog->Combo(id)->currentText().isEmpty(), id != chosen) << chosen << " " << id;
    }
  }
  qobject_cast<QLineEdit*>(dialog->Control(803))->setText(QString::fromUtf8("张三"));
  qobject_cast<QLineEdit*>(dialog->Control(805))->setText(QString::fromUtf8("李四"));
  dialog->show();
  dialog->findChild<QPushButton*>("2")->click();
  EXPECT_FALSE(dialog->isVisible());
  auto next = Dialog();
  EXPECT_EQ(qobject_cast<QLineEdit*>(next->Control(803))->text().toStdString(), "张三");
  EXPECT_EQ(qobject_cast<QLineEdit*>(next->Control(805))->text().toStdString(), "李四");
}

TEST_F(PrintStatDialogTest, PrintRefusesIncompleteChoices) {
  const std::string database = home_.File("2009330102.sqlite");
  ASSERT_EQ(CreateAcessDB(database), 1);
  auto dialog = Dialog();
  ASSERT_EQ(dialog->Combo(800)->currentText().toStdString(), "2009");
  dialog->OnPrint();
  dialog->ApplyRegion("330102", "示例县");
  dialog->OnPrint();
  dialog->OnCheckAll();
  dialog->Combo(800)->setEditText("09");
  dialog->OnPrint();
  EXPECT_EQ(notifier_.messages,
            (std::vector<std::string>{"请选择行政单位!", "请选择表格名称", "输入年度数据错误！"}));
  EXPECT_EQ(dialog->LastRun().dispatched, -1);

  // Check all, invert and clear act on every row.
  dialog->OnInvertChecks();
  EXPECT_EQ(dialog->ReportList()->item(0)->checkState(), Qt::Unchecked);
  dialog->ReportList()->item(1)->setCheckState(Qt::Checked);
  dialog->OnInvertChecks();
  EXPECT_EQ(dialog->ReportList()->item(0)->checkState(), Qt::Checked);
  EXPECT_EQ(dialog->ReportList()->item(1)->checkState(), Qt::Unchecked);
  dialog->OnClearChecks();
  EXPECT_EQ(dialog->ReportList()->item(0)->checkState(), Qt::Unchecked);

  const struct {
    const char* text;
    int unit;
  } kUnits[] = {{"平方米", 2}, {"亩", 1}, {"公顷", 0}, {"英亩", 2}, {"", 2}};
  for (const auto& c : kUnits) EXPECT_EQ(CPrintStatDlg::UnitOfChoice(c.text), c.unit) << c.text;

  UseServer("");
  notifier_.messages.clear();
  dialog->OnCheckAll();
  dialog->Combo(800)->setEditText("2009");
  dialog->OnPrint();
  EXPECT_EQ(notifier_.messages, std::vector<std::string>{"数据源为空"});
  EXPECT_EQ(dialog->LastRun().dispatched, -1);
}

// A missing catalogue opens the dialog with an empty list and says which
// file; a project without a county code asks for one.
TEST_F(PrintStatDialogTest, MissingCatalogueAndCountyCode) {
  CPrintStatDlg dialog;
  dialog.m_strCatalogPath = home_.File("none.xml");
  EXPECT_TRUE(dialog.OnInitDialog());
  EXPECT_EQ(dialog.ReportList()->count(), 0);
  ASSERT_EQ(notifier_.messages.size(), 1u);
  EXPECT_NE(notifier_.messages[0].find("none.xml"), std::string::npos);
  EXPECT_EQ(notifier_.questions, std::vector<std::string>{"从工程中取县级代码失败,是否手动填写?"});
  EXPECT_TRUE(dialog.m_strCounty.empty());
}

// The launchers end with 1 only on OK.
TEST_F(PrintStatDialogTest, LaunchersReturnOneOnlyOnOk) {
  using Launch = std::function<short()>;
  const std::string out = home_.File("out"), tmpl = home_.File("t.xlsx"),
                    cat = home_.File("catalogue.xml"), db = home_.path().string();
  const Launch kLaunchers[] = {
      [&] { return PrintStatDlg(project_.get(), out, "", tmpl, cat, db, codes_.get()); },
      [&] { return PrintStatDlgSHD(project_.get(), out, "", tmpl, cat, db, codes_.get()); },
      [&] {
        return PrintStatDlgMG(project_.get(), out, "", tmpl, cat, db, codes_.get(), codes_.get());
      }};
  for (const Launch& launch : kLaunchers) {
    for (bool ok : {true, false}) {
      QTimer::singleShot(0, [ok] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        if (ok) {
          dialog->accept();
        } else {
          dialog->findChild<QPushButton*>("2")->click();
        }
      });
      EXPECT_EQ(launch(), ok ? 1 : 0);
    }
  }
}

// The print run on each engine: without a database to open the error names
// it and nothing is said to be done; with one, the dialog says how many
// workbooks went where, and how many were not written, 查看 ticked or not.
class PrintStatDialogEngines : public testing::BothEngines {
 protected:
  void SetUpDatabase() override {
    WriteFileBytes(home_.File("catalogue.xml"), kCatalogue);
    SetStatType(1);
  }
  std::unique_ptr<CPrintStatDlg> Dialog() {
    auto dialog = std::make_unique<CPrintStatDlg>();
    dialog->m_strOutPath = home_.File("out");
    dialog->m_strCatalogPath = home_.File("catalogue.xml");
    dialog->m_strDbPath = home_.path().string();
    dialog->OnInitDialog();
    dialog->m_strCounty = "330102";
    dialog->ApplyRegion("330102", "示例县");
    dialog->OnCheckAll();
    dialog->Combo(800)->setEditText("2009");
    return dialog;
  }
  testing::ScopedProgramDir home_;
  host::RecordingNotifier notifier_;
  host::ScopedNotifier scoped_{notifier_};
};

TEST_P(PrintStatDialogEngines, DoneOnlyAfterTheDatabaseOpened) {
  if (IsServer()) UseServer("host=127.0.0.1 port=1 dbname=none connect_timeout=3");
  auto failing = Dialog();
  if (IsServer()) {
    // The year list stays empty, and says why.
    EXPECT_EQ(failing->Combo(800)->count(), 0);
  }
  notifier_.messages.clear();
  failing->findChild<QCheckBox*>("17005")->setChecked(false);
  failing->OnPrint();
  EXPECT_EQ(failing->LastRun().dispatched, 0);
  ASSERT_FALSE(notifier_.messages.empty());
  EXPECT_NE(notifier_.messages[0].find(IsServer() ? "127.0.0.1" : "2009330102.sqlite"),
            std::string::npos)
      << notifier_.messages[0];
  for (const std::string& message : notifier_.messages) {
    EXPECT_EQ(message.find("出表完成"), std::string::npos) << message;
  }

  if (IsServer()) {
    UseServer(database().ConnectionString());
  } else {
    ASSERT_EQ(CreateAcessDB(home_.File("2009330102.sqlite")), 1);
  }
  const std::string connection =
      IsServer() ? database().ConnectionString() : home_.File("2009330102.sqlite");
  // A database without the statistics of the year and county is refused,
  // naming what it holds.
  notifier_.messages.clear();
  auto refused = Dialog();
  refused->OnPrint();
  EXPECT_EQ(refused->LastRun().dispatched, 0);
  ASSERT_FALSE(notifier_.messages.empty());
  EXPECT_NE(notifier_.messages[0].find("not those of 2009 330102"), std::string::npos)
      << notifier_.messages[0];
  testing::RecordCompletedRun(connection, "2009", "330102");
  // The two reports' tables, in every unit, and a template with their sheets.
  db::Connection stats(IsServer() ? database().ConnectionString()
                                  : testing::JetConnectionString(home_.File("2009330102.sqlite")));
  const TableNames tables(Mode(), "2009", "330102");
  for (const char* base : {"TDLY_YJFL", "TDLY_GDPD"}) {
    for (short unit : {kHectare, kMu, kSquareMetre}) {
      stats.Execute("create table " + tables.Summary('Z', unit, base) +
                    " (XZQDM varchar(19), XZQMC varchar(60), XZQZMJ float)");
    }
  }
  stats.Close();
  const std::string tmpl = home_.File("模板.xlsx");
  report::Python("make " + report::Quoted(tmpl) +
                 " 农村土地利用现状一级分类面积汇总表 耕地坡度分级面积汇总表");
  for (const char* variant : {"(亩)", "(不分页)", "(亩不分页)"}) {
    fs::copy_file(tmpl, home_.File(std::string("模板") + variant + ".xlsx"));
  }
  for (bool fails : {true, false}) {
    for (bool view : {false, true}) {
      auto dialog = Dialog();
      if (!fails) dialog->m_strTemplatePath = tmpl;
      dialog->findChild<QCheckBox*>("17005")->setChecked(view);
      notifier_.messages.clear();
      dialog->OnPrint();
      const CPrintStatDlg::PrintRun& run = dialog->LastRun();
      EXPECT_EQ(run.dispatched, fails ? 0 : 1);
      EXPECT_EQ(run.folder, home_.File("out") + "/");
      EXPECT_EQ(run.server_names, IsServer() ? 1 : 0);
      EXPECT_EQ(run.connection, IsServer() ? database().ConnectionString()
                                           : "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" +
                                                 home_.File("2009330102.sqlite") +
                                                 ";Persist Security Info=False");
      EXPECT_EQ(dialog->Writers().Settings().Scope(), 'Q');
      ASSERT_FALSE(notifier_.messages.empty());
      const std::string out = fs::path(home_.File("out")).lexically_normal().string();
      // No program is set to show a workbook.
      EXPECT_EQ(notifier_.messages.back(),
                fails ? "没有写出报表\n2 个报表未能写出"
                      : "出表完成! 2 个报表已保存到 " + out +
                            (view ? "\n没有可以打开报表的程序, 请到该文件夹中查看" : ""));
    }
  }
}

TEST_P(PrintStatDialogEngines, CompletedYearsOfTheRunRecord) {
  EXPECT_TRUE(CompletedYears(conn(), "330102").empty());
  RecordJobs(conn());
  EXPECT_EQ(CompletedYears(conn(), "330102"), (std::vector<std::string>{"2009", "2013"}));
  EXPECT_EQ(CompletedYears(conn(), ""), (std::vector<std::string>{"2009", "2012", "2013"}));
}

LANDSTAT_BOTH_ENGINES(PrintStatDialogEngines);

// A print from the dialog on a generated county writes the same workbooks,
// with the same rows, as `landstat report` with the same choices.
TEST(PrintStatDialogCounty, PrintsWhatTheCommandLineWrites) {
  const fs::path templates = fs::path(LANDSTAT_SOURCE_DIR) / "src/resources/templates";
  testing::ScopedProgramDir home;
  testing::WriteStatConfig(testing::kThreeUnits);
  const testing::GeneratedCountyRun county(home, 19, 300);
  const std::string code = county.options.county_code;
  const std::string database = home.File("2009" + code + ".sqlite");
  ASSERT_EQ(CreateAcessDB(database), 1);
  ASSERT_EQ(county.Run("通用农村", testing::JetConnectionString(database), false), 1);
  host::RecordingNotifier notifier;
  host::ScopedNotifier scoped(notifier);

  const std::string catalogue = (templates / "二次详查表格目录.xml").string();
  const std::string tmpl = (templates / "二次详查表格.xlsx").string();
  CPrintStatDlg dialog;
  dialog.m_strOutPath = home.File("dialog");
  dialog.m_strTemplatePath = tmpl;
  dialog.m_strCatalogPath = catalogue;
  dialog.m_strDbPath = home.path().string();
  dialog.m_pCode = county.codes.get();
  dialog.OnInitDialog();
  dialog.m_strCounty = code;
  dialog.ApplyRegion(code, county.plan.county.name);
  dialog.Combo(801)->setCurrentText("村(街坊)级");
  dialog.Combo(802)->setCurrentText("亩");
  dialog.Combo(800)->setEditText("2009");
  dialog.findChild<QCheckBox*>("17005")->setChecked(false);
  dialog.OnCheckAll();
  dialog.OnPrint();
  ASSERT_GE(dialog.LastRun().dispatched, 0)
      << (notifier.messages.empty() ? "" : notifier.messages.front());

  const testing::Outcome cli = testing::RunProgram(LANDSTAT_CLI, {"report",
                                                                  "--db",
                                                                  database,
                                                                  "--year",
                                                                  "2009",
                                                                  "--county",
                                                                  code,
                                                                  "--codes",
                                                                  county.files.codes,
                                                                  "--home",
                                                                  home.path().string(),
                                                                  "--out",
                                                                  home.File("cli"),
                                                                  "--level",
                                                                  "村(街坊)级",
                                                                  "--unit",
                                                                  "亩",
                                                                  "--catalogue",
                                                                  catalogue,
                                                                  "--template",
                                                                  tmpl,
                                                                  "--quiet"});
  ASSERT_TRUE(cli.exit_code == 0 || cli.exit_code == 3) << cli.out << cli.err;
  // Each report not written is named once, and the summary says how many.
  for (std::size_t start = 0, end; start < cli.err.size(); start = end + 1) {
    end = std::min(cli.err.find('\n', start), cli.err.size());
    const std::string line = cli.err.substr(start, end - start);
    if (line.empty()) continue;
    const std::string both = cli.out + cli.err;
    std::size_t seen = 0;
    for (std::size_t at = both.find(line); at != std::string::npos; at = both.find(line, at + 1)) {
      ++seen;
    }
    EXPECT_EQ(seen, 1u) << line;
  }
  EXPECT_NE(cli.out.find(cli.exit_code == 3 ? "reports not written (reasons above)\n"
                                            : "workbooks written in"),
            std::string::npos)
      << cli.out;

  const auto books = [](const std::string& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
      names.insert(entry.path().filename().string());
    }
    return names;
  };
  const std::set<std::string> written = books(home.File("dialog"));
  ASSERT_GE(written.size(), 10u);
  ASSERT_FALSE(notifier.messages.empty());
  EXPECT_EQ(
      notifier.messages.back().substr(0, notifier.messages.back().find('\n')),
      "出表完成! " + std::to_string(written.size()) + " 个报表已保存到 " + home.File("dialog"));
  EXPECT_EQ(books(home.File("cli")), written);
  const std::string variant = (templates / "二次详查表格(亩).xlsx").string();
  const auto rows = [&](const std::string& folder) {  // by workbook, in one reading
    std::vector<std::string> paths;
    for (const std::string& book : written) paths.push_back(home.File(folder + "/" + book));
    std::map<std::string, std::string> by_book;
    for (auto& [path, text] : report::DataRowsOf(variant, paths)) {
      by_book[fs::path(path).filename().string()] = std::move(text);
    }
    return by_book;
  };
  const std::map<std::string, std::string> dialog_rows = rows("dialog"), cli_rows = rows("cli");
  for (const std::string& book : written) {
    EXPECT_EQ(dialog_rows.at(book), cli_rows.at(book)) << book;
  }

  // Each name carries the year, the unit and the level chosen.
  for (const std::string& book : written) {
    EXPECT_EQ(book.rfind("2009", 0), 0u) << book;
    EXPECT_NE(book.find("_亩_村(街坊)级.xlsx"), std::string::npos) << book;
  }

  // 查看 shows each workbook written, and says so when nothing can (one
  // report is enough). Printed again in another unit, it goes beside the
  // earlier workbook.
  const auto first =
      std::find_if(dialog.Writers().Outcomes().begin(), dialog.Writers().Outcomes().end(),
                   [](const report::ReportOutcome& o) { return o.Written(); });
  ASSERT_NE(first, dialog.Writers().Outcomes().end());
  const std::string report = first->name, book = fs::path(first->path).filename().string();
  dialog.OnClearChecks();
  dialog.ReportList()
      ->findItems(QString::fromStdString(report), Qt::MatchExactly)
      .front()
      ->setCheckState(Qt::Checked);
  std::vector<std::string> shown;
  dialog.SetViewer([&](const std::string& path) {
    shown.push_back(fs::path(path).filename().string());
    return false;
  });
  dialog.findChild<QCheckBox*>("17005")->setChecked(true);
  dialog.Combo(802)->setCurrentText("平方米");
  dialog.OnPrint();
  std::string again = book;
  again.replace(again.find("_亩_"), std::string("_亩_").size(), "_平方米_");
  EXPECT_EQ(shown, std::vector<std::string>{again});
  EXPECT_NE(notifier.messages.back().find("没有可以打开报表的程序"), std::string::npos);
  std::set<std::string> both = written;
  both.insert(again);
  EXPECT_EQ(books(home.File("dialog")), both);
}

}  // namespace
}  // namespace landstat
