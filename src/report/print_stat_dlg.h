#pragma once

#include <string>
#include <vector>

#include "platform/db/connection.h"
#include "platform/sheet/bat_print_excel.h"
#include "report/report_settings.h"
#include "report/report_skeleton.h"

namespace landstat {
class TableNames;
}

namespace landstat::db {
class SqlDialect;
}

namespace landstat::report {

// A report a print run leaves to no writer, and why.
struct LeftOutReport {
  std::string name;
  std::string reason;
};

// The reports of a print run sorted before any is written: those handed to
// the writers, those whose table this county's runs did not build (the
// reason names the table and the run that builds it) and those whose writer
// this version lacks. Neither left-out kind is a writer's failure.
struct ReportSelection {
  std::vector<std::string> writable;
  std::vector<LeftOutReport> not_built;
  std::vector<LeftOutReport> unavailable;
  // When the statistics hold the reports' tables in other units but none in
  // the print's: the words saying so (naming the units held). Such a print
  // is refused as a whole.
  std::string unit_not_held;
};

// What became of one report of a print run.
struct ReportOutcome {
  std::string name;     // the report name
  std::string path;     // the workbook written; empty when none was
  std::string message;  // why it was not written
  bool Written() const { return !path.empty(); }
};

// The report writers and their dispatcher. The object holds what the
// writers read of the selection dialog (ReportSettings); the dialog and
// `landstat report` fill it. Each writer turns one stored summary table into
// one workbook copied from a template; it returns 1 when the workbook was
// written and 0 when it was not, after telling the notifier why. No file
// that looks like a report stays behind a writer that failed.
class CPrintStatDlg {
 public:
  explicit CPrintStatDlg(ReportSettings settings = {}) : settings_(std::move(settings)) {}

  ReportSettings& Settings() { return settings_; }
  const ReportSettings& Settings() const { return settings_; }

  // The writers. `unit` 0 hectares, 1 mu, 2 square metres; `server_names`
  // non-zero when table names carry the year and the county code.
  // Summary tables by location (Z) or, by the statistics type, by ownership
  // (Q, falling back to Z when absent), rows of the output level.
  short PrintSummaryTable(db::Connection& connection, const std::string& output_folder,
                          const std::string& template_path, const std::string& report_name,
                          const std::string& region_code, int unit, int server_names,
                          const std::string& year, const std::string& county);
  // Mode 2's twin, on the category and bureau levels.
  short PrintBureauSummaryTable(db::Connection& connection, const std::string& output_folder,
                                const std::string& template_path, const std::string& report_name,
                                const std::string& region_code, int unit, int server_names,
                                const std::string& year, const std::string& county);
  // Code tables, the registration summary and other unit tables, unfiltered.
  short PrintCodeListTable(db::Connection& connection, const std::string& output_folder,
                           const std::string& template_path, const std::string& report_name,
                           const std::string& region_code, int unit, int server_names,
                           const std::string& year, const std::string& county);
  // Dispute areas of the chosen dispute type.
  short PrintDisputeAreaTable(db::Connection& connection, const std::string& output_folder,
                              const std::string& template_path, const std::string& report_name,
                              const std::string& region_code, int unit, int server_names,
                              const std::string& year, const std::string& county);
  // The parcel ledger of the dispute areas of the chosen dispute type.
  short PrintDisputeLedgerTable(db::Connection& connection, const std::string& output_folder,
                                const std::string& template_path, const std::string& report_name,
                                const std::string& region_code, int unit, int server_names,
                                const std::string& year, const std::string& county);
  // Reserve and dispute tables, filtered by the three filter lists.
  short PrintReserveDisputeTable(db::Connection& connection, const std::string& output_folder,
                                 const std::string& template_path, const std::string& report_name,
                                 const std::string& region_code, int unit, int server_names,
                                 const std::string& year, const std::string& county);

  // Enclave areas (飞入) by the code of the unit they lie in.
  short PrintFrdTable(db::Connection& connection, const std::string& output_folder,
                      const std::string& template_path, const std::string& report_name,
                      const std::string& region_code, int unit, int server_names,
                      const std::string& year, const std::string& county);
  // The land-use ledger of the parcels of the region.
  short PrintLedgerTable(db::Connection& connection, const std::string& output_folder,
                         const std::string& template_path, const std::string& report_name,
                         const std::string& region_code, int unit, int server_names,
                         const std::string& year, const std::string& county);
  // The Inner Mongolia ledger: its work table refilled with the region's
  // townships, villages and parcels, always in square metres.
  short PrintMgLedgerTable(db::Connection& connection, const std::string& output_folder,
                           const std::string& template_path, const std::string& report_name,
                           const std::string& region_code, int unit, int server_names,
                           const std::string& year, const std::string& county);
  // The town lot area summary, by lot number.
  short PrintTownHoldingAreaTable(db::Connection& connection, const std::string& output_folder,
                                  const std::string& template_path, const std::string& report_name,
                                  const std::string& region_code, int unit, int server_names,
                                  const std::string& year, const std::string& county);
  // The town house summary, its areas converted from square metres.
  short PrintTownHouseTable(db::Connection& connection, const std::string& output_folder,
                            const std::string& template_path, const std::string& report_name,
                            const std::string& region_code, int unit, int server_names,
                            const std::string& year, const std::string& county);
  // The farmland figures by protection block.
  short PrintJbntBlockStatTable(db::Connection& connection, const std::string& output_folder,
                                const std::string& template_path, const std::string& report_name,
                                const std::string& region_code, int unit, int server_names,
                                const std::string& year, const std::string& county);
  // The dispute farmland table by protection block: one sheet per village,
  // in workbook pieces of 50 villages merged into one.
  short PrintDisputeJbntBlockTable(db::Connection& connection, const std::string& output_folder,
                                   const std::string& template_path, const std::string& report_name,
                                   const std::string& region_code, int unit, int server_names,
                                   const std::string& year, const std::string& county);
  // The farmland survey reports joined with an adjustable-farmland table of
  // the same unit: before and after supplementing (the Guangdong tables),
  // by region and by protection block.
  short PrintJbntSurveyBeforeTable(db::Connection& connection, const std::string& output_folder,
                                   const std::string& template_path, const std::string& report_name,
                                   const std::string& region_code, int unit, int server_names,
                                   const std::string& year, const std::string& county);
  short PrintJbntSurveyAfterTable(db::Connection& connection, const std::string& output_folder,
                                  const std::string& template_path, const std::string& report_name,
                                  const std::string& region_code, int unit, int server_names,
                                  const std::string& year, const std::string& county);
  short PrintJbntRegionSummaryTable(db::Connection& connection, const std::string& output_folder,
                                    const std::string& template_path,
                                    const std::string& report_name, const std::string& region_code,
                                    int unit, int server_names, const std::string& year,
                                    const std::string& county);
  short PrintJbntBlockSummaryTable(db::Connection& connection, const std::string& output_folder,
                                   const std::string& template_path, const std::string& report_name,
                                   const std::string& region_code, int unit, int server_names,
                                   const std::string& year, const std::string& county);
  // The block join with one sheet per village.
  short PrintJbntBlockSummarySplit(db::Connection& connection, const std::string& output_folder,
                                   const std::string& template_path, const std::string& report_name,
                                   const std::string& region_code, int unit, int server_names,
                                   const std::string& year, const std::string& county);
  // The parcel area table of a village or village group.
  short PrintParcelAreaTable(db::Connection& connection, const std::string& output_folder,
                             const std::string& template_path, const std::string& report_name,
                             const std::string& region_code, int unit, int server_names,
                             const std::string& year, const std::string& county);

  // The villages whose protection blocks (statdata_jbnt's 保护片编号) start
  // with `region_code`, in code order: their codes and their sheet names
  // (name and code). Reads the first unit copy of the farmland base table
  // that exists; 0 when none does (the lists stay empty). Raises DbError.
  short GetBlockVillages(std::vector<std::string>& sheet_names, std::vector<std::string>& codes,
                         db::Connection& connection, int server_names, const std::string& year,
                         const std::string& county, const std::string& region_code);
  // The Inner Mongolia ledger's work table refilled from its source for the
  // region, in one transaction; raises on any failure (the table is then
  // as it was). Of `names` only the year and county count: the Inner
  // Mongolia tables are named as their run names them (MgTableNames).
  short BuildMgLedgerTables(db::Connection& connection, const TableNames& names,
                            const std::string& region_code);
  short FillMgLedgerTable(db::Connection& connection, const std::string& source,
                          const std::string& work, const std::string& region_code);
  // The parcel area table's work table `table`, made anew with the columns
  // of the base table `base` from 来源 on. Raises DbError.
  short CreateParcelAreaWorkTable(db::Connection& connection, const std::string& table,
                                  const std::string& base);
  // The change balance sheet: the balance table of the region from this
  // year's change records and last year's square-metre base data (a file
  // of its own beside this year's, or the same server), in the unit.
  short PrintBalanceSheet(db::Connection& connection, const std::string& output_folder,
                          const std::string& template_path, const std::string& report_name,
                          const std::string& region_code, int unit, int server_names,
                          const std::string& year, const std::string& county);

  // Opens the statistics database, makes and checks the output folder and
  // holds it while it hands each name, in order, to the writer its rule
  // picks (or to none); the outcomes are this call's alone. Returns 1 when
  // every report routed to a writer was written, 0 when any report failed
  // or nothing was written: the database could not be opened, the folder
  // cannot be written or another print holds it (said once, no outcome).
  short DispatchReportTables(const std::string& output_folder, const std::string& connection,
                             const std::vector<std::string>* names,
                             const std::string& template_path, const std::string& region_code,
                             int unit, int server_names, const std::string& year,
                             const std::string& county);

  // Sorts `names` for a print in `unit` from `database`, whose tables are
  // named by `table_names`. A report's table counts as not built when it is
  // stored in no form a writer reads and the configured version's run does
  // not build it (a missing table that run builds is the writer's failure
  // to tell). A name the catalogue lacks is writable: its writer says so.
  // Raises DbError when the database cannot be read.
  ReportSelection SelectReports(db::Connection& database, const TableNames& table_names, short unit,
                                const std::vector<std::string>& names) const;

  // The writer the dispatcher picks for `name` under the settings: the
  // rule's number and the writer's name, or null for no report.
  struct Route {
    int rule = 0;
    const char* writer = nullptr;
  };
  Route RouteOf(const std::string& name) const;
  // True when this version has the writer of that name.
  static bool WriterAvailable(const char* writer);

  // Every report a writer or the dispatcher handled, in order; and how many
  // of them failed.
  const std::vector<ReportOutcome>& Outcomes() const { return outcomes_; }
  long Failures() const;

 private:
  struct WriterCall;
  struct WriterPlan;
  // What a report is made of: the catalogue's table, the template variant,
  // the workbook's path in the output folder.
  struct ReportFiles {
    std::string stat_tbl;
    std::string source;
    std::string path;
  };
  // Writes one report: whatever fails (a refusal, the database, the
  // template, the disk, memory), the failure is told and counted and no
  // file of it is left; an earlier workbook of the name is replaced only by
  // a complete one (the copy is filled under a work name and renamed).
  short WriteReport(const WriterCall& call, const WriterPlan& plan);
  ReportFiles FilesOf(const WriterCall& call, const WriterPlan& plan) const;
  std::vector<sheet::SWhiteParam> HeaderPairs(const WriterCall& call, const WriterPlan& plan) const;
  short Shown(const std::string& name, const std::string& path);
  WriterPlan DisputePlan(bool ledger) const;
  // The order of a report's rows as the engine writes it: a number held as
  // text is put in its natural order in each engine's own words.
  using RowOrder = std::string (*)(const db::SqlDialect& dialect);
  WriterPlan PrefixPlan(VariantSet variants, const char* column, RowOrder order) const;
  WriterPlan SurveyJoinPlan(const char* partner, bool by_block) const;
  struct SheetSplit;
  // Writes a report of one sheet per village, `split.piece_size` villages a
  // workbook piece, the pieces merged into the first; nothing stays behind
  // a failure.
  short WriteSplitReport(const WriterCall& call, const WriterPlan& plan, const SheetSplit& split);
  // Why the balance sheet has nothing to read in `database` (no change
  // records of the year, no statistics of the year before where the writer
  // looks for them); empty when both years are there.
  std::string BalanceSheetInputsMissing(db::Connection& database, const TableNames& names) const;
  // Last year's stand-alone database: the settings' file, else the file
  // named year - 1 and county beside this year's.
  std::string BaseYearFile(db::Connection& database, const std::string& base_year,
                           const std::string& county) const;
  short Refuse(const std::string& report_name, const std::string& message);

  // A print's reports, each run by its writer: in turn on the print's
  // connection, or several at the same time, each on a thread and a
  // connection of its own, their messages and progress held and passed on
  // in the print's order (the same as in turn).
  struct PrintCall;
  struct PrintJob;
  struct PrintGroups;
  std::vector<PrintJob> JobsOf(const std::vector<std::string>& names) const;
  PrintGroups GroupsOf(const std::vector<PrintJob>& jobs) const;
  void RunJob(db::Connection& database, const PrintJob& job, const PrintCall& call);
  void PrintApart(db::Connection& database, const std::vector<PrintJob>& jobs,
                  const PrintCall& call, const PrintGroups& groups, std::size_t workers);
  // How many workbooks the print writes at the same time, of `groups` that
  // may run apart: the workers set for the process (LANDSTAT_WORKERS), at
  // most eight; one when the workbooks are shown as they are written.
  std::size_t WritersApart(std::size_t groups) const;

  ReportSettings settings_;
  std::vector<ReportOutcome> outcomes_;
};

}  // namespace landstat::report
