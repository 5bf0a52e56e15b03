// The layer browser without a screen: its tree, grid, map, outputs and the
// start of the 3D house-model program.

#include "ui/land_gis_doc_att_dialog.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QTimer>
#include <chrono>
#include <fstream>
#include <thread>

#include "engine/database_helpers.h"
#include "platform/db/connection.h"
#include "platform/gis/gis_fixtures.h"
#include "platform/gis/layers.h"
#include "platform/host/ini_file.h"
#include "platform/host/notifier.h"
#include "report/report_readback.h"
#include "support/program_dir.h"
#include "ui/house_model_start.h"

namespace landstat {
namespace {

namespace fs = std::filesystem;
using testing::WriteFileBytes;

TEST(TreeActionTest, DecisionTableInBothModes) {
  const struct {
    int mode;
    const char* parent;
    TreeAction action;
  } kRows[] = {
      {1, "面积统计", TreeAction::kAreaStat},
      {1, "project.xml", TreeAction::kOpenLayer},
      {1, "三维模型", TreeAction::kOpenLayer},
      {1, "", TreeAction::kOpenLayer},
      {0, "导入范围 面积统计", TreeAction::kOpenLayer},
      {2, "面积统计", TreeAction::kAreaStatWithoutLayer},
      {0, "三维模型", TreeAction::kHouseModel},
      {0, "project.xml", TreeAction::kNothing},
      {0, "", TreeAction::kNothing},
  };
  for (const auto& row : kRows) {
    EXPECT_EQ(DecideTreeAction(row.mode, row.parent), row.action) << row.mode << row.parent;
  }
}

// A project of three layers in one GeoPackage: parcels whose records 1 and
// 2 are gone and whose record 5 has no geometry, one house, and an empty
// layer; a statistics file, a template, a table list and a catalogue of
// one title; a code file.
class LayerBrowserTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string gpkg = home_.File("survey.gpkg");
    using testing::FixtureFeature;
    const std::vector<testing::FixtureField> fields = {{"DLBM"}, {"ZLDWMC"}};
    testing::WriteFixtureLayer(
        gpkg, "地类图斑", wkbPolygon, fields,
        {{"POLYGON ((0 0,1 0,1 1,0 1,0 0))", {{"DLBM", "011"}, {"ZLDWMC", "一村"}}},
         {"POLYGON ((1 0,2 0,2 1,1 1,1 0))", {{"DLBM", "012"}, {"ZLDWMC", "一村"}}},
         {"POLYGON ((0 1,1 1,1 2,0 2,0 1))", {{"DLBM", "013"}, {"ZLDWMC", "二村"}}},
         {"POLYGON ((1 1,2 1,2 2,1 2,1 1))", {{"DLBM", "021"}, {"ZLDWMC", "二村"}}},
         {"", {{"DLBM", "031"}, {"ZLDWMC", "三村"}}}});
    testing::DeleteFixtureFeature(gpkg, "地类图斑", 1);
    testing::DeleteFixtureFeature(gpkg, "地类图斑", 2);
    testing::WriteFixtureLayer(gpkg, "房屋层", wkbPolygon, {{"FWBH"}},
                               {{"POLYGON ((0 0,1 0,1 1,0 0))", {{"FWBH", "1"}}},
                                {"POLYGON ((0 0,1 0,0 0))", {{"FWBH", "2"}}}});
    testing::WriteFixtureLayer(gpkg, "空层", wkbPolygon, {{"A"}}, {});
    WriteFileBytes(home_.File("project.xml"),
                   "<GisProject sCode=\"330102\">"
                   "<Layer name=\"地类图斑\" source=\"survey.gpkg\"/>"
                   "<Layer name=\"房屋层\" source=\"survey.gpkg\"/>"
                   "<Layer name=\"空层\" source=\"survey.gpkg\"/></GisProject>");
    WriteFileBytes(home_.File("codes.tsv"), "地类代码\t011\t水田\n县行政代码\t330102\t示例县\n");

    ASSERT_EQ(CreateAcessDB(home_.File("stats.sqlite")), 1);
    db::Connection db(home_.File("stats.sqlite"));
    db.Execute("create table ZMUTDLY_YJFL (XZQDM text, XZQMC text, XZQZMJ double)");
    db.Execute("insert into ZMUTDLY_YJFL values ('330102','县',3),('330102001','乡',2)");
    db.Close();
    report::Python("make " + report::Quoted(home_.File("t.xlsx")) + " 一级表");
    WriteFileBytes(home_.File("list.xml"),
                   "<L><Row 表格名称=\"一级表\" statTbl=\"TDLY_YJFL\" shortName=\"一级\"/></L>");
    WriteFileBytes(
        home_.File("catalogue.xml"),
        "<C><I tDemo=\"一级表\" database=\"stats.sqlite\" strTableName=\"list.xml\"/></C>");
  }

  // The browser on `document`, initialised, its workbooks recorded.
  std::unique_ptr<CLandGisDocAttDlg> Browser(const std::string& document) {
    auto dialog = std::make_unique<CLandGisDocAttDlg>();
    dialog->m_strDocPath = document;
    dialog->m_pTitles = &titles_;
    dialog->m_strTemplatePath = home_.File("t.xlsx");
    dialog->m_strCatalogPath = home_.File("catalogue.xml");
    dialog->SetViewer([this](const std::string& path) {
      shown_.push_back(path);
      return true;
    });
    dialog->OnInitDialog();
    return dialog;
  }
  void DoubleClick(CLandGisDocAttDlg& dialog, const std::string& item) {
    QTreeWidgetItem* found = dialog.Tree()->FindItem(item);
    ASSERT_NE(found, nullptr) << item;
    dialog.Tree()->OnDoubleClick(found);
  }

  testing::ScopedProgramDir home_;
  host::RecordingNotifier notifier_;
  host::ScopedNotifier scoped_{notifier_};
  std::vector<std::string> titles_ = {"一级表"};
  std::vector<std::string> shown_;
};

TEST_F(LayerBrowserTest, TreeGridMapAndOutputs) {
  testing::ScopedTraceCapture trace;
  auto browser = Browser(home_.File("project.xml"));
  CGisAttDocTree& tree = *browser->Tree();
  ASSERT_EQ(tree.topLevelItemCount(), 3);
  EXPECT_EQ(tree.topLevelItem(0)->childCount(), 3);
  EXPECT_EQ(tree.topLevelItem(1)->text(0).toStdString(), "面积统计");
  EXPECT_EQ(tree.topLevelItem(2)->child(0)->text(0).toStdString(), "房屋模型");

  // Nothing to output before a layer is opened.
  browser->OnStatOutput();
  EXPECT_EQ(notifier_.messages, (std::vector<std::string>{"当前无数据可输出!"}));
  EXPECT_DOUBLE_EQ(browser->m_dRatioY, 1.0);

  // The parcels: records 1 and 2 do not read, the header comes from 3.
  DoubleClick(*browser, "地类图斑");
  CGisAttGridCtrl& grid = *browser->Grid();
  EXPECT_DOUBLE_EQ(browser->m_dRatioY, 0.5);
  ASSERT_EQ(grid.GetRowCount(), 5);
  ASSERT_EQ(grid.GetColumnCount(), 3);
  EXPECT_EQ(grid.GetItemText(0, 1), "DLBM");
  const long kRecords[] = {0, 3, 4, 5, 0};
  for (int row = 0; row < 5; ++row) EXPECT_EQ(grid.GetItemData(row), kRecords[row]) << row;
  EXPECT_EQ(grid.GetItemText(1, 1), "013");
  EXPECT_EQ(grid.GetItemText(3, 2), "三村");
  EXPECT_EQ(grid.GetItemText(4, 1), "");

  // A row flashes its entity; the empty last row does not.
  grid.OnRowClicked(2);
  EXPECT_EQ(browser->MapView()->FlashingRecord(), 4);
  grid.OnRowClicked(4);
  EXPECT_EQ(browser->MapView()->FlashingRecord(), 0);
  // Drawn: two parcels and a house; parcel 5 without geometry and house 2
  // of a three-point ring are left out, named.
  EXPECT_EQ(browser->MapView()->DrawnCount(), 3);
  EXPECT_EQ(browser->MapView()->BrokenCount(), 2);
  for (const char* left_out : {"地类图斑 记录 5 的图形不能绘制 (no geometry)",
                               "房屋层 记录 2 的图形不能绘制 (a ring of fewer than four points)"}) {
    const bool named = std::any_of(trace.lines.begin(), trace.lines.end(), [&](const auto& line) {
      return line.find(left_out) != std::string::npos;
    });
    EXPECT_TRUE(named) << left_out;
  }

  // The grid's columns into a new workbook, codes kept as text.
  browser->OnStatOutput();
  ASSERT_EQ(shown_.size(), 1u);
  EXPECT_EQ(shown_[0], home_.File("地类图斑属性.xlsx"));
  EXPECT_EQ(
      report::RunText(
          "/usr/bin/python3 -c \"import openpyxl,sys; "
          "ws=openpyxl.load_workbook(sys.argv[1]).active; "
          "[print('|'.join(str(v or '') for v in r)) for r in ws.iter_rows(values_only=True)]\" " +
          report::Quoted(shown_[0])),
      "DLBM|ZLDWMC\n013|二村\n021|二村\n031|三村\n|\n");

  // The map into a PDF file.
  browser->SetPdfChooser([this] { return home_.File("map.pdf"); });
  browser->OnPrintOut();
  std::ifstream pdf(home_.File("map.pdf"));
  std::string magic(4, ' ');
  pdf.read(magic.data(), 4);
  EXPECT_EQ(magic, "%PDF");

  // A name that is no layer (房屋模型 in browse mode) and an empty layer
  // leave the empty frame.
  for (const char* item : {"房屋模型", "空层"}) {
    DoubleClick(*browser, item);
    EXPECT_EQ(grid.GetRowCount(), 2) << item;
    EXPECT_EQ(grid.GetColumnCount(), 3) << item;
  }

  // A title: the combos choose mu, the county level and the Z tables.
  browser->Combo(802)->setCurrentIndex(1);
  browser->Combo(801)->setCurrentIndex(1);
  DoubleClick(*browser, "一级表");
  ASSERT_EQ(shown_.size(), 2u) << (notifier_.messages.empty() ? "" : notifier_.messages.back());
  EXPECT_EQ(shown_[1], home_.File("一级表MU.xlsx"));
  EXPECT_EQ(browser->m_nUnit, 1);
  EXPECT_EQ(report::DataRows(home_.File("t.xlsx"), shown_[1]), "330102|县|3.0000\n");
}

TEST_F(LayerBrowserTest, DocumentThatDoesNotOpenAndCodeTables) {
  auto missing = Browser(home_.File("none.xml"));
  ASSERT_EQ(missing->Tree()->topLevelItemCount(), 1);
  EXPECT_EQ(missing->Tree()->topLevelItem(0)->text(0).toStdString(), "面积统计");
  ASSERT_EQ(notifier_.messages.size(), 1u);
  EXPECT_NE(notifier_.messages[0].find("none.xml"), std::string::npos);

  // The second launcher's code file makes a code table the browser frees;
  // an empty list makes none.
  CLandGisDocAttDlg made;
  made.m_strDocPath = home_.File("project.xml");
  made.m_arrCodeFiles = {home_.File("codes.tsv")};
  made.OnInitDialog();
  EXPECT_NE(made.m_pCode, nullptr);
  EXPECT_TRUE(made.OwnsCodeTable());
  made.OnDestroy();
  EXPECT_EQ(made.m_pCode, nullptr);

  bool ran = false;
  QTimer::singleShot(0, [&] {
    auto* dialog = dynamic_cast<CLandGisDocAttDlg*>(QApplication::activeModalWidget());
    if (dialog == nullptr) return;
    ran = true;
    EXPECT_EQ(dialog->m_pCode, nullptr);
    EXPECT_FALSE(dialog->OwnsCodeTable());
    dialog->reject();
  });
  LandGisDocAttDlg(home_.File("project.xml").c_str(), &titles_, "", "", std::vector<std::string>{});
  EXPECT_TRUE(ran);
}

TEST_F(LayerBrowserTest, HouseModelStart) {
  auto project = gis::CGisXmlPrj::Open(home_.File("project.xml"));
  const std::string kSetting = "host.ini 的 [三维模型] 程序";
  ASSERT_FALSE(StartHouseModel(*project));
  EXPECT_NE(notifier_.messages.back().find(kSetting), std::string::npos);
  host::LindoWriteINI(kHouseModelSection, kHouseModelKey, home_.File("none/ModelForge"));
  ASSERT_FALSE(StartHouseModel(*project));
  EXPECT_NE(notifier_.messages.back().find(home_.File("none/ModelForge")), std::string::npos);

  // A program in a folder with blanks records its arguments.
  const std::string script = home_.File("3D Module/Model Forge.sh");
  WriteFileBytes(script,
                 "#!/bin/sh\nprintf '%s\\n' \"$#\" \"$@\" > \"$(dirname \"$0\")/args.tmp\"\n"
                 "mv \"$(dirname \"$0\")/args.tmp\" \"$(dirname \"$0\")/args.txt\"\n");
  fs::permissions(script, fs::perms::owner_all);
  host::LindoWriteINI(kHouseModelSection, kHouseModelKey, script);
  ASSERT_TRUE(StartHouseModel(*project)) << notifier_.messages.back();
  const fs::path args = home_.File("3D Module/args.txt");
  for (int waited = 0; waited < 100 && !fs::exists(args); ++waited) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  // One argument: the houses' source, then the lawn, roads and trees the
  // project lacks.
  EXPECT_EQ(report::RunText("cat " + report::Quoted(args.string())),
            "1\n" + home_.File("survey.gpkg") + "||||\n");

  // No houses layer, and a houses layer without houses.
  for (const auto& [layer, message] :
       {std::pair{"道路", "房屋层工作区不存在！"}, std::pair{"空层", "房屋层工作区没有实体！"}}) {
    WriteFileBytes(home_.File("p2.xml"),
                   std::string("<GisProject><Layer name=\"") +
                       (std::string(layer) == "空层" ? "房屋层" : layer) +
                       "\" source=\"survey.gpkg\" table=\"空层\"/></GisProject>");
    auto other = gis::CGisXmlPrj::Open(home_.File("p2.xml"));
    EXPECT_FALSE(StartHouseModel(*other));
    EXPECT_EQ(notifier_.messages.back(), message);
  }
}

}  // namespace
}  // namespace landstat
