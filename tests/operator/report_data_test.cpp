#include "operator/report_data.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "engine/run_record.h"
#include "engine/run_workspace.h"
#include "engine/table_names.h"
#include "platform/db/connection.h"
#include "platform/db/sqlite_backend.h"
#include "support/full_disk.h"
#include "support/test_databases.h"
#include "support/umask_calls.h"

namespace landstat {
namespace {

namespace fs = std::filesystem;
using testing::BothEngines;
using testing::Texts;

const std::string kYear = "2009";
const std::string kCounty = "330102";

std::vector<std::string> FolderFiles(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  return names;
}

// A statistics database holding two square-metre report tables (one with
// an integer column and empty values), a hectare one, an ownership one and
// the completed run of the year.
class ReportDataTest : public BothEngines {
 protected:
  void SetUpDatabase() override {
    const TableNames names(Mode(), kYear, kCounty);
    const std::string yjfl = names.Summary('Z', kSquareMetre, "TDLY_YJFL");
    conn().Execute("create table " + yjfl +
                   " (XZQDM varchar(19), XZQMC varchar(60), XZQZMJ double precision, ID integer)");
    conn().Execute("insert into " + yjfl + " values ('330102', '某县', 12.5, 7)");
    conn().Execute("insert into " + yjfl + " values ('330102001', '', null, null)");
    for (const auto& [scope, unit] : {std::pair{'Z', kHectare}, std::pair{'Q', kSquareMetre}}) {
      conn().Execute("create table " + names.Summary(scope, unit, "KTZ") + " (XZQDM varchar(19))");
    }
    conn().Execute("create table " + names.Summary('Z', kSquareMetre, "GDPDMJHZ") +
                   " (XZQDM varchar(19), PD1 double precision)");
    testing::RecordCompletedRun(database().ConnectionString(), kYear, kCounty);
  }

  ReportDataRequest Request() const {
    ReportDataRequest request;
    request.source = const_cast<ReportDataTest*>(this)->database().ConnectionString();
    request.year = kYear;
    request.county = kCounty;
    request.unit = "平方米";
    request.output_folder = out.path().string();
    return request;
  }

  testing::TempDir out;
};

TEST_P(ReportDataTest, CopiesTheExistingTablesOfTheUnitWithTheirTypesAndDefaults) {
  const int umask_calls = testing::UmaskCalls();
  const ReportDataResult result = GenerateReportData(Request());
  // The scratch file's mode is set without the process's umask.
  EXPECT_EQ(testing::UmaskCalls(), umask_calls);
  ASSERT_EQ(result.report.outcome, RunOutcome::kCompleted)
      << ::testing::PrintToString(result.report.messages);
  EXPECT_EQ(result.copied, (std::vector<std::string>{"TDLY_YJFL", "GDPDMJHZ"}));
  db::Connection target(result.target);
  EXPECT_EQ(target.ListTables(), (std::vector<std::string>{"GDPDMJHZ", "TDLY_YJFL"}));
  std::vector<std::string> declared;
  for (const db::ColumnInfo& column : target.Columns("TDLY_YJFL")) {
    declared.push_back(column.name + " " + column.declared + " " +
                       column.default_text.value_or(""));
  }
  EXPECT_EQ(declared, (std::vector<std::string>{"XZQDM varchar(60) ", "XZQMC varchar(60) ",
                                                "XZQZMJ double 0.00", "ID varchar(60) "}));
  EXPECT_EQ(Texts(target,
                  "select coalesce(XZQMC, 'null') || '|' || XZQZMJ || '|' || coalesce(ID, 'null') "
                  "from TDLY_YJFL order by XZQDM"),
            (std::vector<std::string>{"某县|12.5|7", "null|0.0|null"}));
  EXPECT_EQ(FolderFiles(out.path()), (std::vector<std::string>{kYear + kCounty + ".sqlite"}));
  // Written again, it replaces its earlier file; never a file holding other
  // tables, such as a statistics database of the same name.
  ASSERT_TRUE(GenerateReportData(Request()).report.Completed());
  db::Connection(result.target).Execute("create table statdata (XZQDM varchar(19))");
  const ReportDataResult refused = GenerateReportData(Request());
  EXPECT_EQ(refused.report.outcome, RunOutcome::kFailed);
  EXPECT_TRUE(db::Connection(result.target).TableExists("statdata"));
}

TEST_P(ReportDataTest, RefusesAYearWhoseLastJobDidNotFinishAndKeepsTheEarlierFile) {
  ASSERT_TRUE(GenerateReportData(Request()).report.Completed());
  {
    // While a job works on the year, its tables are being replaced.
    RunWorkspace job(database().ConnectionString(), Mode() == 1, kYear, kCounty, "run");
    std::string error;
    std::vector<std::string> notices;
    ASSERT_TRUE(job.Open({}, error, notices)) << error;
    const ReportDataResult busy = GenerateReportData(Request());
    EXPECT_EQ(busy.report.outcome, RunOutcome::kFailed);
    EXPECT_NE(::testing::PrintToString(busy.report.messages).find("a job is running"),
              std::string::npos)
        << ::testing::PrintToString(busy.report.messages);
  }
  BeginRunRecord(conn(), kYear, kCounty, "run");
  const ReportDataResult refused = GenerateReportData(Request());
  EXPECT_EQ(refused.report.outcome, RunOutcome::kFailed);
  ASSERT_EQ(refused.report.messages.size(), 1u);
  EXPECT_NE(refused.report.messages[0].find("did not finish"), std::string::npos);
  EXPECT_EQ(FolderFiles(out.path()), (std::vector<std::string>{kYear + kCounty + ".sqlite"}));
  db::Connection earlier((out.path() / (kYear + kCounty + ".sqlite")).string());
  EXPECT_EQ(earlier.ListTables().size(), 2u);
}

// A disk that fills while the file is written fails the export: the
// earlier file stays, and no scratch file.
TEST_P(ReportDataTest, FullDiskKeepsTheEarlierFile) {
  const ReportDataResult earlier = GenerateReportData(Request());
  ASSERT_TRUE(earlier.report.Completed());
  testing::FullDisk disk(".working-report-");
  disk.Fill();
  const ReportDataResult refused = GenerateReportData(Request());
  EXPECT_EQ(refused.report.outcome, RunOutcome::kFailed);
  ASSERT_EQ(refused.report.messages.size(), 1u);
  EXPECT_NE(refused.report.messages[0].find("disk is full"), std::string::npos)
      << refused.report.messages[0];
  EXPECT_EQ(FolderFiles(out.path()), (std::vector<std::string>{kYear + kCounty + ".sqlite"}));
  EXPECT_EQ(db::Connection(earlier.target).ListTables().size(), 2u);
}

TEST_P(ReportDataTest, RefusesAnUnsoundYearAFolderThatIsNoneAndACountyNotHeld) {
  struct Case {
    const char* what;
    void (*change)(ReportDataRequest&);
  };
  for (const Case& bad : {
           Case{"year", [](ReportDataRequest& r) { r.year = "09'"; }},
           Case{"folder", [](ReportDataRequest& r) { r.output_folder += "/missing"; }},
           Case{"county", [](ReportDataRequest& r) { r.county = "330103"; }},
       }) {
    ReportDataRequest request = Request();
    bad.change(request);
    EXPECT_EQ(GenerateReportData(request).report.outcome, RunOutcome::kFailed) << bad.what;
  }
  EXPECT_TRUE(FolderFiles(out.path()).empty());
}

LANDSTAT_BOTH_ENGINES(ReportDataTest);

// Each value a report table holds, copied into the new file: a table
// whose values all stay as they are goes over whole, any other row by row,
// and both store the same values.
TEST(ReportTableCopyTest, StoresEachValueAsItsColumnTakesIt) {
  struct Case {
    const char* declared;  // the source column's type
    const char* value;     // as SQL
    const char* stored;    // typeof | value in the new file; "failed": not copied
  };
  const std::vector<Case> cases = {
      {"double", "12.5", "real|12.5"},
      {"double", "null", "real|0.0"},
      {"double", "'abc'", "failed"},
      {"numeric", "3", "real|3.0"},
      {"varchar(19)", "'a'", "text|a"},
      {"varchar(19)", "''", "null|"},
      {"varchar(19)", "null", "null|"},
      {"integer", "7", "text|7"},
      {"integer", "7.5", "text|7.5"},
      {"", "x'41'", "text|A"},
      {"", "4", "text|4"},
      {"double", "x'32'", "real|2.0"},
  };
  testing::TempDir dir;
  db::CreateSqliteFile(dir.File("source.sqlite"));
  db::CreateSqliteFile(dir.File("target.sqlite"));
  db::Connection source(dir.File("source.sqlite"));
  const TableNames names(0, kYear, kCounty);
  const std::vector<std::string>& bases = ReportTableBases();
  ASSERT_LE(cases.size(), bases.size());
  for (std::size_t i = 0; i < cases.size(); ++i) {
    // Beside a number field and a row that stay as they are.
    const std::string table = names.Summary('Z', kSquareMetre, bases[i]);
    source.Execute("create table " + table + " (A double, C " + cases[i].declared + ")");
    source.Execute("insert into " + table + " values (1, 1)");
    source.Execute("insert into " + table + " values (2, " + cases[i].value + ")");
  }
  db::Connection target(dir.File("target.sqlite"));
  std::vector<std::string> copied, failed;
  ASSERT_EQ(CopyReportTables(source, target, kYear, kCounty, "PM", false, &copied, &failed), 1);
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const std::string& base = bases[i];
    if (std::string(cases[i].stored) == "failed") {
      EXPECT_FALSE(target.TableExists(base)) << cases[i].declared << " " << cases[i].value;
      continue;
    }
    EXPECT_EQ(Texts(target,
                    "select typeof(C) || '|' || coalesce(C, '') from " + base + " where rowid = 2"),
              std::vector<std::string>{cases[i].stored})
        << cases[i].declared << " " << cases[i].value;
  }
  EXPECT_EQ(failed.size(), 1u);
}

TEST(ReportDataFileTest, TakesTheNameWithOneInTheStatisticsFolder) {
  struct Case {
    const char* folder;
    const char* statistics;
    const char* file;
  };
  for (const Case& c : {Case{"/d/out", "/d/stats", "/d/out/2009330102.sqlite"},
                        Case{"/d/stats", "/d/stats", "/d/stats/20093301021.sqlite"},
                        Case{"/d/stats/", "/d/stats", "/d/stats/20093301021.sqlite"},
                        Case{"/d/stats", "", "/d/stats/2009330102.sqlite"}}) {
    EXPECT_EQ(fs::path(ReportDataFile(c.folder, c.statistics, kYear, kCounty)).lexically_normal(),
              fs::path(c.file))
        << c.folder;
  }
  // Folders are the same however they are spelt: through a link, relative.
  testing::TempDir dir;
  const fs::path stats = dir.path() / "stats";
  fs::create_directories(stats);
  fs::create_directory_symlink(stats, dir.path() / "link");
  for (const fs::path& folder : {dir.path() / "link", fs::relative(stats)}) {
    EXPECT_EQ(fs::path(ReportDataFile(folder.string(), stats.string(), kYear, kCounty)).filename(),
              "20093301021.sqlite")
        << folder;
  }
}

}  // namespace
}  // namespace landstat
