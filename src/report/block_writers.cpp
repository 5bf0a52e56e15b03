// The protection-block report writers: the farmland figures by block, and
// the dispute table with one sheet per village.

#include "engine/database_helpers.h"
#include "report/report_filters.h"
#include "report/writer_plan.h"

namespace landstat::report {

namespace {

constexpr const char* kFarmlandBase = "statdata_jbnt";
constexpr std::size_t kVillagesPerPiece = 50;
constexpr const char* kDisputeBlockReport = "权属争议基本农田情况统计表(按保护块)";

// The block table of a writer: in mode 1 the unit table without a scope
// letter (as the dispute family stores its tables) while it exists, else
// the table by location.
std::string BlockTable(db::Connection& connection, const TableNames& names, short unit, int mode,
                       const std::string& stat_tbl) {
  if (mode == 1) {
    const std::string unit_table = names.ReserveUnit(unit, stat_tbl);
    if (connection.TableExists(unit_table)) return unit_table;
  }
  return names.Summary('Z', unit, stat_tbl);
}

}  // namespace

short CPrintStatDlg::GetBlockVillages(std::vector<std::string>& sheet_names,
                                      std::vector<std::string>& codes, db::Connection& connection,
                                      int server_names, const std::string& year,
                                      const std::string& county, const std::string& region_code) {
  sheet_names.clear();
  codes.clear();
  const TableNames names = WriterTableNames(server_names, year, county);
  std::string table;
  for (short unit : {kHectare, kSquareMetre, kMu}) {
    table = names.UnitCopy(unit, kFarmlandBase);
    if (IsTblExist(connection, table) > 0) break;
    table.clear();
  }
  if (table.empty()) return 0;
  // In code order, so that both engines give the sheets in one order.
  auto rows =
      connection.Scan("select distinct 村级代码 from " + connection.QuoteTable(table) +
                          " where 保护片编号 like ? and 村级代码 is not null order by 村级代码",
                      {region_code + "%"});
  for (std::vector<db::Value> row; rows->Fetch(row);) {
    codes.push_back(row[0].AsText());
    sheet_names.push_back(settings_.GetCodeName(codes.back()) + codes.back());
  }
  return 1;
}

short CPrintStatDlg::PrintJbntBlockStatTable(
    db::Connection& connection, const std::string& output_folder, const std::string& template_path,
    const std::string& report_name, const std::string& region_code, int unit, int server_names,
    const std::string& year, const std::string& county) {
  WriterPlan plan;
  plan.query = [this](const WriterCall& call, const std::string& stat_tbl) {
    const std::string table =
        BlockTable(call.connection, call.names, call.unit, settings_.mode, stat_tbl);
    return ReportQuery{
        "select * from " + call.connection.QuoteTable(table) + " where BHKBH like ? order by BHKBH",
        {call.region_code + "%"},
        table};
  };
  return WriteReport({connection, output_folder, template_path, report_name, region_code,
                      static_cast<short>(unit), WriterTableNames(server_names, year, county)},
                     plan);
}

// Every village whose blocks lie in the region gets a sheet of its blocks;
// "全部" (or no choice) of the dispute types keeps the blocks of no dispute
// type. A region without such villages is refused: nothing is written.
short CPrintStatDlg::PrintDisputeJbntBlockTable(
    db::Connection& connection, const std::string& output_folder, const std::string& template_path,
    const std::string& report_name, const std::string& region_code, int unit, int server_names,
    const std::string& year, const std::string& county) {
  SheetSplit split;
  split.piece_size = kVillagesPerPiece;
  split.villages = [this, server_names, year, county](const WriterCall& call,
                                                      std::vector<std::string>& sheets,
                                                      std::vector<std::string>& codes) {
    if (GetBlockVillages(sheets, codes, call.connection, server_names, year, county,
                         call.region_code) == 0) {
      throw std::runtime_error("no farmland base table (" + std::string(kFarmlandBase) +
                               " in any unit) names the villages of the blocks");
    }
  };
  split.query = [this](const WriterCall& call, const std::string& stat_tbl,
                       const std::string& code) {
    const std::string table =
        BlockTable(call.connection, call.names, call.unit, settings_.mode, stat_tbl);
    ReportQuery query{"select * from " + call.connection.QuoteTable(table) + " where BHKBH like ?",
                      {code + "%"},
                      table};
    if (settings_.mode == 1 && call.report_name == kDisputeBlockReport) {
      AddDisputeType(query, "and", settings_.dispute_type_filter);
    }
    query.sql += " order by BHKBH";
    return query;
  };
  return WriteSplitReport({connection, output_folder, template_path, report_name, region_code,
                           static_cast<short>(unit), WriterTableNames(server_names, year, county)},
                          WriterPlan{}, split);
}

}  // namespace landstat::report
