// The dispatch of a print run's report names to the writers.

#include <algorithm>
#include <initializer_list>

#include "engine/table_family.h"
#include "engine/table_names.h"
#include "platform/db/db_error.h"
#include "platform/host/host_settings.h"
#include "platform/host/notifier.h"
#include "report/print_stat_dlg.h"

namespace landstat::report {

namespace {

using Writer = short (CPrintStatDlg::*)(db::Connection&, const std::string&, const std::string&,
                                        const std::string&, const std::string&, int, int,
                                        const std::string&, const std::string&);

// The writers by name; those without a member are written by a later part
// of the system, and a name routed to one of them is refused, named.
struct WriterEntry {
  const char* name;
  Writer writer;
};

const WriterEntry kWriters[] = {
    {"PrintSummaryTable", &CPrintStatDlg::PrintSummaryTable},
    {"PrintBureauSummaryTable", &CPrintStatDlg::PrintBureauSummaryTable},
    {"PrintCodeListTable", &CPrintStatDlg::PrintCodeListTable},
    {"PrintDisputeAreaTable", &CPrintStatDlg::PrintDisputeAreaTable},
    {"PrintDisputeLedgerTable", &CPrintStatDlg::PrintDisputeLedgerTable},
    {"PrintReserveDisputeTable", &CPrintStatDlg::PrintReserveDisputeTable},
    {"PrintFrdTable", &CPrintStatDlg::PrintFrdTable},
    {"PrintLedgerTable", &CPrintStatDlg::PrintLedgerTable},
    {"PrintMgLedgerTable", &CPrintStatDlg::PrintMgLedgerTable},
    {"PrintBalanceSheet", &CPrintStatDlg::PrintBalanceSheet},
    {"PrintTownHoldingAreaTable", &CPrintStatDlg::PrintTownHoldingAreaTable},
    {"PrintJbntBlockStatTable", &CPrintStatDlg::PrintJbntBlockStatTable},
    {"PrintJbntSurveyBeforeTable", &CPrintStatDlg::PrintJbntSurveyBeforeTable},
    {"PrintJbntSurveyAfterTable", &CPrintStatDlg::PrintJbntSurveyAfterTable},
    {"PrintJbntBlockSummaryTable", &CPrintStatDlg::PrintJbntBlockSummaryTable},
    {"PrintJbntRegionSummaryTable", &CPrintStatDlg::PrintJbntRegionSummaryTable},
    {"PrintJbntBlockSummarySplit", &CPrintStatDlg::PrintJbntBlockSummarySplit},
    {"PrintTownHouseTable", &CPrintStatDlg::PrintTownHouseTable},
    {"PrintParcelAreaTable", &CPrintStatDlg::PrintParcelAreaTable},
    {"PrintDisputeJbntBlockTable", &CPrintStatDlg::PrintDisputeJbntBlockTable},
};

enum class Test { kContains, kEquals, kAny };
enum class When { kAlways, kPaged, kUnpaged, kSecondCodeTable };
constexpr int kAnyMode = -1;

// One line of the rules: the first line whose test, mode and condition
// hold decides; a null writer means no report, without a message.
struct Rule {
  int number;
  Test test;
  std::initializer_list<const char*> texts;
  int mode;
  When when;
  const char* writer;
};

const Rule kRules[] = {
    {1, Test::kContains, {"飞入"}, kAnyMode, When::kAlways, "PrintFrdTable"},
    {2, Test::kContains, {"台帐"}, 0, When::kAlways, "PrintLedgerTable"},
    {2, Test::kEquals, {"农村土地利用台帐(权属争议)"}, 1, When::kAlways, "PrintDisputeLedgerTable"},
    {2, Test::kContains, {"台帐"}, 1, When::kAlways, nullptr},
    {2, Test::kContains, {"台帐"}, 2, When::kSecondCodeTable, "PrintMgLedgerTable"},
    {2, Test::kContains, {"台帐"}, 2, When::kAlways, nullptr},
    {3, Test::kContains, {"平衡表"}, kAnyMode, When::kAlways, "PrintBalanceSheet"},
    {4,
     Test::kEquals,
     {"城镇宗地面积汇总表"},
     kAnyMode,
     When::kAlways,
     "PrintTownHoldingAreaTable"},
    {5,
     Test::kEquals,
     {"基本农田情况统计表(按保护块)", "第二次全国土地调查基本农田调查统计表"},
     kAnyMode,
     When::kAlways,
     "PrintJbntBlockStatTable"},
    {6,
     Test::kEquals,
     {"第二次全国土地调查基本农田调查统计表(补划前)"},
     kAnyMode,
     When::kAlways,
     "PrintJbntSurveyBeforeTable"},
    {7,
     Test::kEquals,
     {"第二次全国土地调查基本农田调查统计表(补划后)"},
     kAnyMode,
     When::kAlways,
     "PrintJbntSurveyAfterTable"},
    {8,
     Test::kEquals,
     {"浙江基本农田情况统计表(按保护块)"},
     kAnyMode,
     When::kAlways,
     "PrintJbntBlockSummaryTable"},
    {9,
     Test::kEquals,
     {"浙江基本农田情况统计表(按行政区)"},
     kAnyMode,
     When::kAlways,
     "PrintJbntRegionSummaryTable"},
    {10,
     Test::kEquals,
     {"第二次全国土地调查基本农田调查汇总表(按保护块)"},
     kAnyMode,
     When::kPaged,
     "PrintJbntBlockSummarySplit"},
    {10,
     Test::kEquals,
     {"第二次全国土地调查基本农田调查汇总表(按保护块)"},
     kAnyMode,
     When::kUnpaged,
     "PrintJbntBlockSummaryTable"},
    {11,
     Test::kEquals,
     {"第二次全国土地调查基本农田调查汇总表(按行政区)"},
     kAnyMode,
     When::kAlways,
     "PrintJbntRegionSummaryTable"},
    {12, Test::kEquals, {"城镇房屋信息汇总表"}, kAnyMode, When::kAlways, "PrintTownHouseTable"},
    {13,
     Test::kContains,
     {"权属单位代码表", "批而未用面积汇总表", "土地登记信息汇总表"},
     kAnyMode,
     When::kAlways,
     "PrintCodeListTable"},
    {14, Test::kEquals, {"图斑面积表"}, kAnyMode, When::kAlways, "PrintParcelAreaTable"},
    {15,
     Test::kEquals,
     {"权属争议基本农田情况统计表(按保护块)"},
     1,
     When::kAlways,
     "PrintDisputeJbntBlockTable"},
    {16, Test::kEquals, {"权属争议调查表"}, 1, When::kAlways, "PrintCodeListTable"},
    {17,
     Test::kEquals,
     {"农村土地利用现状一级分类面积汇总表(按权属争议区编号)"},
     1,
     When::kAlways,
     "PrintDisputeAreaTable"},
    {18, Test::kContains, {"权属争议", "耕地后备"}, 1, When::kAlways, "PrintReserveDisputeTable"},
    {19, Test::kAny, {}, 1, When::kAlways, "PrintSummaryTable"},
    {20, Test::kAny, {}, 2, When::kSecondCodeTable, "PrintBureauSummaryTable"},
    {20, Test::kAny, {}, 2, When::kAlways, nullptr},
    {21, Test::kAny, {}, 0, When::kAlways, "PrintSummaryTable"},
};

bool NameMatches(const Rule& rule, const std::string& name) {
  if (rule.test == Test::kAny) return true;
  return std::any_of(rule.texts.begin(), rule.texts.end(), [&](const char* text) {
    return rule.test == Test::kEquals ? name == text : name.find(text) != std::string::npos;
  });
}

bool ConditionHolds(When when, const ReportSettings& settings) {
  switch (when) {
    case When::kAlways:
      return true;
    case When::kPaged:
      return settings.paged;
    case When::kUnpaged:
      return !settings.paged;
    case When::kSecondCodeTable:
      return settings.second_code_table;
  }
  return false;
}

}  // namespace

CPrintStatDlg::Route CPrintStatDlg::RouteOf(const std::string& name) const {
  for (const Rule& rule : kRules) {
    if ((rule.mode == kAnyMode || rule.mode == settings_.mode) && NameMatches(rule, name) &&
        ConditionHolds(rule.when, settings_)) {
      return {rule.number, rule.writer};
    }
  }
  return {};
}

bool CPrintStatDlg::WriterAvailable(const char* writer) {
  return writer != nullptr &&
         std::any_of(std::begin(kWriters), std::end(kWriters), [&](const WriterEntry& e) {
           return std::string_view(e.name) == writer && e.writer != nullptr;
         });
}

short CPrintStatDlg::DispatchReportTables(const std::string& output_folder,
                                          const std::string& connection,
                                          const std::vector<std::string>* names,
                                          const std::string& template_path,
                                          const std::string& region_code, int unit,
                                          int server_names, const std::string& year,
                                          const std::string& county) {
  outcomes_.clear();
  db::Connection database;
  try {
    database.Open(connection);
  } catch (const db::DbError& error) {
    host::AfxMessageBox(error.what());
    return 0;
  }
  for (const std::string& name : *names) {
    const Route route = RouteOf(name);
    if (route.writer == nullptr) continue;  // no report for this name in this mode
    const auto entry = std::find_if(
        std::begin(kWriters), std::end(kWriters),
        [&](const WriterEntry& e) { return std::string_view(e.name) == route.writer; });
    if (entry == std::end(kWriters) || entry->writer == nullptr) {
      Refuse(name, "report " + name + ": its writer " + route.writer + " (rule " +
                       std::to_string(route.rule) + ") is not available in this version");
      continue;
    }
    try {
      (this->*(entry->writer))(database, output_folder, template_path, name, region_code, unit,
                               server_names, year, county);
    } catch (const std::exception& failure) {
      // What a writer did not catch while it made its plan.
      Refuse(name, "report " + name + ": " + failure.what());
    }
  }
  database.Close();
  return Failures() == 0 ? 1 : 0;
}

namespace {

// Whether the report's table is stored in any form a writer reads: by
// location or ownership, a unit table, or under its plain name.
bool TableStored(db::Connection& database, const TableNames& names, short unit,
                 const std::string& base) {
  if (base.empty()) return false;
  const std::string forms[] = {names.Summary('Z', unit, base),
                               names.Summary('Q', unit, base),
                               names.ReserveUnit(unit, base),
                               names.UnitCopy(unit, base),
                               names.Plain(base),
                               base};
  return std::any_of(std::begin(forms), std::end(forms), [&](const std::string& table) {
    return !table.empty() && database.TableExists(table);
  });
}

// The tables a writer reads besides the catalogue's, or instead of it.
struct WriterTables {
  const char* writer;
  const char* table;
  bool instead;        // the catalogue's table is none the writer reads
  bool square_metres;  // stored in square metres only
};

const WriterTables kWriterTables[] = {
    {"PrintJbntSurveyBeforeTable", "JBNTKTZGD", false, false},
    {"PrintJbntSurveyAfterTable", "JBNTKTZGDBHH", false, false},
    {"PrintJbntRegionSummaryTable", "JBNTKTZ", false, false},
    {"PrintJbntBlockSummaryTable", "BHKKTZ", false, false},
    {"PrintJbntBlockSummarySplit", "BHKKTZ", false, false},
    {"PrintParcelAreaTable", "statdata", true, false},
    {"PrintMgLedgerTable", "TDLYTZMG", true, true},
};

// The tables `writer` reads for a report whose catalogue names `stat_tbl`,
// each with the unit it is read in.
std::vector<std::pair<std::string, short>> TablesRead(const char* writer,
                                                      const std::string& stat_tbl, short unit) {
  std::vector<std::pair<std::string, short>> tables;
  const auto found = std::find_if(
      std::begin(kWriterTables), std::end(kWriterTables), [&](const WriterTables& entry) {
        return writer != nullptr && std::string_view(entry.writer) == writer;
      });
  if (found == std::end(kWriterTables) || !found->instead) tables.emplace_back(stat_tbl, unit);
  if (found != std::end(kWriterTables)) {
    tables.emplace_back(found->table, found->square_metres ? kSquareMetre : unit);
  }
  return tables;
}

// "TDLY_YJFL, built by a 通用城镇 run", from the registered families.
std::string BuiltBy(const std::string& base) {
  if (base.empty()) return "no table of its own is built yet";
  const std::vector<std::string> runs = RunsBuilding(base);
  if (runs.empty()) return base + ", not in the database";
  std::string text = base + ", built by ";
  for (std::size_t i = 0; i < runs.size(); ++i) {
    if (i > 0) text += " or ";
    text +=
        runs[i] == "landstat town" ? "the town-lot run (landstat town)" : "a " + runs[i] + " run";
  }
  return text;
}

}  // namespace

ReportSelection CPrintStatDlg::SelectReports(db::Connection& database,
                                             const TableNames& table_names, short unit,
                                             const std::vector<std::string>& names) const {
  ReportSelection selection;
  const RunVariant configured{host::HostVersion()};
  for (const std::string& name : names) {
    const char* writer = RouteOf(name).writer;
    std::string stat_tbl, short_name;
    const bool listed =
        LookupReportCatalog(settings_.catalogue_path, stat_tbl, short_name, name) != 0;
    if (!listed) {
      selection.writable.push_back(name);
    } else if (writer != nullptr && !WriterAvailable(writer)) {
      selection.unavailable.push_back(
          {name, std::string("its writer ") + writer + " is not in this version"});
    } else if (writer == nullptr) {
      selection.writable.push_back(name);
    } else if (std::string_view(writer) == "PrintBalanceSheet") {
      // The balance sheet reads two years' tables, not one summary table.
      std::string missing = BalanceSheetInputsMissing(database, table_names);
      if (missing.empty()) {
        selection.writable.push_back(name);
      } else {
        selection.not_built.push_back({name, std::move(missing)});
      }
    } else {
      std::string missing;
      for (const auto& [table, table_unit] : TablesRead(writer, stat_tbl, unit)) {
        if (!TableStored(database, table_names, table_unit, table) &&
            !RunBuilds(table, configured)) {
          missing = table;
          break;
        }
      }
      if (missing.empty()) {
        selection.writable.push_back(name);
      } else {
        selection.not_built.push_back({name, BuiltBy(missing)});
      }
    }
  }
  return selection;
}

}  // namespace landstat::report
