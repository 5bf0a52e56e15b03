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
  // The file is shortName + ".xlsx" without the region code in front.
  bool without_region_code = false;
  // The query on the report's table, given the catalogue's statTbl.
  std::function<ReportQuery(const WriterCall& call, const std::string& stat_tbl)> query;
  // Rows the writer made before the common steps (the balance table), read
  // in place of a query; released with the plan.
  std::shared_ptr<sheet::SheetRows> rows;
};

// The header key naming the printed region: the county's name, followed by
// the region's when the region is part of the county.
inline constexpr const char* kRegionKey = "区域";
inline constexpr std::size_t kCountyCodeLength = 6;
std::string RegionHeading(const ReportSettings& settings, const std::string& region_code);

// The decimals configured for a unit's tables (StatConfig.ini, PointLen);
// -1 when the unit is none of the configured ones.
int UnitDecimals(short unit);

}  // namespace landstat::report
