// Wall time and peak memory of the report writers that build many rows or
// many sheets: the parcel area table of one village of N parcels, and the
// block summary split into one sheet per village for M villages.
//
//   bench_report --db STATS.sqlite --templates DIR [--parcels N] [--villages M]
//   bench_report --db STATS.sqlite --templates DIR --catalogue [--year YYYY] [--county CODE]
//
// STATS.sqlite is a county's statistics database of a rural run (the demo's
// will do); it is copied, and the copy is given a village of N parcels (each
// three base rows) and M villages of protection blocks. DIR holds the report
// templates and catalogue (src/resources/templates).
//
// --catalogue writes every report of the catalogue that the county's runs
// built (as `landstat report` does, several workbooks at a time; but for the
// balance sheet), then each of them alone, and gives the whole print against
// its largest workbook.

#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "engine/table_names.h"
#include "platform/db/connection.h"
#include "platform/db/sql_quote.h"
#include "platform/host/notifier.h"
#include "report/print_stat_dlg.h"

namespace fs = std::filesystem;
using namespace landstat;

namespace {

constexpr const char* kVillage = "330102999001";
constexpr const char* kGroup = "3301029990010010000";

double Seconds(const std::function<void()>& work) {
  const auto start = std::chrono::steady_clock::now();
  work();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

long PeakMegabytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss / 1024;
}

// The numbers 1 to n as a table "n(i)".
std::string Numbers(long n) {
  return "with recursive n(i) as (select 1 union all select i + 1 from n where i < " +
         std::to_string(n) + ") ";
}

// A village of `parcels` parcels, each its parcel row, a linear feature and
// a ridge deduction, copied from the first base row of the county.
void AddVillage(db::Connection& db, long parcels) {
  std::string list;
  for (const db::ColumnInfo& column : db.Columns("statdata")) {
    const std::string name = db::QuoteName(column.name);
    std::string value = name;
    if (column.name == "图斑编号") value = "cast(n.i as text)";
    if (column.name == "座落单位代码") value = db::QuoteText(kGroup);
    if (column.name == "来源") value = "s.kind";
    list += (list.empty() ? "" : ",") + value;
  }
  db.Execute(Numbers(parcels) + ", s(kind) as (select '地类图斑' union all select '线状地物' " +
             "union all select '地类图斑扣除') insert into statdata select " + list +
             " from n, s, (select * from statdata limit 1) b");
}

// `villages` villages of one protection block each, with their block rows.
void AddBlocks(db::Connection& db, long villages) {
  const std::string code = "'330102' || printf('%06d', n.i)";
  db.Execute(Numbers(villages) + "insert into GQstatdata_jbnt (村级代码, 保护片编号) select " +
             code + ", " + code + " || '0001' from n");
  db.Execute(Numbers(villages) + "insert into ZPMJBNTNEWBHKQKTJ (BHKBH) select " + code +
             " || '0001' from n");
}

// The whole catalogue of the year and county in `db`, then each report
// alone: the time of each, and the whole against the slowest one.
int BenchCatalogue(const std::string& db, const std::string& templates, const std::string& year,
                   const std::string& county, const fs::path& dir) {
  host::RecordingNotifier notifier;
  host::ScopedNotifier scoped(notifier);
  report::CPrintStatDlg dialog;
  dialog.Settings().catalogue_path = (fs::path(templates) / "二次详查表格目录.xml").string();
  dialog.Settings().view = false;
  const std::string tmpl = (fs::path(templates) / "二次详查表格.xlsx").string();
  std::string error;
  const std::vector<std::string> all =
      report::ReportCatalogNames(dialog.Settings().catalogue_path, error);
  std::vector<std::string> names;
  {
    db::Connection database(db);
    for (const std::string& name :
         dialog.SelectReports(database, TableNames(0, year, county), kSquareMetre, all).writable) {
      // The parcel area table is a village's; the balance sheet needs the
      // county's code table, which this bench does not load.
      const char* route = dialog.RouteOf(name).writer;
      const std::string_view writer = route != nullptr ? route : "";
      if (writer != "PrintParcelAreaTable" && writer != "PrintBalanceSheet") {
        names.push_back(name);
      }
    }
  }
  std::vector<std::string> failed;
  const auto write = [&](const std::vector<std::string>& which) {
    dialog.DispatchReportTables((dir / "out").string(), db, &which, tmpl, county, kSquareMetre, 0,
                                year, county);
    for (const report::ReportOutcome& outcome : dialog.Outcomes()) {
      if (!outcome.Written()) failed.push_back(outcome.message);
    }
    return dialog.Failures();
  };
  long failures = 0;
  const double whole = Seconds([&] { failures += write(names); });
  std::printf("catalogue: %zu reports  %.2f s  peak memory %ld MB\n", names.size(), whole,
              PeakMegabytes());
  double largest = 0;
  std::string slowest;
  for (const std::string& name : names) {
    const double seconds = Seconds([&] { failures += write({name}); });
    if (seconds > largest) {
      largest = seconds;
      slowest = name;
    }
  }
  std::printf("largest alone: %s  %.2f s\ncatalogue / largest: %.2f%s\n", slowest.c_str(), largest,
              largest > 0 ? whole / largest : 0.0,
              failures > 0 ? "  (some reports NOT WRITTEN)" : "");
  for (const std::string& message : failed) std::printf("  %s\n", message.c_str());
  return failures > 0 ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string source, templates, year = "2024", county = "330102";
  long parcels = 5000, villages = 500;
  bool catalogue = false;
  for (int i = 1; i < argc; ++i) {
    const std::string option = argv[i];
    if (option == "--catalogue") {
      catalogue = true;
      continue;
    }
    if (i + 1 == argc) break;
    if (option == "--county") county = argv[i + 1];
    if (option == "--year") year = argv[i + 1];
    if (option == "--db") source = argv[i + 1];
    if (option == "--templates") templates = argv[i + 1];
    if (option == "--parcels") parcels = std::atol(argv[i + 1]);
    if (option == "--villages") villages = std::atol(argv[i + 1]);
    ++i;
  }
  if (source.empty() || templates.empty() || parcels <= 0 || villages <= 0) {
    std::fprintf(stderr,
                 "usage: bench_report --db STATS.sqlite --templates DIR [--parcels N] "
                 "[--villages M]\n       bench_report --db STATS.sqlite --templates DIR "
                 "--catalogue [--year YYYY] [--county CODE]\n");
    return 2;
  }
  const fs::path dir = fs::temp_directory_path() / ("bench_report_" + std::to_string(getpid()));
  fs::create_directories(dir);
  if (catalogue) {
    const int status = BenchCatalogue(source, templates, year, county, dir);
    fs::remove_all(dir);
    return status;
  }
  const std::string copy = (dir / "stats.sqlite").string();
  fs::copy_file(source, copy);
  {
    db::Connection db(copy);
    AddVillage(db, parcels);
    AddBlocks(db, villages);
  }
  host::RecordingNotifier notifier;
  host::ScopedNotifier scoped(notifier);
  report::CPrintStatDlg dialog;
  dialog.Settings().catalogue_path = (fs::path(templates) / "二次详查表格目录.xml").string();
  dialog.Settings().view = false;
  const std::string tmpl = (fs::path(templates) / "二次详查表格.xlsx").string();
  const auto write = [&](const std::string& name, const std::string& region) {
    const std::vector<std::string> names{name};
    dialog.DispatchReportTables((dir / "out").string(), copy, &names, tmpl, region, kSquareMetre, 0,
                                "2009", "330102");
  };
  int status = 0;
  const struct {
    const char* name;
    std::string region;
    long count;
    const char* what;
  } cases[] = {{"图斑面积表", kVillage, parcels, "parcels"},
               {"第二次全国土地调查基本农田调查汇总表(按保护块)", "330102", villages, "villages"}};
  for (const auto& c : cases) {
    const double seconds = Seconds([&] { write(c.name, c.region); });
    const bool written = dialog.Outcomes().back().Written();
    std::printf("%s: %ld %s  %.2f s  peak memory %ld MB%s\n", c.name, c.count, c.what, seconds,
                PeakMegabytes(), written ? "" : "  NOT WRITTEN");
    if (!written) {
      std::printf("  %s\n", dialog.Outcomes().back().message.c_str());
      status = 1;
    }
  }
  fs::remove_all(dir);
  return status;
}
