// Every table of a full run on a generated county of 20,000 parcels, and every table its
// town-lot run, its rural ownership-lot run (the town lots serving as its lots) and its Inner
// Mongolia run (with either fill) each make or change after it, and every table of the jobs that
// read a finished run (report data, merge, range statistics), checksummed cell for cell and
// compared with the checksums the same inputs gave before: work that makes the runs faster must
// leave every figure, every row and every balancing step as it was. The figures of the summed
// families are also checked to carry no more decimals than their table's unit.
//
// The expected checksums are in tests/data/run_checksums.txt, one line per
// engine and table. When a change is meant to alter what a run stores,
// rewrite them with
//   LANDSTAT_UPDATE_CHECKSUMS=1 scripts/test -R RunChecksums
// (each engine rewrites its own lines) and commit the file with the change.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <numeric>
#include <sstream>
#include <stdexcept>
#include <utility>

#include "county_writer.h"
#include "engine/rounding.h"
#include "engine/statistics_run.h"
#include "landuse/generated_county_run.h"
#include "lots/ncqs_run.h"
#include "lots/town_lot_run.h"
#include "mongolia/mongolia_run.h"
#include "operator/batch_request.h"
#include "operator/merge.h"
#include "operator/range_run.h"
#include "operator/range_statistics.h"
#include "operator/report_data.h"
#include "platform/db/reads_apart.h"
#include "platform/db/recordset.h"
#include "platform/db/sql_quote.h"
#include "platform/gis/gis_fixtures.h"
#include "platform/gis/layers.h"
#include "platform/host/paths.h"
#include "platform/host/progress.h"
#include "platform/text/ascii_text.h"
#include "support/program_dir.h"
#include "support/test_databases.h"
#include "units/conversion_run.h"

namespace landstat {
namespace {

namespace fs = std::filesystem;

constexpr long kParcels = 20000;
constexpr std::uint64_t kSeed = 17;
const fs::path kChecksumFile = fs::path(LANDSTAT_SOURCE_DIR) / "tests/data/run_checksums.txt";

// Left out: the run record StatRuns, whose rows hold the times a run started
// and ended. No other table of a run holds a time.
const char* const kLeftOut[] = {"STATRUNS"};

// A table's name as a stand-alone database gives it, in upper case: a
// server's names carry the year and county ("D" + year + county + base for a
// plain table, "D" + county for the area-unit table) and are folded to lower
// case by the server.
std::string BaseName(const std::string& table, const std::string& year, const std::string& county) {
  std::string name = text::ToLowerAscii(table);
  for (const std::string& part : {year + county, county}) {
    const std::size_t at = name.find(part);
    if (at == std::string::npos) continue;
    const std::size_t from = (at == 1 && name[0] == 'd') ? 0 : at;
    name.erase(from, at + part.size() - from);
    break;
  }
  return text::ToUpperAscii(name);
}

// Appends a cell as the checksum reads it: numbers with six decimals (the
// tables keep at most four, so the noise of sums in SQL rounds away), text
// as stored, null as \N; a tab after it.
void AppendCell(std::string& row, const db::Value& value) {
  if (value.IsNull()) {
    row += "\\N";
  } else if (value.IsText()) {
    row += value.AsText();
  } else {
    const double number =
        value.IsInteger() ? static_cast<double>(value.AsInteger()) : value.AsDouble();
    char text[64];
    std::snprintf(text, sizeof text, "%.6f", number);
    row += std::strcmp(text, "-0.000000") == 0 ? "0.000000" : text;
  }
  row += '\t';
}

struct TableSum {
  long rows = 0;
  std::uint64_t checksum = 0;
  bool operator==(const TableSum&) const = default;
};
using TableSums = std::map<std::string, TableSum>;  // by base name

// FNV-1a, 64 bits: stable across machines and compilers.
void Hash(std::uint64_t& hash, const std::string& text) {
  for (unsigned char c : text) {
    hash ^= c;
    hash *= 1099511628211ULL;
  }
}

// The columns in the order of their upper-cased names, then the rows sorted
// by their text, so neither the order a statement wrote them in nor the
// case a server gave the names changes the checksum.
TableSum SumTable(db::Connection& conn, const std::string& table) {
  db::Recordset rows(conn, "select * from " + db::QuoteName(table));
  std::vector<int> columns(rows.FieldCount());
  std::iota(columns.begin(), columns.end(), 0);
  std::sort(columns.begin(), columns.end(), [&](int a, int b) {
    return text::ToUpperAscii(rows.FieldName(a)) < text::ToUpperAscii(rows.FieldName(b));
  });
  std::string header;
  for (int column : columns) header += text::ToUpperAscii(rows.FieldName(column)) + "\t";
  std::vector<std::string> texts;
  for (; !rows.IsEOF(); rows.MoveNext()) {
    std::string text;
    for (int column : columns) AppendCell(text, rows.Field(column));
    texts.push_back(std::move(text));
  }
  std::sort(texts.begin(), texts.end());
  TableSum sum{static_cast<long>(texts.size()), 14695981039346656037ULL};
  Hash(sum.checksum, header + "\n");
  for (const std::string& text : texts) Hash(sum.checksum, text + "\n");
  return sum;
}

// The families whose sums are stored rounded to their table's unit, with
// the decimals of the units of the run's configuration.
const char* const kRoundedFamilies[] = {
    "KTZ",           "PEWY_EJFL",     "PEWY_YJFL",   "NCTDLY_YJFL",    "NCTDLY_EJFL",
    "NCTDLY_SJFL",   "HDTDLY_YJFL",   "HDTDLY_EJFL", "NCHDTDLY_YJFL",  "NCHDTDLY_EJFL",
    "NCTDLY_QSSJFL", "NCTDLY_QSYJFL", "GDPDMJHZ",    "TDLYTZ",         "JBNTKTZ",
    "BHKKTZ",        "JBNTQKTJ",      "JBNTBHKQKTJ", "JBNTNEWBHKQKTJ", "JBNTBHMJ",
    "FRDTDLY_YJFL",  "FRDTDLY_EJFL"};
const std::pair<const char*, int> kUnitDecimals[] = {{"PM", 2}, {"GQ", 4}, {"MU", 2}};
// The reserve summaries that are only summed, in square metres and named
// without a scope.
const char* const kRoundedSquareMetreTables[] = {"PMMJ_GDHB", "PMMJ_GDHBOLD", "PMPJ_GDHB"};

// The decimals of a table of a rounded family (by base name), or -1.
int RoundedDecimals(const std::string& base) {
  for (const char* table : kRoundedSquareMetreTables) {
    if (base == table) return 2;
  }
  for (const char* family : kRoundedFamilies) {
    for (const auto& [unit, decimals] : kUnitDecimals) {
      for (const char* scope : {"Z", "Q"}) {
        if (base == std::string(scope) + unit + family) return decimals;
      }
    }
  }
  return -1;
}

// The tables and views of the database: on a server the ownership tables
// are views.
std::vector<std::string> Tables(db::Connection& conn) {
  return testing::Texts(conn,
                        conn.Kind() == db::DbKind::kServer
                            ? "select table_name from information_schema.tables "
                              "where table_schema = current_schema()"
                            : "select name from sqlite_master where type in ('table', 'view') "
                              "and name not like 'sqlite!_%' escape '!'");
}

// Every table of the database but the run record, by base name.
TableSums SumTables(db::Connection& conn, const std::string& year, const std::string& county) {
  TableSums sums;
  for (const std::string& table : Tables(conn)) {
    const std::string base = BaseName(table, year, county);
    if (std::find(std::begin(kLeftOut), std::end(kLeftOut), base) == std::end(kLeftOut)) {
      sums[base] = SumTable(conn, table);
    }
  }
  return sums;
}

// The tables of `after` that are new or differ from `before`.
TableSums Changed(const TableSums& before, const TableSums& after) {
  TableSums changed;
  for (const auto& [table, sum] : after) {
    const auto old = before.find(table);
    if (old == before.end() || !(old->second == sum)) changed[table] = sum;
  }
  return changed;
}

// The checksum file's lines by engine, then base name. A line that cannot
// be read fails the test, naming it.
std::map<std::string, TableSums> ReadChecksums() {
  std::map<std::string, TableSums> sums;
  std::ifstream in(kChecksumFile);
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    std::string engine, table, checksum;
    TableSum sum;
    if (!(fields >> engine >> table >> sum.rows >> checksum) || checksum.size() != 16 ||
        checksum.find_first_not_of("0123456789abcdef") != std::string::npos) {
      ADD_FAILURE() << kChecksumFile.string() << ", line " << number << ": unreadable: " << line;
      continue;
    }
    sum.checksum = std::stoull(checksum, nullptr, 16);
    sums[engine][table] = sum;
  }
  return sums;
}

// Replaces one engine's lines of the checksum file. The engines run as
// separate processes, side by side: a lock on the folder keeps their
// rewrites apart.
void WriteChecksums(const std::string& engine, const TableSums& sums) {
  const int folder = ::open(kChecksumFile.parent_path().c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_GE(folder, 0) << "cannot open " << kChecksumFile.parent_path();
  ASSERT_EQ(::flock(folder, LOCK_EX), 0);
  std::map<std::string, TableSums> all = ReadChecksums();
  all[engine] = sums;
  const fs::path temporary = kChecksumFile.string() + ".new";
  {
    std::ofstream out(temporary, std::ios::trunc);
    out << "# Checksums of every table of a full run on a generated county of " << kParcels
        << " parcels (seed " << kSeed
        << "),\n# of what unit conversions change (ENGINE-convert, see "
           "ConversionChecksumsTest)\n# and of the jobs on a run (ENGINE-jobs, "
           "JobChecksumsTest):\n# engine, table, rows, FNV-1a. Written by RunChecksumsTest "
           "with\n"
           "# LANDSTAT_UPDATE_CHECKSUMS=1 (see tests/engine/run_checksums_test.cpp).\n";
    for (const auto& [name, tables] : all) {
      for (const auto& [table, sum] : tables) {
        char checksum[17];
        std::snprintf(checksum, sizeof checksum, "%016llx",
                      static_cast<unsigned long long>(sum.checksum));
        out << name << " " << table << " " << sum.rows << " " << checksum << "\n";
      }
    }
    EXPECT_TRUE(out.good()) << "cannot write " << temporary;
  }
  fs::rename(temporary, kChecksumFile);
  ::close(folder);
}

// What differs between the expected checksums and a run's, a line a table.
std::string Differences(const TableSums& expected, const TableSums& actual) {
  std::ostringstream out;
  for (const auto& [table, sum] : expected) {
    const auto found = actual.find(table);
    if (found == actual.end()) {
      out << "missing: " << table << "\n";
    } else if (!(found->second == sum)) {
      out << "changed: " << table << " (" << sum.rows << " rows before, " << found->second.rows
          << " now)\n";
    }
  }
  for (const auto& [table, sum] : actual) {
    if (!expected.count(table)) out << "new: " << table << " (" << sum.rows << " rows)\n";
  }
  return out.str();
}

// Compares a run's checksums with the file's lines of `engine` (an engine's
// name, and what part of the run), or rewrites those lines when
// LANDSTAT_UPDATE_CHECKSUMS is 1; true when it rewrote them.
bool CompareOrWrite(const std::string& engine, const TableSums& sums) {
  const char* update = std::getenv("LANDSTAT_UPDATE_CHECKSUMS");
  if (update && std::string(update) == "1") {
    WriteChecksums(engine, sums);
    return true;
  }
  const TableSums expected = ReadChecksums()[engine];
  EXPECT_FALSE(expected.empty()) << "no checksums of " << engine << " in " << kChecksumFile
                                 << ": write them with LANDSTAT_UPDATE_CHECKSUMS=1";
  EXPECT_EQ(Differences(expected, sums), "")
      << engine << ": if the change is meant to alter these tables, rewrite " << kChecksumFile
      << " with LANDSTAT_UPDATE_CHECKSUMS=1";
  return false;
}

// What the Inner Mongolia run with the fill of `db_mode` (2: the
// temporary fill) makes or changes on a database that holds `before`.
TableSums MongoliaChanges(const StatisticsRequest& general, gis::CGisXmlPrj& project,
                          gis::RuralCode& codes, short db_mode, const TableSums& before) {
  MongoliaRequest request;
  static_cast<JobTarget&>(request) = general;
  request.db_mode = db_mode;
  request.project = &project;
  request.second_codes = &codes;
  const RunReport report = RunMongolia(request);
  EXPECT_EQ(report.outcome, RunOutcome::kCompleted)
      << db_mode << ": " << testing::ReadFileBytes(general.log_path);
  db::Connection after(general.connection);
  return Changed(before, SumTables(after, general.year, general.county));
}

class RunChecksumsTest : public testing::BothEngines {
 protected:
  void SetUpDatabase() override {
    testing::WriteStatConfig(testing::kThreeUnits);
    // The installation's scripts, so the ownership tables are built too.
    testing::InstallStatementScripts();
    county_ = std::make_unique<testing::GeneratedCountyRun>(home_, kSeed, kParcels, "330102", false,
                                                            true);
    testing::WriteFileBytes(county_->host_settings,
                            "<HostSetting><Set version=\"通用农村\"/></HostSetting>");
    testing::WriteFileBytes(county_->log, "");
  }

  // The statistics run of the generated county into the test's database.
  StatisticsRequest Request(gis::CGisXmlPrj& project) {
    StatisticsRequest request;
    request.project = &project;
    request.codes = county_->codes.get();
    request.connection = database().ConnectionString();
    request.year = "2009";
    request.county = county_->options.county_code;
    request.db_mode = Mode();
    request.log_path = county_->log;
    return request;
  }

  // The general run of the county into the test's database, finished.
  void RunCounty() {
    project_ = gis::CGisXmlPrj::Open(county_->files.project);
    request_ = Request(*project_);
    ASSERT_EQ(RunStatistics(request_).outcome, RunOutcome::kCompleted)
        << testing::ReadFileBytes(county_->log);
  }

  // Every table of the test's database, through a new connection: a run
  // puts a new file in the old one's place.
  TableSums SumDatabase() {
    db::Connection conn(database().ConnectionString());
    return SumTables(conn, request_.year, request_.county);
  }

  // Compares `sums` with the file's lines of the engine's name followed by
  // `suffix`, or rewrites them and skips the test.
  void Compare(const std::string& suffix, const TableSums& sums) {
    if (CompareOrWrite(testing::EngineName({GetParam(), 0}) + suffix, sums)) {
      GTEST_SKIP() << "wrote the checksums of " << sums.size() << " tables to " << kChecksumFile;
    }
  }

  void CompareMongolia(short fill, const std::string& suffix);

  testing::ScopedProgramDir home_;
  std::unique_ptr<testing::GeneratedCountyRun> county_;
  std::unique_ptr<gis::CGisXmlPrj> project_;
  StatisticsRequest request_;
};

// Every table of the general run, under the engine's name; the summed
// families' figures on their unit's grid.
TEST_P(RunChecksumsTest, EveryTableOfTheGeneralRunIsAsBefore) {
  ASSERT_NO_FATAL_FAILURE(RunCounty());
  db::Connection result(database().ConnectionString());
  TableSums sums;
  for (const std::string& table : Tables(result)) {
    const std::string base = BaseName(table, request_.year, request_.county);
    if (std::find(std::begin(kLeftOut), std::end(kLeftOut), base) != std::end(kLeftOut)) continue;
    sums[base] = SumTable(result, table);
    if (const int decimals = RoundedDecimals(base); decimals >= 0) {
      EXPECT_EQ(testing::CellsOffTheGrid(result, "select * from " + db::QuoteName(table), decimals),
                0)
          << table;
    }
  }
  Compare("", sums);
}

// Every table the town-lot run of the county's lots makes or changes after
// the general run, under "-town".
TEST_P(RunChecksumsTest, EveryTableOfTheTownLotRunIsAsBefore) {
  ASSERT_NO_FATAL_FAILURE(RunCounty());
  const TableSums before = SumDatabase();
  TownLotRequest town;
  static_cast<JobTarget&>(town) = request_;
  town.project = project_.get();
  ASSERT_EQ(RunTownLots(town).outcome, RunOutcome::kCompleted)
      << testing::ReadFileBytes(county_->log);
  const TableSums sums = Changed(before, SumDatabase());
  EXPECT_GT(sums.size(), 20u);
  Compare("-town", sums);
}

// Every table the rural ownership-lot run over the county's town lots makes
// or changes after the general run, under "-ncqs".
TEST_P(RunChecksumsTest, EveryTableOfTheRuralLotRunIsAsBefore) {
  ASSERT_NO_FATAL_FAILURE(RunCounty());
  const TableSums before = SumDatabase();
  NcqsRequest ncqs;
  static_cast<JobTarget&>(ncqs) = request_;
  ncqs.project = project_.get();
  ncqs.lot_layer_name = kTownLotLayerNames[0];
  ASSERT_EQ(RunNcqs(ncqs).outcome, RunOutcome::kCompleted) << testing::ReadFileBytes(county_->log);
  const TableSums sums = Changed(before, SumDatabase());
  ASSERT_TRUE(sums.count("NCZD_AREA"));
  EXPECT_GT(sums.at("NCZD_AREA").rows, 100);
  Compare("-ncqs", sums);
}

// Every table the Inner Mongolia run with the fill of `fill` makes or
// changes after the general run, under "-mongolia" + `suffix`.
void RunChecksumsTest::CompareMongolia(short fill, const std::string& suffix) {
  ASSERT_NO_FATAL_FAILURE(RunCounty());
  const TableSums before = SumDatabase();
  std::unique_ptr<gis::RuralCode> mg_codes(gis::RuralCode::Load(county_->files.mongolia_codes));
  const TableSums sums = MongoliaChanges(request_, *project_, *mg_codes, fill, before);
  EXPECT_GE(sums.size(), 20u);
  Compare("-mongolia" + suffix, sums);
}

TEST_P(RunChecksumsTest, EveryTableOfTheInnerMongoliaRunIsAsBefore) {
  CompareMongolia(0, "");
}

// The same by the temporary fill.
TEST_P(RunChecksumsTest, EveryTableOfTheStagedInnerMongoliaRunIsAsBefore) {
  CompareMongolia(2, "-staged");
}

LANDSTAT_BOTH_ENGINES(RunChecksumsTest);

// Every figure a run stores, exactly (17 significant digits), by table: the
// rows sorted by their text.
std::map<std::string, std::vector<std::string>> ExactFigures(db::Connection& conn) {
  std::map<std::string, std::vector<std::string>> figures;
  for (const std::string& table : Tables(conn)) {
    if (text::ToUpperAscii(table).find("STATRUNS") != std::string::npos) continue;
    db::Recordset rows(conn, "select * from " + db::QuoteName(table));
    std::vector<std::string>& texts = figures[text::ToUpperAscii(table)];
    for (; !rows.IsEOF(); rows.MoveNext()) {
      std::string row;
      for (int column = 0; column < rows.FieldCount(); ++column) {
        const db::Value value = rows.Field(column);
        char number[40];
        std::snprintf(number, sizeof number, "%.17g", value.IsDouble() ? value.AsDouble() : 0.0);
        row += (value.IsDouble() ? std::string(number)
                : value.IsNull() ? "\\N"
                                 : value.AsText()) +
               "\t";
      }
      texts.push_back(std::move(row));
    }
    std::sort(texts.begin(), texts.end());
  }
  return figures;
}

// A smaller county run with one worker and with several: the same figures
// to the bit in every table.
class RunWorkersTest : public RunChecksumsTest {
 protected:
  void SetUpDatabase() override {
    testing::WriteStatConfig(testing::kThreeUnits);
    testing::InstallStatementScripts();
    county_ = std::make_unique<testing::GeneratedCountyRun>(home_, kSeed, 3000);
    testing::WriteFileBytes(county_->log, "");
  }
};

TEST_P(RunWorkersTest, AFullRunStoresTheSameFiguresWhateverTheWorkers) {
  std::unique_ptr<gis::CGisXmlPrj> project = gis::CGisXmlPrj::Open(county_->files.project);
  const StatisticsRequest request = Request(*project);
  std::vector<std::map<std::string, std::vector<std::string>>> runs;
  for (std::size_t workers : {1, 6}) {
    db::SetWorkers(workers);
    ASSERT_EQ(RunStatistics(request).outcome, RunOutcome::kCompleted)
        << testing::ReadFileBytes(county_->log);
    db::Connection result(database().ConnectionString());
    runs.push_back(ExactFigures(result));
  }
  db::SetWorkers(0);
  ASSERT_GT(runs[0].size(), 100u);
  for (const auto& [table, rows] : runs[0]) {
    EXPECT_TRUE(runs[1][table] == rows) << table << " differs with 6 workers";
  }
}

LANDSTAT_BOTH_ENGINES(RunWorkersTest);

// The unit conversions of a smaller county's general and town-lot runs, one
// after the other: what each changes (a table gone has -1 rows), checksummed
// as the run's tables are, under the engine's name and "-convert".
class ConversionChecksumsTest : public RunChecksumsTest {
 protected:
  void SetUpDatabase() override {
    testing::WriteStatConfig(testing::kThreeUnits);
    testing::InstallStatementScripts();
    county_ = std::make_unique<testing::GeneratedCountyRun>(home_, kSeed, 3000);
    testing::WriteFileBytes(county_->host_settings,
                            "<HostSetting><Set version=\"通用农村\"/></HostSetting>");
    testing::WriteFileBytes(county_->log, "");
  }
};

TEST_P(ConversionChecksumsTest, EveryTableAConversionChangesIsAsBefore) {
  ASSERT_NO_FATAL_FAILURE(RunCounty());
  const StatisticsRequest& request = request_;
  TownLotRequest town;
  static_cast<JobTarget&>(town) = request;
  town.project = project_.get();
  ASSERT_EQ(RunTownLots(town).outcome, RunOutcome::kCompleted)
      << testing::ReadFileBytes(county_->log);

  // With the configured decimals (hectares 4, mu 2) and with others.
  const struct {
    const char* name;
    short unit;
    short decimals;
  } kConversions[] = {
      {"mu", kMu, -1}, {"hectare2", kHectare, 2}, {"hectare", kHectare, -1}, {"mu3", kMu, 3}};
  TableSums before = [&] {
    db::Connection conn(database().ConnectionString());
    return SumTables(conn, request.year, request.county);
  }();
  TableSums changes;
  for (const auto& conversion : kConversions) {
    ConversionRequest convert;
    static_cast<JobTarget&>(convert) = request;
    convert.target = conversion.unit;
    convert.decimals = conversion.decimals;
    ASSERT_EQ(ConvertStatistics(convert).outcome, RunOutcome::kCompleted)
        << conversion.name << "\n"
        << testing::ReadFileBytes(county_->log);
    db::Connection conn(database().ConnectionString());
    const TableSums after = SumTables(conn, request.year, request.county);
    const std::string prefix = std::string(conversion.name) + ":";
    for (const auto& [table, sum] : Changed(before, after)) changes[prefix + table] = sum;
    for (const auto& [table, sum] : before) {
      if (!after.count(table)) changes[prefix + table] = {-1, 0};
    }
    before = after;
  }
  ASSERT_GT(changes.size(), 20u);

  // A conversion that fails once its extension table is made (copied from
  // the run's mu copy) leaves every table as it was.
  struct FailingProgress : host::Progress {
    void Begin(const std::string&) override {}
    void SetText(const std::string& text) override {
      if (text == "正在转换土地利用数据") throw std::runtime_error("stopped");
    }
    void Step(const std::string&, double) override {}
    void End() override {}
  } failing;
  host::Progress* const shown = host::SetProgress(&failing);
  ConversionRequest convert;
  static_cast<JobTarget&>(convert) = request;
  convert.target = kMu;
  const RunOutcome failed = ConvertStatistics(convert).outcome;
  host::SetProgress(shown);
  EXPECT_EQ(failed, RunOutcome::kFailed);
  db::Connection after(database().ConnectionString());
  EXPECT_EQ(Differences(before, SumTables(after, request.year, request.county)), "");

  const std::string engine = testing::EngineName({GetParam(), 0}) + "-convert";
  const char* update = std::getenv("LANDSTAT_UPDATE_CHECKSUMS");
  if (update && std::string(update) == "1") {
    WriteChecksums(engine, changes);
    GTEST_SKIP() << "wrote the checksums of " << changes.size() << " tables to " << kChecksumFile;
  }
  const TableSums expected = ReadChecksums()[engine];
  ASSERT_FALSE(expected.empty()) << "no checksums of " << engine << " in " << kChecksumFile;
  EXPECT_EQ(Differences(expected, changes), "");
}

LANDSTAT_BOTH_ENGINES(ConversionChecksumsTest);

// A county batch of two smaller generated counties of one city, run side by
// side: every table each county's run leaves (on a server, the tables named
// with the other county left out), checksummed as a run's are, under the
// engine's name and "-batch", each by its county and base name; and the
// same tables as each county leaves run alone.
class BatchChecksumsTest : public testing::BothEngines {
 protected:
  void SetUpDatabase() override {
    testing::WriteStatConfig(testing::kThreeUnits);
    for (const char* code : kCounties) {
      counties_.push_back(std::make_unique<testing::GeneratedCountyRun>(home_, kSeed, 3000, code));
      county::AddCountyToCatalogue(counties_.back()->plan, counties_.back()->files, Catalogue());
    }
  }
  std::string Catalogue() const { return home_.File("counties.sqlite"); }

  // The tables of the batch's counties, each under its county's code.
  TableSums SumCounties(const CountyBatchResult& batch) {
    TableSums sums;
    for (const CountyBatchEntry& entry : batch.counties) {
      db::Connection conn(entry.database);
      for (const std::string& table : Tables(conn)) {
        const bool other = std::any_of(std::begin(kCounties), std::end(kCounties), [&](auto code) {
          return code != entry.code && table.find(code) != std::string::npos;
        });
        const std::string base = BaseName(table, "2009", entry.code);
        if (other ||
            std::find(std::begin(kLeftOut), std::end(kLeftOut), base) != std::end(kLeftOut)) {
          continue;
        }
        sums[entry.code + ":" + base] = SumTable(conn, table);
      }
    }
    return sums;
  }

  static constexpr const char* kCounties[] = {"330102", "330103"};
  testing::ScopedProgramDir home_;
  std::vector<std::unique_ptr<testing::GeneratedCountyRun>> counties_;
};

TEST_P(BatchChecksumsTest, EveryTableOfACountyBatchIsAsBefore) {
  CountyBatchRequest request =
      testing::BatchRequest(Catalogue(), {std::begin(kCounties), std::end(kCounties)},
                            home_.path().string(), IsServer() ? database().ConnectionString() : "");
  const CountyBatchResult batch = StatCountyDataBatch(request);
  ASSERT_EQ(batch.report.outcome, RunOutcome::kCompleted)
      << ::testing::PrintToString(batch.report.messages);
  const TableSums sums = SumCounties(batch);
  EXPECT_GT(sums.size(), 30u);
  for (const char* code : kCounties) {
    request.codes = {code};
    const TableSums alone = SumCounties(StatCountyDataBatch(request));
    TableSums beside;
    for (const auto& [table, sum] : sums) {
      if (table.rfind(code, 0) == 0) beside[table] = sum;
    }
    EXPECT_EQ(Differences(beside, alone), "") << code << " alone";
  }
  if (CompareOrWrite(testing::EngineName({GetParam(), 0}) + "-batch", sums)) {
    GTEST_SKIP() << "wrote the checksums of " << sums.size() << " tables to " << kChecksumFile;
  }
}

LANDSTAT_BOTH_ENGINES(BatchChecksumsTest);

// The jobs that read a finished run, on a smaller county: every table of the
// report-data file in mu and, on SQLite (the only engine these jobs work on),
// of the merge of the run's file with a copy of itself and of the land-use
// statistics of a range cut out of a tenth of the county, under the engine's
// name and "-jobs".
class JobChecksumsTest : public ConversionChecksumsTest {};

TEST_P(JobChecksumsTest, EveryTableOfTheJobsOnARunIsAsBefore) {
  ASSERT_NO_FATAL_FAILURE(RunCounty());
  const StatisticsRequest& request = request_;
  TableSums sums;
  const auto add = [&](const std::string& job, const std::string& file) {
    db::Connection conn(file);
    for (const auto& [table, sum] : SumTables(conn, "", "")) sums[job + ":" + table] = sum;
  };
  testing::TempDir folder;

  ReportDataRequest report;
  report.source = database().ConnectionString();
  report.year = request.year;
  report.county = request.county;
  report.unit = "亩";
  report.output_folder = folder.path().string();
  const ReportDataResult exported = GenerateReportData(report);
  ASSERT_EQ(exported.report.outcome, RunOutcome::kCompleted);
  add("report", exported.target);

  if (!IsServer()) {
    for (const char* side : {"rural", "town", "out"}) fs::create_directories(folder.File(side));
    MergeRequest merge;
    merge.rural = folder.File("rural/2009330102.sqlite");
    merge.town = folder.File("town/2009330102.sqlite");
    fs::copy_file(conn().Location(), merge.rural);
    fs::copy_file(conn().Location(), merge.town);
    merge.output_folder = folder.File("out");
    merge.codes = county_->codes.get();
    merge.mode = kMergeToNew;
    const MergeResult merged = MergeStatistics(merge);
    ASSERT_EQ(merged.report.outcome, RunOutcome::kCompleted) << merged.message;
    add("merge", merged.target);

    gis::Rect extent;
    ASSERT_TRUE(gis::LayerExtent(project_->prjItemGetAi("地类图斑"), extent));
    const double half = std::sqrt(0.1) / 2;
    const double x = (extent.max_x - extent.min_x) * half, y = (extent.max_y - extent.min_y) * half;
    const double cx = (extent.min_x + extent.max_x) / 2, cy = (extent.min_y + extent.max_y) / 2;
    testing::WriteRectangleFile(folder.File("tenth.gpkg"), {cx - x, cy - y, cx + x, cy + y});
    RangeRequest range;
    range.project = county_->files.project;
    range.polygon = folder.File("tenth.gpkg");
    range.range_folder = folder.File("range");
    range.county = request.county;
    range.codes = county_->codes.get();
    ASSERT_EQ(RunRange(range).outcome, RunOutcome::kCompleted);
    add("range", folder.File("range/" + std::string(kRangeDatabaseName)));
  }
  if (CompareOrWrite(testing::EngineName({GetParam(), 0}) + "-jobs", sums)) {
    GTEST_SKIP() << "wrote the checksums of " << sums.size() << " tables to " << kChecksumFile;
  }
}

LANDSTAT_BOTH_ENGINES(JobChecksumsTest);

}  // namespace
}  // namespace landstat
