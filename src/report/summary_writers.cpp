// The summary, code-list, dispute and reserve report writers.

#include <algorithm>
#include <optional>
#include <span>

#include "engine/database_helpers.h"
#include "engine/shared_code_tables.h"
#include "platform/db/db_error.h"
#include "platform/db/sql_dialect.h"
#include "platform/db/sql_quote.h"
#include "platform/text/ascii_text.h"
#include "report/report_filters.h"
#include "report/writer_plan.h"

namespace landstat::report {

namespace {

// For each output level, the lengths past the prefix of the codes it keeps
// (each one '_' of a LIKE pattern); a length of 0 is the prefix itself.
struct LevelLengths {
  const char* level;
  std::vector<int> lengths;
};

const LevelLengths kSummaryLevels[] = {
    {"村(街坊)级", {10, 7, 4, 2}}, {"乡(街道)级", {7, 4, 2}}, {"县(区)级", {4, 2}}, {"市级", {2}}};

const LevelLengths kBureauLevels[] = {{"管局下属二级", {7, 4, 2, 0}}, {"管局级", {4, 2, 0}}};

ReportQuery LevelFilter(std::span<const LevelLengths> levels, const std::string& prefix,
                        const std::string& region, const std::string& level) {
  const auto found = std::find_if(levels.begin(), levels.end(),
                                  [&](const LevelLengths& entry) { return level == entry.level; });
  if (found == levels.end()) {
    return {" where XZQDM like ? and XZQDM like ? ", {prefix + "%", region + "%"}, {}};
  }
  ReportQuery query{" where (", {}, {}};
  for (int length : found->lengths) {
    query.sql += query.params.empty() ? "XZQDM like ?" : " OR XZQDM like ?";
    query.params.emplace_back(prefix + std::string(static_cast<std::size_t>(length), '_'));
  }
  query.sql += ") and XZQDM like ? ";
  query.params.emplace_back(region + "%");
  return query;
}

// A filter list's text, "全部" counting as none.
std::string Chosen(const std::string& text) {
  return text == "全部" ? std::string() : text;
}

// The kinds of report the reserve and dispute writer tells apart.
enum class ReserveKind { kParcelList, kAreaSummary, kDisputeSummary, kOther };

struct ReserveReport {
  const char* name;
  ReserveKind kind;
  bool whole_region;     // every row of the region, whatever the output level
  const char* fallback;  // the condition when no list choice applies
};

const ReserveReport kReserveReports[] = {
    {"耕地后备资源调查总表", ReserveKind::kParcelList, true, ""},
    {"可开垦耕地后备资源调查表(按原类型)", ReserveKind::kParcelList, true, ""},
    {"可复垦耕地后备资源调查表(按原类型)", ReserveKind::kParcelList, true, ""},
    {"可开垦耕地后备资源调查表(按新类型)", ReserveKind::kParcelList, true, ""},
    {"可复垦耕地后备资源调查表(按新类型)", ReserveKind::kParcelList, true, ""},
    {"耕地后备资源分类面积汇总表(按原类型)", ReserveKind::kAreaSummary, false,
     "and (QSXZNGDHBJB IS NULL)"},
    {"耕地后备资源分类面积汇总表(按新类型)", ReserveKind::kAreaSummary, false,
     "and (QSXZNGDHBJB IS NULL)"},
    {"农村土地利用现状一级分类面积汇总表(权属争议)", ReserveKind::kDisputeSummary, false,
     "and (权属争议类型 IS NULL)"},
    {"农村土地利用现状二级分类面积汇总表(权属争议)", ReserveKind::kDisputeSummary, false,
     "and (权属争议类型 IS NULL)"},
    {"权属争议基本农田情况统计表(按行政区)", ReserveKind::kDisputeSummary, false,
     "and (权属争议类型 IS NULL)"},
    {"耕地后备资源调查汇总表(权属争议)", ReserveKind::kDisputeSummary, true, ""},
};

const ReserveReport* ReserveReportOf(const std::string& name) {
  for (const ReserveReport& report : kReserveReports) {
    if (name == report.name) return &report;
  }
  return nullptr;
}

enum class FilterList { kOwnership, kReserveLevel, kDisputeType };

// The condition of a list choice on a kind of report; a choice missing here
// gives the report's fallback.
struct FilterClause {
  FilterList list;
  const char* choice;
  ReserveKind kind;
  const char* clause;
};

const FilterClause kFilterMatrix[] = {
    {FilterList::kOwnership, "国有", ReserveKind::kParcelList,
     "and (权属性质 like '1%' or 权属性质 like '2%')"},
    {FilterList::kOwnership, "国有", ReserveKind::kAreaSummary, "and (QSXZNGDHBJB like '国有')"},
    {FilterList::kOwnership, "集体", ReserveKind::kParcelList,
     "and (权属性质 like '3%' or 权属性质 like '4%')"},
    {FilterList::kOwnership, "集体", ReserveKind::kAreaSummary, "and (QSXZNGDHBJB like '集体')"},
    {FilterList::kReserveLevel, "国家级", ReserveKind::kParcelList,
     "and (耕地后备资源级别 like '国家级')"},
    {FilterList::kReserveLevel, "国家级", ReserveKind::kAreaSummary,
     "and (QSXZNGDHBJB like '国家级')"},
    {FilterList::kReserveLevel, "省级", ReserveKind::kParcelList,
     "and (耕地后备资源级别 like '省级')"},
    {FilterList::kReserveLevel, "省级", ReserveKind::kAreaSummary, "and (QSXZNGDHBJB like '省级')"},
    {FilterList::kDisputeType, "国家与集体", ReserveKind::kDisputeSummary,
     "and (权属争议类型 like '国家与集体')"},
    {FilterList::kDisputeType, "集体与集体", ReserveKind::kDisputeSummary,
     "and (权属争议类型 like '集体与集体')"},
    {FilterList::kDisputeType, "国有与国有", ReserveKind::kDisputeSummary,
     "and (权属争议类型 like '国有与国有')"},
    {FilterList::kDisputeType, "其他", ReserveKind::kDisputeSummary,
     "and (权属争议类型 like '其他')"},
};

}  // namespace

ReportQuery SummaryLevelFilter(const std::string& province, const std::string& region,
                               const std::string& level) {
  return LevelFilter(kSummaryLevels, province, region, level);
}

ReportQuery BureauLevelFilter(const std::string& county, const std::string& region,
                              const std::string& level) {
  if (level == "类别级") {
    return {" where XZQDM like ? OR XZQDM like ?", {county + "__", county}, {}};
  }
  return LevelFilter(kBureauLevels, county, region, level);
}

void AddDisputeType(ReportQuery& query, const std::string& joiner, const std::string& type) {
  const std::string chosen = Chosen(type);
  if (chosen.empty()) {
    query.sql += " " + joiner + " 权属争议类型 IS NULL";
  } else {
    query.sql += " " + joiner + " 权属争议类型 like ?";
    query.params.emplace_back(chosen);
  }
}

bool CodeListReadsPlain(const std::string& stat_tbl) {
  return stat_tbl == "QSDMB" || stat_tbl == "QSDMBMG" || stat_tbl == "DJXXHZB";
}

bool ReserveIgnoresLevel(const std::string& report_name) {
  const ReserveReport* report = ReserveReportOf(report_name);
  return report != nullptr && report->whole_region;
}

std::string ReserveAttributeFilter(const std::string& report_name, const ReportSettings& settings) {
  const ReserveReport* report = ReserveReportOf(report_name);
  const ReserveKind kind = report ? report->kind : ReserveKind::kOther;
  const std::string fallback = report ? report->fallback : "";
  const std::pair<FilterList, std::string> lists[] = {
      {FilterList::kOwnership, Chosen(settings.ownership_filter)},
      {FilterList::kReserveLevel, Chosen(settings.reserve_level_filter)},
      {FilterList::kDisputeType, Chosen(settings.dispute_type_filter)}};
  for (const auto& [list, choice] : lists) {
    if (choice.empty()) continue;
    for (const FilterClause& entry : kFilterMatrix) {
      if (entry.list == list && choice == entry.choice && entry.kind == kind) return entry.clause;
    }
    return fallback;  // the first choice decides, even when it does not apply
  }
  return fallback;
}

namespace {

// The lists stored as unit copies (TableNames::UnitCopy) by their builders;
// the other unit tables are stored as the reserve family's
// (TableNames::ReserveUnit).
bool IsUnitCopy(const std::string& stat_tbl) {
  return stat_tbl == "PEWYTBL";
}

// A summary table without region codes (the town lots by land use) holds
// the county as a whole: all its rows, in the order of its first column,
// when the county is printed; a region inside the county is refused, since
// the table cannot show it. Nothing for a table with region codes.
std::optional<ReportQuery> WholeCountyQuery(db::Connection& connection,
                                            const std::string& region_code,
                                            const std::string& table) {
  const std::vector<db::ColumnInfo> columns = connection.Columns(table);
  if (HasColumn(columns, "XZQDM") || columns.empty()) return std::nullopt;
  if (region_code.size() > kCountyCodeLength) {
    throw std::runtime_error("the table " + table + " holds the county as a whole, not region " +
                             region_code + "; write it for the county");
  }
  return ReportQuery{"select * from " + connection.QuoteTable(table) + " order by " +
                         db::QuoteName(columns[0].name),
                     {},
                     table};
}

}  // namespace

short CPrintStatDlg::PrintSummaryTable(db::Connection& connection, const std::string& output_folder,
                                       const std::string& template_path,
                                       const std::string& report_name,
                                       const std::string& region_code, int unit, int server_names,
                                       const std::string& year, const std::string& county) {
  WriterPlan plan;
  plan.query = [this](const WriterCall& call, const std::string& stat_tbl) {
    std::string table = call.names.Summary('Z', call.unit, stat_tbl);
    if (settings_.Scope() == 'Q') {
      // A run by location alone has no ownership tables: read by location.
      const std::string by_owner = call.names.Summary('Q', call.unit, stat_tbl);
      if (IsTblExist(call.connection, by_owner) > 0) table = by_owner;
    }
    if (const auto whole = WholeCountyQuery(call.connection, call.region_code, table)) {
      return *whole;
    }
    const std::string from = "select * from " + call.connection.QuoteTable(table);
    ReportQuery query =
        SummaryLevelFilter(call.region_code.substr(0, 2), call.region_code, settings_.output_level);
    query.sql = from + " " + query.sql +
                (call.report_name == "容积率和建筑密度汇总统计薄" ? "order by XZQDM,XZQMC "
                                                                  : "order by XZQDM ");
    query.table = table;
    return query;
  };
  return WriteReport({connection, output_folder, template_path, report_name, region_code,
                      static_cast<short>(unit), WriterTableNames(server_names, year, county)},
                     plan);
}

short CPrintStatDlg::PrintBureauSummaryTable(
    db::Connection& connection, const std::string& output_folder, const std::string& template_path,
    const std::string& report_name, const std::string& region_code, int unit, int server_names,
    const std::string& year, const std::string& county) {
  WriterPlan plan;
  plan.variants = VariantSet::kTwo;
  plan.extra_pairs = {{"行政区名称", settings_.GetCodeName(region_code)}, {"代码", region_code}};
  plan.query = [this](const WriterCall& call, const std::string& stat_tbl) {
    ReportQuery query =
        BureauLevelFilter(call.region_code.substr(0, 6), call.region_code, settings_.output_level);
    query.table = call.names.Summary('Z', call.unit, stat_tbl);
    query.sql = "select * from " + call.connection.QuoteTable(query.table) + " " + query.sql +
                " order by XZQDM ";
    return query;
  };
  return WriteReport({connection, output_folder, template_path, report_name, region_code,
                      static_cast<short>(unit), WriterTableNames(server_names, year, county)},
                     plan);
}

short CPrintStatDlg::PrintCodeListTable(db::Connection& connection,
                                        const std::string& output_folder,
                                        const std::string& template_path,
                                        const std::string& report_name,
                                        const std::string& region_code, int unit, int server_names,
                                        const std::string& year, const std::string& county) {
  WriterPlan plan;
  plan.without_region_code = text::IEquals(report_name, "权属单位代码表");
  plan.query = [this, county](const WriterCall& call, const std::string& stat_tbl) -> ReportQuery {
    // The code tables and the registration summary are stored under their
    // plain names in every naming mode, as the code-table builder does;
    // the counties of a server share QSDMB.
    const std::string quoted = call.connection.QuoteTable(stat_tbl);
    if (stat_tbl == "QSDMB") {
      return {"select * from " + CountyRowsOf(kQsdmbTable, county) + " codes order by QSDWDM",
              {},
              stat_tbl};
    }
    if (stat_tbl == "QSDMBMG") {
      return {"select * from " + quoted + "  order by QSDWDM", {}, stat_tbl};
    }
    if (stat_tbl == "DJXXHZB") {
      return {"select * from " + quoted + " where 行政区代码 like ? order by 行政区代码 ",
              {call.region_code + "%"},
              stat_tbl};
    }
    const std::string table = IsUnitCopy(stat_tbl) ? call.names.UnitCopy(call.unit, stat_tbl)
                                                   : call.names.ReserveUnit(call.unit, stat_tbl);
    return {"select * from " + call.connection.QuoteTable(table), {}, table};
  };
  return WriteReport({connection, output_folder, template_path, report_name, region_code,
                      static_cast<short>(unit), WriterTableNames(server_names, year, county)},
                     plan);
}

// The dispute-area and dispute-ledger reports: the unit table of the
// report, the rows of the chosen dispute type (or over all types), the
// ledger's rows inside the region.
CPrintStatDlg::WriterPlan CPrintStatDlg::DisputePlan(bool ledger) const {
  WriterPlan plan;
  plan.variants = VariantSet::kTwo;
  plan.extra_pairs = {{"权属争议类型", settings_.dispute_type_filter}};
  plan.query = [this, ledger](const WriterCall& call, const std::string& stat_tbl) {
    const std::string table = call.names.ReserveUnit(call.unit, stat_tbl);
    ReportQuery query{"select * from " + call.connection.QuoteTable(table) + " ", {}, table};
    if (ledger) {
      query.sql += " where 座落单位代码 like ?";
      query.params.emplace_back(call.region_code + "%");
    }
    AddDisputeType(query, ledger ? "AND" : "where", settings_.dispute_type_filter);
    query.sql += " order by " +
                 (ledger ? db::SqlDialect::For(call.connection.Kind()).NaturalOrder("图斑编号")
                         : std::string("权属争议区编号"));
    return query;
  };
  return plan;
}

short CPrintStatDlg::PrintDisputeAreaTable(
    db::Connection& connection, const std::string& output_folder, const std::string& template_path,
    const std::string& report_name, const std::string& region_code, int unit, int server_names,
    const std::string& year, const std::string& county) {
  return WriteReport({connection, output_folder, template_path, report_name, region_code,
                      static_cast<short>(unit), WriterTableNames(server_names, year, county)},
                     DisputePlan(false));
}

short CPrintStatDlg::PrintDisputeLedgerTable(
    db::Connection& connection, const std::string& output_folder, const std::string& template_path,
    const std::string& report_name, const std::string& region_code, int unit, int server_names,
    const std::string& year, const std::string& county) {
  return WriteReport({connection, output_folder, template_path, report_name, region_code,
                      static_cast<short>(unit), WriterTableNames(server_names, year, county)},
                     DisputePlan(true));
}

short CPrintStatDlg::PrintReserveDisputeTable(
    db::Connection& connection, const std::string& output_folder, const std::string& template_path,
    const std::string& report_name, const std::string& region_code, int unit, int server_names,
    const std::string& year, const std::string& county) {
  WriterPlan plan;
  plan.variants = VariantSet::kTwo;
  plan.extra_pairs = {{"权属", settings_.ownership_filter},
                      {"耕地后备资源级别", settings_.reserve_level_filter},
                      {"权属争议类型", settings_.dispute_type_filter}};
  plan.query = [this](const WriterCall& call, const std::string& stat_tbl) {
    const std::string province = call.region_code.substr(0, 2);
    // An empty level keeps every row of the region.
    ReportQuery query =
        SummaryLevelFilter(province, call.region_code,
                           ReserveIgnoresLevel(call.report_name) ? "" : settings_.output_level);
    query.table = call.names.ReserveUnit(call.unit, stat_tbl);
    query.sql = "select * from " + call.connection.QuoteTable(query.table) + " " + query.sql +
                ReserveAttributeFilter(call.report_name, settings_) + " order by XZQDM";
    // The lists of reserve pieces: a unit's pieces by their numbers, so
    // both engines give the same workbook.
    if (HasColumn(call.connection.Columns(query.table), "序号")) {
      query.sql += "," + db::SqlDialect::For(call.connection.Kind()).NaturalOrder("序号");
    }
    return query;
  };
  return WriteReport({connection, output_folder, template_path, report_name, region_code,
                      static_cast<short>(unit), WriterTableNames(server_names, year, county)},
                     plan);
}

}  // namespace landstat::report
