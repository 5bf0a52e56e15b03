// The basic-farmland survey report writers: a farmland summary table joined
// with an adjustable-farmland table of the same unit, year and county.

#include "report/writer_plan.h"

namespace landstat::report {

namespace {

// The joined rows of the main table `a` (the summary `stat_tbl`) and its
// partner `b` in `unit` whose code (or block number, which begins with its
// village's code) starts with `prefix`, in that order. Every main row stays,
// once per matching partner row or once with empty partner columns. A
// missing partner table is refused, named.
ReportQuery SurveyJoin(db::Connection& connection, const TableNames& names, short unit,
                       const std::string& stat_tbl, const char* partner, bool by_block,
                       const std::string& prefix) {
  const std::string main = names.Summary('Z', unit, stat_tbl);
  const std::string other = names.Summary('Z', unit, partner);
  if (!connection.TableExists(other)) {
    throw std::runtime_error("no adjustable-farmland table " + other + " to join with " + main);
  }
  return ReportQuery{
      "select * from " + connection.QuoteTable(main) + " a left outer join " +
          connection.QuoteTable(other) + " b" +
          (by_block ? " on a.bhkbh = b.JBNTBHKNO where a.bhkbh like ? order by a.bhkbh"
                    : " on a.xzqdm = b.xzqdm where a.xzqdm like ? order by a.xzqdm"),
      {prefix + "%"},
      main + " with " + other};
}

}  // namespace

// The main rows are those of the region: whose code (or block number, which
// begins with its village's code) starts with the region code. Without that
// filter a township's report would show the whole county under the
// township's name. The block join is ordered by block, so both engines give
// the same workbook.
CPrintStatDlg::WriterPlan CPrintStatDlg::SurveyJoinPlan(const char* partner, bool by_block) const {
  WriterPlan plan;
  plan.query = [partner, by_block](const WriterCall& call, const std::string& stat_tbl) {
    return SurveyJoin(call.connection, call.names, call.unit, stat_tbl, partner, by_block,
                      call.region_code);
  };
  return plan;
}

short CPrintStatDlg::PrintJbntSurveyBeforeTable(
    db::Connection& connection, const std::string& output_folder, const std::string& template_path,
    const std::string& report_name, const std::string& region_code, int unit, int server_names,
    const std::string& year, const std::string& county) {
  return WriteReport({connection, output_folder, template_path, report_name, region_code,
                      static_cast<short>(unit), WriterTableNames(server_names, year, county)},
                     SurveyJoinPlan("JBNTKTZGD", false));
}

short CPrintStatDlg::PrintJbntSurveyAfterTable(
    db::Connection& connection, const std::string& output_folder, const std::string& template_path,
    const std::string& report_name, const std::string& region_code, int unit, int server_names,
    const std::string& year, const std::string& county) {
  return WriteReport({connection, output_folder, template_path, report_name, region_code,
                      static_cast<short>(unit), WriterTableNames(server_names, year, county)},
                     SurveyJoinPlan("JBNTKTZGDBHH", false));
}

short CPrintStatDlg::PrintJbntRegionSummaryTable(
    db::Connection& connection, const std::string& output_folder, const std::string& template_path,
    const std::string& report_name, const std::string& region_code, int unit, int server_names,
    const std::string& year, const std::string& county) {
  return WriteReport({connection, output_folder, template_path, report_name, region_code,
                      static_cast<short>(unit), WriterTableNames(server_names, year, county)},
                     SurveyJoinPlan("JBNTKTZ", false));
}

short CPrintStatDlg::PrintJbntBlockSummaryTable(
    db::Connection& connection, const std::string& output_folder, const std::string& template_path,
    const std::string& report_name, const std::string& region_code, int unit, int server_names,
    const std::string& year, const std::string& county) {
  return WriteReport({connection, output_folder, template_path, report_name, region_code,
                      static_cast<short>(unit), WriterTableNames(server_names, year, county)},
                     SurveyJoinPlan("BHKKTZ", true));
}

// One sheet per village of the region's blocks, each with the joined rows
// of the blocks that begin with the village's code.
short CPrintStatDlg::PrintJbntBlockSummarySplit(
    db::Connection& connection, const std::string& output_folder, const std::string& template_path,
    const std::string& report_name, const std::string& region_code, int unit, int server_names,
    const std::string& year, const std::string& county) {
  SheetSplit split;
  split.villages = [this, server_names, year, county](const WriterCall& call,
                                                      std::vector<std::string>& sheets,
                                                      std::vector<std::string>& codes) {
    GetBlockVillages(sheets, codes, call.connection, server_names, year, county, call.region_code);
  };
  split.query = [](const WriterCall& call, const std::string& stat_tbl, const std::string& code) {
    return SurveyJoin(call.connection, call.names, call.unit, stat_tbl, "BHKKTZ", true, code);
  };
  return WriteSplitReport({connection, output_folder, template_path, report_name, region_code,
                           static_cast<short>(unit), WriterTableNames(server_names, year, county)},
                          WriterPlan{}, split);
}

}  // namespace landstat::report
