#pragma once

// What each report writer gives the common writer steps: the parts of a
// report that differ from writer to writer.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/table_names.h"
#include "platform/db/connection.h"
#include "platform/sheet/bat_print_excel.h"
#include "platform/sheet/sheet_rows.h"
#include "report/print_stat_dlg.h"

namespace landstat::report {

// The writer's arguments.
struct CPrintStatDlg::WriterCall {
  db::Connection& connection;
  const std::string& output_folder;
  const std::string& template_path;
  const std::string& report_name;
  const std::string& region_code;
  short unit;
  TableNames names;  // plain, or with the year and county code
};

struct CPrintStatDlg::WriterPlan {
  VariantSet variants = VariantSet::kFour;
  // Pairs after the seven common ones.
  std::vector<sheet::SWhiteParam> extra_pairs;
  // The file is the year, shortName ... without the region code.
  bool without_region_code = false;
  // When not empty, stands between the year and shortName instead of the
  // region code.
  std::string file_prefix;
  // When not empty, the value of the "单位" pair instead of the dialog's.
  std::string unit_text;
  // When not empty, the template sheet filled instead of the report's.
  std::string sheet;
  // The query on the report's table, given the catalogue's statTbl.
  std::function<ReportQuery(const WriterCall& call, const std::string& stat_tbl)> query;
  // Run once the rows are read, whether the report was written or not: the
  // writer's work tables dropped. Raises when it cannot clean up.
  std::function<void(const WriterCall& call)> cleanup;
  // Rows the writer made before the common steps (the balance table), read
  // in place of a query; released with the plan.
  std::shared_ptr<sheet::SheetRows> rows;
};

// A report of one sheet per village.
struct CPrintStatDlg::SheetSplit {
  std::size_t piece_size = 0;  // villages a workbook piece holds; 0: all in one
  // The village codes and their requested sheet names, equally long.
  std::function<void(const WriterCall& call, std::vector<std::string>& sheet_names,
                     std::vector<std::string>& codes)>
      villages;
  // The query of one village's sheet.
  std::function<ReportQuery(const WriterCall& call, const std::string& stat_tbl,
                            const std::string& code)>
      query;
};

// The header key of the split reports naming a village's county, township
// and village; and its value.
inline constexpr const char* kVillageKey = "县乡村";
std::string VillageHeading(const ReportSettings& settings, const std::string& village_code);

// The table names of a writer's arguments: plain, or with year and county.
inline TableNames WriterTableNames(int server_names, const std::string& year,
                                   const std::string& county) {
  return TableNames(server_names != 0 ? 1 : 0, year, county);
}

// The query of a table whose square-metre areas (its double columns) are
// shown in `unit`: "select" with "round(f/10000,D) as f" for hectares and
// "round(f*3/2000,D) as f" for mu, D the `decimals`, the other columns as
// they are; for square metres "select *". Ends in " from TABLE ". Raises
// DbError.
std::string BuildUnitSelectSql(db::Connection& connection, const std::string& table, short unit,
                               int decimals);

// Whether `columns` hold one named `name` (in any case).
bool HasColumn(const std::vector<db::ColumnInfo>& columns, const std::string& name);

// The header key naming the printed region: the county's name, followed by
// the region's when the region is part of the county.
inline constexpr const char* kRegionKey = "区域";
inline constexpr std::size_t kCountyCodeLength = 6;
std::string RegionHeading(const ReportSettings& settings, const std::string& region_code);

// The decimals configured for a unit's tables (StatConfig.ini, PointLen);
// -1 when the unit is none of the configured ones.
int UnitDecimals(short unit);
// The decimals a writer rounds areas it converts itself to: the unit's
// configured ones, 2 for a unit the configuration does not name.
int ConvertedDecimals(short unit);

}  // namespace landstat::report
