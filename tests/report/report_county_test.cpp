#include <fmt/format.h>
#include <fmt/ranges.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "engine/survey_fixture.h"
#include "engine/table_names.h"
#include "landuse/generated_county_run.h"
#include "lots/town_lot_run.h"
#include "platform/db/backend.h"
#include "platform/db/reads_apart.h"
#include "platform/gis/project.h"
#include "platform/host/notifier.h"
#include "platform/host/paths.h"
#include "platform/sheet/workbook_package.h"
#include "platform/text/ascii_text.h"
#include "report/print_stat_dlg.h"
#include "report_readback.h"
#include "support/test_databases.h"

namespace landstat::report {
namespace {

namespace fs = std::filesystem;

// The rows of a table whose code starts with the region and is one of
// `lengths` long, in code order, their `columns` (a template's field row) as
// the readback prints them.
std::string QueryRows(db::Connection& conn, const std::string& sql, const std::string& region) {
  std::string expected;
  auto rows = conn.Scan(sql, {region + "%"});
  std::vector<db::Value> row;
  for (long bound = 0; rows->Fetch(row) && bound < 1000000; ++bound) {
    std::string line;
    for (std::size_t i = 0; i < row.size(); ++i) {
      if (i > 0) line += "|";
      if (row[i].IsInteger() || row[i].IsDouble()) {
        line += fmt::format("{:.4f}", row[i].AsDouble());
      } else if (!row[i].IsNull()) {
        line += row[i].AsText();
      }
    }
    while (!line.empty() && line.back() == '|') line.pop_back();
    expected += line + "\n";
  }
  return expected;
}

std::string ExpectedRows(db::Connection& conn, const std::string& table, const std::string& region,
                         const std::string& lengths, const std::string& columns) {
  return QueryRows(conn,
                   "select " + columns + " from " + table +
                       " where XZQDM like ? and length(XZQDM) in (" + lengths + ") order by XZQDM",
                   region);
}

// The single-table writers: the column the region prefix is matched on and
// the order of the rows.
struct PrefixWriter {
  const char* writer;
  const char* column;
  const char* order;
};
const PrefixWriter kPrefixWriters[] = {
    {"PrintFrdTable", "SZXZQDM", "SZXZQDM,SSXZQDM"},
    // Each place's parcels by number (9 before 10), read by the embedded engine.
    {"PrintLedgerTable", "座落单位代码",
     "座落单位代码,cast(图斑编号 as integer),图斑编号,权属单位代码,权属性质"},
    {"PrintTownHoldingAreaTable", "DJH", "DJH"},
    {"PrintJbntBlockStatTable", "BHKBH", "BHKBH"},
};

std::size_t Lines(const std::string& text) {
  return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

bool HasColumn(db::Connection& conn, const std::string& table, const std::string& column) {
  for (const db::ColumnInfo& info : conn.Columns(table)) {
    if (text::IEquals(info.name, column)) return true;
  }
  return false;
}

// The parts of a workbook by name (the archive's times left out).
std::map<std::string, std::string> Parts(const std::string& path) {
  sheet::WorkbookPackage book(path);
  std::map<std::string, std::string> parts;
  const zip_int64_t count = zip_get_num_entries(book.Archive(), 0);
  for (zip_int64_t i = 0; i < count; ++i) {
    const std::string name = zip_get_name(book.Archive(), static_cast<zip_uint64_t>(i), 0);
    parts[name] = book.ReadPart(name);
  }
  return parts;
}

const fs::path kTemplates = fs::path(LANDSTAT_SOURCE_DIR) / "src/resources/templates";

// A generated county's rural project run (both scopes, with the installation's
// scripts of both engines) and town-lot run on one engine, then every report of the shipped
// catalogue written for the county at the village level in mu, unpaged, in
// turn and several at a time, and those of the dispute and reserve catalogue
// in turn.
class CountyReports {
 public:
  CountyReports(const testing::GeneratedCountyRun& generated, db::DbKind kind, const fs::path& out)
      : database_(kind), server_(kind == db::DbKind::kServer) {
    const std::string county = generated.options.county_code;
    // The project's run, as the hosts make it: the farmland tables too.
    EXPECT_EQ(
        generated.RunProject("通用农村", database_.ConnectionString(), server_ ? 1 : 0).Result(),
        1);
    const auto project = gis::CGisXmlPrj::Open(generated.files.project);
    EXPECT_EQ(landStatDataZD(project.get(), generated.codes.get(), database_.ConnectionString(),
                             "2009", county, server_ ? 1 : 0, generated.log),
              1);
    dialog_.Settings().catalogue_path = (kTemplates / "二次详查表格目录.xml").string();
    dialog_.Settings().paged = false;
    dialog_.Settings().view = false;
    dialog_.Settings().output_level = "村(街坊)级";
    std::string error;
    const std::vector<std::string> reports =
        ReportCatalogNames(dialog_.Settings().catalogue_path, error);
    EXPECT_GE(reports.size(), 10u) << error;
    // Printed in turn first, then several workbooks at a time: the same
    // workbooks, outcomes and messages in the same order (a server's
    // messages go on with the statement's cursor, numbered on each
    // connection: their first lines are compared).
    const auto same = [](const std::string& message) {
      return message.substr(0, message.find('\n'));
    };
    const auto print = [&](const fs::path& folder, std::size_t workers) {
      host::RecordingNotifier notifier;
      host::ScopedNotifier scoped(notifier);
      db::SetWorkers(workers);
      dialog_.DispatchReportTables(folder.string(), database_.ConnectionString(), &reports,
                                   (kTemplates / "二次详查表格.xlsx").string(), county, kMu,
                                   server_ ? 1 : 0, "2009", county);
      db::SetWorkers(0);
      std::vector<std::string> messages;
      for (const std::string& message : notifier.messages) messages.push_back(same(message));
      return messages;
    };
    const std::vector<std::string> in_turn = print(out / "in-turn", 1);
    const std::vector<ReportOutcome> outcomes_in_turn = dialog_.Outcomes();
    EXPECT_EQ(print(out, 4), in_turn);
    EXPECT_EQ(dialog_.Outcomes().size(), outcomes_in_turn.size());
    for (std::size_t i = 0; i < std::min(outcomes_in_turn.size(), dialog_.Outcomes().size()); ++i) {
      const ReportOutcome& outcome = dialog_.Outcomes()[i];
      EXPECT_EQ(outcome.name, outcomes_in_turn[i].name);
      EXPECT_EQ(same(outcome.message), same(outcomes_in_turn[i].message));
      EXPECT_EQ(outcome.Written(), outcomes_in_turn[i].Written()) << outcome.name;
      if (!outcome.Written() || !outcomes_in_turn[i].Written()) continue;
      EXPECT_EQ(Parts(outcome.path), Parts(outcomes_in_turn[i].path)) << outcome.name;
      rows_[outcome.name] = DataRows(Variant(), outcome.path);
    }
    // The dispute and reserve reports (mode 1), in turn; those whose table
    // the runs do not build are refused (said to the recorder).
    host::RecordingNotifier refusals;
    host::ScopedNotifier scoped(refusals);
    dialog_.Settings().catalogue_path = (kTemplates / "权属争议表格目录.xml").string();
    dialog_.Settings().mode = 1;
    const std::vector<std::string> disputes =
        ReportCatalogNames(dialog_.Settings().catalogue_path, error);
    db::SetWorkers(1);
    dialog_.DispatchReportTables((out / "disputes").string(), database_.ConnectionString(),
                                 &disputes, (kTemplates / "二次详查表格.xlsx").string(), county,
                                 kMu, server_ ? 1 : 0, "2009", county);
    db::SetWorkers(0);
    for (const ReportOutcome& outcome : dialog_.Outcomes()) {
      if (outcome.Written()) rows_[outcome.name] = DataRows(Variant(), outcome.path);
    }
    dialog_.Settings().catalogue_path = (kTemplates / "二次详查表格目录.xml").string();
    dialog_.Settings().mode = 0;
  }

  static std::string Variant() {
    return TemplateVariant((kTemplates / "二次详查表格.xlsx").string(), VariantSet::kFour, false,
                           kMu);
  }
  const std::map<std::string, std::string>& Rows() const { return rows_; }
  std::set<std::string> Written() const {
    std::set<std::string> names;
    for (const auto& [name, rows] : rows_) names.insert(name);
    return names;
  }
  const CPrintStatDlg& Dialog() const { return dialog_; }
  // The run replaced the SQLite file: a new connection reads the new one.
  std::string ConnectionString() const { return database_.ConnectionString(); }

 private:
  testing::TestDatabase database_;
  bool server_;
  CPrintStatDlg dialog_;
  std::map<std::string, std::string> rows_;
};

// Every report of the shipped catalogues whose table the runs build is
// written on both engines with the same cells, in the same order, whatever
// order the server gives a table's columns; the summary reports hold exactly their table's
// rows of the county's county, township and village codes. A print of
// several workbooks at a time writes what a print in turn writes.
TEST(ReportCountyTest, EveryReportIsWrittenAlikeOnBothEngines) {
  if (!fs::exists(kTemplates / "二次详查表格目录.xml")) GTEST_SKIP() << "no report templates";
  testing::ScopedProgramDir home;
  testing::WriteStatConfig(std::string(testing::kThreeUnits) + "[TYPE]\nType=2\n");
  for (const char* scripts : {"Access", "SQL"}) {
    fs::copy(fs::path(LANDSTAT_SOURCE_DIR) / "src/resources/config" / scripts,
             fs::path(host::ConfigDir()) / scripts, fs::copy_options::recursive);
  }
  const testing::GeneratedCountyRun generated(home, 17, 400);
  const std::string county = generated.options.county_code;
  testing::TempDir out;

  const CountyReports embedded(generated, db::DbKind::kEmbedded, out.path() / "embedded");
  for (const char* name :
       {"批而未用面积汇总表", "农村土地利用现状二级分类面积按权属性质汇总表",
        "农村土地利用现状三级分类面积按权属性质汇总表", "城镇宗地土地用途汇总表"}) {
    EXPECT_EQ(embedded.Written().count(name), 1u) << name;
  }
  db::Connection result(embedded.ConnectionString());
  const TableNames names(0, "2009", county);
  long summaries = 0;
  for (const auto& [name, rows] : embedded.Rows()) {
    std::string stat_tbl, short_name;
    LookupReportCatalog(embedded.Dialog().Settings().catalogue_path, stat_tbl, short_name, name);
    const std::string table = names.Summary('Z', kMu, stat_tbl);
    if (embedded.Dialog().RouteOf(name).writer != std::string("PrintSummaryTable") ||
        !HasColumn(result, table, "XZQDM")) {
      continue;
    }
    ++summaries;
    const std::string expected =
        ExpectedRows(result, table, county, "6, 9, 12", FieldRow(CountyReports::Variant(), name));
    EXPECT_FALSE(expected.empty()) << name;
    EXPECT_EQ(rows, expected) << name;
  }
  EXPECT_GE(summaries, 10);

  // The ledger, enclave, town and farmland reports: written, with their
  // table's rows of the county (the joins and the house report, whose areas
  // are converted in the query, with as many rows as their main table).
  std::set<std::string> writers;
  for (const auto& [name, rows] : embedded.Rows()) {
    std::string stat_tbl, short_name;
    LookupReportCatalog(embedded.Dialog().Settings().catalogue_path, stat_tbl, short_name, name);
    const std::string writer = embedded.Dialog().RouteOf(name).writer;
    const auto simple = std::find_if(std::begin(kPrefixWriters), std::end(kPrefixWriters),
                                     [&](const PrefixWriter& w) { return writer == w.writer; });
    const std::string table = names.Summary('Z', kMu, stat_tbl);
    if (simple != std::end(kPrefixWriters)) {
      EXPECT_EQ(rows,
                QueryRows(result,
                          "select " + FieldRow(CountyReports::Variant(), name) + " from " + table +
                              " where " + simple->column + " like ? order by " + simple->order,
                          county))
          << name;
    } else if (writer == "PrintTownHouseTable" || writer == "PrintJbntRegionSummaryTable" ||
               writer == "PrintJbntBlockSummaryTable") {
      const std::string column = writer == "PrintTownHouseTable"          ? "隶属宗地"
                                 : writer == "PrintJbntBlockSummaryTable" ? "BHKBH"
                                                                          : "XZQDM";
      EXPECT_EQ(Lines(rows),
                Lines(QueryRows(result, "select 1 from " + table + " where " + column + " like ?",
                                county)))
          << name;
    } else {
      continue;
    }
    EXPECT_FALSE(rows.empty()) << name;
    writers.insert(writer);
  }
  EXPECT_EQ(writers.size(), 7u) << fmt::format("{}", fmt::join(writers, " "));

  if (testing::PostgresConninfo().empty()) GTEST_SKIP() << "no PostgreSQL server configured";
  const CountyReports server(generated, db::DbKind::kServer, out.path() / "server");
  EXPECT_EQ(server.Written(), embedded.Written());
  for (const ReportOutcome& outcome : server.Dialog().Outcomes()) {
    if (embedded.Written().count(outcome.name) && !outcome.Written()) {
      ADD_FAILURE() << outcome.message;
    }
  }
  for (const auto& [name, rows] : embedded.Rows()) {
    const auto found = server.Rows().find(name);
    if (found != server.Rows().end()) {
      EXPECT_EQ(found->second, rows) << name;
    }
  }
}

// The village and split reports of a generated county: the parcel area
// table of a village holds one parcel record per parcel of the village, the
// paged block summary one sheet per village of the blocks, LibreOffice reads
// the workbooks; of the catalogue's reports only the balance sheet has no
// writer.
TEST(ReportCountyTest, VillageAndSplitReportsAreWrittenAndRead) {
  if (!fs::exists(kTemplates / "二次详查表格目录.xml")) GTEST_SKIP() << "no report templates";
  testing::ScopedProgramDir home;
  testing::WriteStatConfig(std::string(testing::kThreeUnits) + "[TYPE]\nType=2\n");
  fs::copy(fs::path(LANDSTAT_SOURCE_DIR) / "src/resources/config/Access",
           fs::path(host::ConfigDir()) / "Access", fs::copy_options::recursive);
  const testing::GeneratedCountyRun generated(home, 19, 300);
  const std::string county = generated.options.county_code;
  testing::TestDatabase database(db::DbKind::kEmbedded);
  ASSERT_EQ(generated.RunProject("通用农村", database.ConnectionString(), 0).Result(), 1);
  db::Connection result(database.ConnectionString());
  const std::string village = testing::Texts(
      result,
      "select substr(min(座落单位代码), 1, 12) from statdata where length(座落单位代码) >= 12")[0];

  CPrintStatDlg dialog;
  dialog.Settings().catalogue_path = (kTemplates / "二次详查表格目录.xml").string();
  dialog.Settings().view = false;
  std::string error;
  const std::vector<std::string> all = ReportCatalogNames(dialog.Settings().catalogue_path, error);
  const ReportSelection selection =
      dialog.SelectReports(result, TableNames(0, "2009", county), kSquareMetre, all);
  // Every writer is in this version.
  EXPECT_TRUE(selection.unavailable.empty());

  testing::TempDir out;
  const std::string tmpl = (kTemplates / "二次详查表格.xlsx").string();
  const auto write = [&](const std::string& name, const std::string& region) {
    const std::vector<std::string> names{name};
    dialog.DispatchReportTables(out.path().string(), database.ConnectionString(), &names, tmpl,
                                region, kSquareMetre, 0, "2009", county);
    EXPECT_TRUE(dialog.Outcomes().back().Written()) << dialog.Outcomes().back().message;
    return dialog.Outcomes().back().path;
  };
  const std::string parcels = write("图斑面积表", village);
  std::size_t records = 0;
  std::istringstream lines(DataRows(tmpl, parcels));
  for (std::string line; std::getline(lines, line);) records += line.rfind('|', 0) != 0 ? 1 : 0;
  EXPECT_EQ(std::to_string(records),
            testing::Texts(result,
                           "select count(distinct 座落单位代码 || '/' || 图斑编号) from "
                           "statdata where 座落单位代码 like '" +
                               village + "%'")[0]);
  const std::string blocks = write("第二次全国土地调查基本农田调查汇总表(按保护块)", county);
  const std::string sheets =
      SplitRows(tmpl, blocks, "第二次全国土地调查基本农田调查汇总表(按保护块)");
  EXPECT_EQ(std::to_string(std::count(sheets.begin(), sheets.end(), '=')),
            testing::Texts(result, "select count(distinct 村级代码) from GQstatdata_jbnt")[0]);

  if (RunText("command -v libreoffice").empty()) GTEST_SKIP() << "libreoffice is not installed";
  RunText("cd " + Quoted(out.path().string()) +
          " && libreoffice --headless --convert-to csv --outdir csv *.xlsx >/dev/null 2>&1");
  for (const std::string& book : {parcels, blocks}) {
    const fs::path csv = out.path() / "csv" / fs::path(book).filename().replace_extension(".csv");
    EXPECT_TRUE(fs::exists(csv) && fs::file_size(csv) > 0) << csv;
  }
}

// Two counties of one city on one server: the second county's run leaves
// the first county's tables, shared code tables and reports as they were.
class ServerCountiesTest : public testing::BothEngines {};

TEST_P(ServerCountiesTest, SecondCountyOnTheServerLeavesTheFirstAsItWas) {
  if (!IsServer()) GTEST_SKIP() << "an SQLite file holds one county";
  const fs::path templates = fs::path(LANDSTAT_SOURCE_DIR) / "src/resources/templates";
  const std::string tmpl = (templates / "二次详查表格.xlsx").string();
  testing::ScopedProgramDir home;
  testing::WriteStatConfig(testing::kThreeUnits);
  const testing::GeneratedCountyRun first(home, 17, 200);
  const testing::GeneratedCountyRun second(home, 18, 200, "330103");
  const std::string county = first.options.county_code;
  ASSERT_EQ(first.Run("通用农村", database().ConnectionString(), true), 1);

  // Every row of the first county's tables and the readback of its reports.
  const auto snapshot = [&] {
    db::Connection result(database().ConnectionString());
    std::vector<std::string> held;
    for (const std::string& table : result.ListTables()) {
      if (table.find(county) == std::string::npos) continue;
      std::vector<std::string> rows = testing::Rows(result, "select * from " + table);
      std::sort(rows.begin(), rows.end());
      held.push_back(table);
      held.insert(held.end(), rows.begin(), rows.end());
    }
    CPrintStatDlg dialog;
    dialog.Settings().catalogue_path = (templates / "二次详查表格目录.xml").string();
    dialog.Settings().view = false;
    const std::vector<std::string> reports = {"权属单位代码表",
                                              "农村土地利用现状一级分类面积汇总表"};
    testing::TempDir out;
    EXPECT_EQ(dialog.DispatchReportTables(out.path().string(), database().ConnectionString(),
                                          &reports, tmpl, county, kMu, 1, "2009", county),
              1);
    for (const ReportOutcome& outcome : dialog.Outcomes()) {
      EXPECT_TRUE(outcome.Written()) << outcome.message;
      if (outcome.Written()) {
        held.push_back(DataRows(TemplateVariant(tmpl, VariantSet::kFour, true, kMu), outcome.path));
      }
    }
    return held;
  };
  const std::vector<std::string> before = snapshot();
  ASSERT_EQ(second.Run("通用农村", database().ConnectionString(), true), 1);
  EXPECT_EQ(snapshot(), before);
  db::Connection result(database().ConnectionString());
  EXPECT_EQ(testing::Texts(result,
                           "select count(*) from QSDMB where QSDWDM like '330102%' or QSDWDM like "
                           "'330103%'"),
            testing::Texts(result, "select count(*) - 2 from QSDMB"));
}

LANDSTAT_BOTH_ENGINES(ServerCountiesTest);

}  // namespace
}  // namespace landstat::report
