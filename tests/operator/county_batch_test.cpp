#include "operator/county_batch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "county_plan.h"
#include "county_writer.h"
#include "engine/survey_fixture.h"
#include "engine/table_names.h"
#include "operator/batch_request.h"
#include "operator/county_catalogue.h"
#include "platform/db/connection.h"
#include "support/program_dir.h"
#include "support/run_program.h"
#include "support/test_databases.h"

namespace landstat {
namespace {

using testing::ReadFileBytes;

// Three small generated counties in a catalogue: 330102 and 330103 as
// generated, and under 330105 the survey of 330104, whose parcels lie in
// another county, so that its run fails.
class CountyBatchTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    home_ = new testing::ScopedProgramDir;
    testing::WriteStatConfig(testing::kThreeUnits);
    for (const char* code : {"330102", "330103", "330104"}) {
      county::CountyOptions options;
      options.parcels = 60;
      options.county_code = code;
      const county::CountyPlan plan = county::PlanCounty(options);
      const county::CountyFiles files = county::WriteCounty(plan, home_->File(code));
      county::AddCountyToCatalogue(plan, files, Catalogue());
      if (std::string(code) == "330104") {
        AddCatalogueCounty(Catalogue(), {{"330105", "另一县", "3301"}}, "330105", files.project);
      }
    }
  }
  static void TearDownTestSuite() { delete home_; }
  static std::string Catalogue() { return home_->File("counties.sqlite"); }

  CountyBatchRequest Request(std::vector<std::string> codes) const {
    CountyBatchRequest request;
    request.catalogue = Catalogue();
    request.year = "2009";
    request.codes = std::move(codes);
    request.folder = out_.path().string();
    request.log_folder = out_.path().string();
    return request;
  }

  static testing::ScopedProgramDir* home_;
  testing::TempDir out_;
};

testing::ScopedProgramDir* CountyBatchTest::home_ = nullptr;

TEST_F(CountyBatchTest, ResultAndMessageByWhatRan) {
  struct Case {
    std::vector<std::string> codes;
    short result;
    RunOutcome outcome;  // a county passed over or failed is a failure of the batch
    const char* message;
    const char* catalogue_as = nullptr;  // the catalogue copied to this file of the folder
  };
  const Case cases[] = {
      {{"330000", "330100", "330199"},
       -1,
       RunOutcome::kFailed,
       "没有找到数据!\n未汇总的县: 330199"},
      {{"330105"}, 0, RunOutcome::kFailed, "汇总失败!\n汇总失败的县: 330105"},
      {{"330100", "330102", "330105", "330103"},
       1,
       RunOutcome::kCompletedWithFailures,
       "汇总完成!\n汇总失败的县: 330105"},
      {{"330102", "330199"},
       1,
       RunOutcome::kCompletedWithFailures,
       "汇总完成!\n未汇总的县: 330199"},
      {{}, 0, RunOutcome::kFailed, "汇总失败!"},
      // The county's statistics file would be the catalogue it was found in.
      {{"330103"},
       -1,
       RunOutcome::kFailed,
       "没有找到数据!\n未汇总的县: 330103",
       "2009330103.sqlite"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    CountyBatchRequest request = Request(c.codes);
    if (c.catalogue_as) {
      request.catalogue = (out_.path() / c.catalogue_as).string();
      std::filesystem::copy_file(Catalogue(), request.catalogue,
                                 std::filesystem::copy_options::overwrite_existing);
    }
    const std::string catalogue = ReadFileBytes(request.catalogue);
    const CountyBatchResult batch = StatCountyDataBatch(request);
    EXPECT_EQ(batch.result, c.result);
    EXPECT_EQ(batch.report.outcome, c.outcome);
    EXPECT_EQ(CountyBatchMessage(batch).rfind(c.message, 0), 0u) << CountyBatchMessage(batch);
    EXPECT_EQ(ReadFileBytes(request.catalogue), catalogue);
  }
}

// Counties run side by side: the batch log and the summary name them in the
// order given, each county keeps its own log.
TEST_F(CountyBatchTest, TheCommandNamesTheFailedCountyAndExitsThree) {
  const testing::Outcome ran = testing::RunProgram(
      LANDSTAT_CLI,
      {"batch", "--regions", "330100,330102,330105,330103,330199", "--year", "2009", "--folder",
       out_.path().string(), "--catalogue", Catalogue(), "--home", home_->path().string(),
       "--log-folder", out_.path().string(), "--jobs", "3", "--quiet"});
  EXPECT_EQ(ran.exit_code, 3) << ran.out << ran.err;
  EXPECT_NE(ran.out.find("county 330105 failed"), std::string::npos) << ran.out;
  EXPECT_NE(ran.out.find("county 330199 passed over"), std::string::npos) << ran.out;
  const std::string log = ReadFileBytes(out_.path() / "2009StatLog.txt");
  EXPECT_NE(log.find("D330199DC2009G 未汇总: no survey in the county catalogue"), std::string::npos)
      << log;
  EXPECT_EQ(log.find("D330100"), std::string::npos) << log;
  std::vector<std::size_t> lines, summary;
  for (const std::string code : {"330102", "330105", "330103", "330199"}) {
    lines.push_back(log.find("D" + code));
    summary.push_back(ran.out.find("  " + code + "  "));
    if (code == "330199") continue;
    // A failure's line begins with its number: only the failed county's log has one.
    const std::string own = "\n" + ReadFileBytes(out_.path() / ("2009" + code + "StatLog.txt"));
    EXPECT_EQ(own.find("\n1 ") != std::string::npos, code == "330105") << code << own;
  }
  EXPECT_TRUE(std::is_sorted(lines.begin(), lines.end()) && lines.back() != std::string::npos)
      << log;
  EXPECT_TRUE(std::is_sorted(summary.begin(), summary.end()) && summary.back() != std::string::npos)
      << ran.out;
  for (const char* file : {"2009330102.sqlite", "2009330103.sqlite"}) {
    EXPECT_TRUE(std::filesystem::exists(out_.path() / file)) << file;
  }
}

// The logs lie beside the statistics files when no log folder is given, and
// a log planted as a symbolic link is never followed: at the batch log no
// county runs, at a county's log that county does not run and fails.
TEST_F(CountyBatchTest, LogsLieBesideTheFilesAndNeverThroughALink) {
  const struct {
    const char* link;  // the log planted as a link; none: no link
    short result;
    const char* made;  // the statistics file the batch leaves; none: no file
  } kCases[] = {
      {nullptr, 1, "2009330102.sqlite"},
      {"2009StatLog.txt", 0, nullptr},
      {"2009330102StatLog.txt", 0, nullptr},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.link ? c.link : "no link");
    testing::TempDir folder;
    testing::WriteFileBytes(folder.File("victim"), "keep");
    if (c.link) std::filesystem::create_symlink(folder.File("victim"), folder.File(c.link));
    CountyBatchRequest request = Request({"330102"});
    request.folder = folder.path().string();
    request.log_folder.clear();
    const CountyBatchResult batch = StatCountyDataBatch(request);
    EXPECT_EQ(batch.result, c.result);
    EXPECT_EQ(batch.log_path, folder.File("2009StatLog.txt"));
    EXPECT_EQ(ReadFileBytes(folder.File("victim")), "keep");
    EXPECT_EQ(std::filesystem::exists(folder.File("2009330102.sqlite")), c.made != nullptr);
    if (c.link) {
      std::vector<std::string> messages = batch.report.messages;
      for (const CountyBatchEntry& county : batch.counties) {
        messages.insert(messages.end(), county.report.messages.begin(),
                        county.report.messages.end());
      }
      EXPECT_NE(
          ::testing::PrintToString(messages).find(folder.File(c.link) + ": it is a symbolic link"),
          std::string::npos)
          << ::testing::PrintToString(messages);
    }
  }
}

// On a server whose free connections cannot be asked the counties run one
// at a time, and the batch log says why.
TEST_F(CountyBatchTest, ServerConnectionsThatCannotBeAskedAreLogged) {
  CountyBatchRequest request = Request({"330102", "330103"});
  request.folder.clear();
  request.server = "host=/nonexistent-socket-folder dbname=none";
  request.jobs = 2;
  const CountyBatchResult batch = StatCountyDataBatch(request);
  const std::string said = "one county at a time: the server's free connections cannot be asked: ";
  EXPECT_NE(ReadFileBytes(batch.log_path).find(said), std::string::npos)
      << ReadFileBytes(batch.log_path);
  ASSERT_FALSE(batch.report.notices.empty());
  EXPECT_EQ(batch.report.notices[0].rfind(said, 0), 0u) << batch.report.notices[0];
}

// On either engine: the county that runs has its tables, the one that
// fails is named and leaves nothing of its own.
class CountyBatchEnginesTest : public testing::BothEngines {
 protected:
  void SetUpDatabase() override {
    testing::WriteStatConfig(testing::kThreeUnits);
    for (const char* code : {"330102", "330104"}) {
      county::CountyOptions options;
      options.parcels = 40;
      options.county_code = code;
      const county::CountyPlan plan = county::PlanCounty(options);
      const county::CountyFiles files = county::WriteCounty(plan, home_.File(code));
      const std::string listed = std::string(code) == "330104" ? "330105" : code;
      AddCatalogueCounty(home_.File("counties.sqlite"), {{listed, "县", "3301"}}, listed,
                         files.project);
    }
  }
  testing::ScopedProgramDir home_;
};

TEST_P(CountyBatchEnginesTest, RunsTheCountiesIntoTheDatabaseAndNamesTheFailedOne) {
  const CountyBatchRequest request =
      testing::BatchRequest(home_.File("counties.sqlite"), {"330102", "330105"},
                            home_.path().string(), IsServer() ? database().ConnectionString() : "");
  const CountyBatchResult batch = StatCountyDataBatch(request);
  EXPECT_EQ(batch.result, 1);
  ASSERT_EQ(batch.counties.size(), 2u);
  // The county-batch road makes no mu copies, and converts and balances
  // none: nothing is logged.
  EXPECT_EQ(batch.counties[0].report.outcome, RunOutcome::kCompleted)
      << ::testing::PrintToString(batch.counties[0].report.messages);
  EXPECT_FALSE(batch.counties[1].report.Completed());
  EXPECT_NE(CountyBatchMessage(batch).find("汇总失败的县: 330105"), std::string::npos);
  db::Connection first(batch.counties[0].database);
  EXPECT_TRUE(
      first.TableExists(TableNames(Mode(), "2009", "330102").UnitCopy(kHectare, "statdata")));
  if (!IsServer()) {
    EXPECT_FALSE(std::filesystem::exists(home_.path() / "2009330105.sqlite"));
  } else {
    EXPECT_FALSE(
        conn().TableExists(TableNames(1, "2009", "330105").UnitCopy(kHectare, "statdata")));
  }
}

LANDSTAT_BOTH_ENGINES(CountyBatchEnginesTest);

}  // namespace
}  // namespace landstat
