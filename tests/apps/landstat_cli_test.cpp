// The landstat command run as a process: its exit codes, what it prints
// and the files a run leaves.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "county_plan.h"
#include "county_writer.h"
#include "engine/database_helpers.h"
#include "engine/run_workspace.h"
#include "engine/shared_code_tables.h"
#include "engine/survey_fixture.h"
#include "engine/table_names.h"
#include "platform/db/connection.h"
#include "platform/gis/project.h"
#include "platform/host/output_folder.h"
#include "support/program_dir.h"
#include "support/run_program.h"
#include "support/test_databases.h"

namespace landstat {
namespace {

namespace fs = std::filesystem;
using testing::ReadFileBytes;
using testing::TempDir;

using testing::Outcome;
using testing::RunProgram;

Outcome RunCli(const std::vector<std::string>& arguments) {
  return RunProgram(LANDSTAT_CLI, arguments);
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// What the command says to arguments it cannot work with, before any
// database is touched.
// The code file of the small county.
void WriteCodeFile(const std::string& path) {
  std::ofstream codes(path);
  for (const gis::CODESTRUCT& entry : testing::SmallCodeEntries()) {
    codes << entry.type << "\t" << entry.code << "\t" << entry.name << "\n";
  }
}

// Values that would end up in table names and statements are refused before
// anything runs, and so is a --home folder that is not there.
TEST(LandstatCli, UnsoundCountyYearOrHomeIsRefused) {
  TempDir dir;
  const std::string missing_home = dir.File("no-such-home");
  std::ofstream(dir.File("project.xml")) << "<GisProject name=\"示例县\"/>";
  const std::vector<std::vector<std::string>> cases = {
      {"--county", "33'0102", "--year", "2009"},
      {"--county", "32012", "--year", "2009"},
      {"--county", "330102", "--year", "20O9"},
      {"--county", "", "--year", "2009"},
      {"--county", "330102", "--year", "2009", "--home", missing_home},
  };
  for (const std::vector<std::string>& options : cases) {
    std::vector<std::string> arguments = {"run", "--project", dir.File("project.xml"), "--codes",
                                          dir.File("codes.tsv")};
    arguments.insert(arguments.end(), options.begin(), options.end());
    const Outcome refused = RunCli(arguments);
    SCOPED_TRACE(refused.err);
    EXPECT_EQ(refused.exit_code, 2);
    const std::string culprit = options.size() > 4     ? missing_home
                                : options[3] == "20O9" ? "20O9"
                                : options[1].empty()   ? "--county is empty"
                                                       : options[1];
    EXPECT_TRUE(Contains(refused.err, culprit));
  }
}

// Area units that name no unit, or one unit twice, are refused by every
// command before any database is made, naming the file, keys and value.
TEST(LandstatCli, UnusableAreaUnitsAreRefused) {
  TempDir dir;
  fs::create_directories(dir.File("qentar/_secondfun_"));
  const std::pair<const char*, const char*> cases[] = {
      {"[AreaUnit]\nUnit1=平方米\nUnit2=公顷\nUnit3=foo\n", "StatConfig.ini [AreaUnit] Unit3=foo"},
      {"[AreaUnit]\nUnit1=平方米\nUnit2=平方米\n", "Unit2=平方米 repeats Unit1=平方米"},
  };
  for (const auto& [config, named] : cases) {
    testing::WriteFileBytes(dir.File("qentar/_secondfun_/StatConfig.ini"), config);
    for (const char* command : {"run", "town", "convert"}) {
      std::vector<std::string> arguments = {
          command, "--project",          dir.File("p.xml"), "--county",         "330102",
          "--db",  dir.File("s.sqlite"), "--home",          dir.path().string()};
      if (std::string(command) == "convert") arguments.insert(arguments.end(), {"--to", "亩"});
      const Outcome refused = RunCli(arguments);
      EXPECT_EQ(refused.exit_code, 2) << command << refused.err;
      EXPECT_TRUE(Contains(refused.err, named)) << command << refused.err;
      EXPECT_FALSE(fs::exists(dir.File("s.sqlite"))) << command;
    }
  }
}

TEST(LandstatCli, ArgumentsRefusedOrAnswered) {
  const struct {
    std::vector<std::string> arguments;
    int exit_code;
    std::string said;  // in stdout or stderr
  } kCases[] = {
      {{}, 2, "usage: landstat"},
      {{"tally"}, 2, "tally"},
      {{"run", "--year", "2009"}, 2, "--project"},
      {{"run", "--project", "p.xml", "--servr", "host=x"}, 2, "unknown option --servr"},
      {{"convert", "--to", "mu", "--quiet", "--decimal", "2"}, 2, "unknown option --decimal"},
      {{"run", "--project", "p.xml", "--db"}, 2, "--db needs a value"},
      {{"--version"}, 0, "landstat " LANDSTAT_VERSION "\n"},
      {{"run", "--help"}, 0, "usage: landstat run"},
      {{"town", "--project", "p.xml", "--naming-mode", "3"}, 2, "--naming-mode"},
      {{"area-stat", "--project", "p.xml", "--template", "t.xlsx"}, 2, "--catalogue"},
      {{"area-stat", "--project", "p.xml", "--template", "t.xlsx", "--catalogue", "c.xml", "--unit",
        "英亩"},
       2,
       "--unit 英亩"},
      {{"area-stat", "--project", "p.xml", "--template", "t.xlsx", "--catalogue", "none.xml"},
       1,
       "none.xml"},
      {{"ncqs", "--project", "p.xml", "--lot-layr", "宗地"}, 2, "unknown option --lot-layr"},
      {{"batch", "--regions", "330102", "--folder", ".", "--jobs", "0"}, 2, "--jobs"},
      {{"batch", "--regions", "330102", "--server", "stats.sqlite"},
       2,
       "give an SQLite file with --db"},
  };
  for (const auto& c : kCases) {
    const Outcome outcome = RunCli(c.arguments);
    const std::string said = outcome.out + outcome.err;
    EXPECT_EQ(outcome.exit_code, c.exit_code) << said;
    EXPECT_TRUE(Contains(said, c.said)) << said;
  }
}

// Every command takes the usual forms: -h for --help, -q for --quiet where
// it has that option, --name=value for an option with a value, and "--"
// ending the options; and its help lists -q and -h alike.
TEST(LandstatCli, OptionFormsOfEveryCommand) {
  struct Case {
    std::vector<std::string> arguments;
    int exit_code;
    std::string said;  // in stdout or stderr
  };
  std::vector<Case> cases = {
      {{"town", "--project=p.xml", "--naming-mode=3"}, 2, "--naming-mode must be 0, 1 or 2"},
      {{"merge", "--rural=r", "--town=t", "--codes=c", "--mode=new"}, 2, "--mode new needs --out"},
      {{"range", "--project=p.xml", "--kind=jbnt", "--title=x"}, 2, "give one of --kind and"},
      {{"town", "--project", "p.xml", "--naming-mode", "3", "--"}, 2, "--naming-mode must be"},
      {{"run", "--project", "p.xml", "--", "--year"}, 2, "unexpected argument '--year'"},
      {{"convert", "--to", "mu", "--quiet=yes"}, 2, "option --quiet takes no value"},
      {{"run", "-x"}, 2, "unknown option -x"},
  };
  for (const char* command : {"run", "batch", "convert", "area-stat", "merge", "range", "report",
                              "report-db", "mongolia", "town", "town-report", "ncqs"}) {
    const std::string usage = std::string("usage: landstat ") + command + " ";
    const bool quiet = std::string(command) != "area-stat";
    cases.push_back({{command, "-h"}, 0, usage});
    cases.push_back({{command, "-q", "-h"}, quiet ? 0 : 2, quiet ? usage : "unknown option -q"});
    // Its help lists the options it reads as every command does.
    cases.push_back({{command, "--help"}, 0, "\n  -h, --help       describes the command"});
    if (quiet) cases.push_back({{command, "--help"}, 0, "\n  -q, --quiet      no progress"});
    cases.push_back({{command, "--", "-h"}, 2, "unexpected argument '-h'"});
  }
  for (const Case& c : cases) {
    const Outcome outcome = RunCli(c.arguments);
    const std::string said = outcome.out + outcome.err;
    SCOPED_TRACE(c.arguments[0] + " " + c.arguments[1]);
    EXPECT_EQ(outcome.exit_code, c.exit_code) << said;
    EXPECT_TRUE(Contains(said, c.said)) << said;
  }
}

TEST(LandstatCli, MissingProjectFile) {
  TempDir dir;
  const std::string project = dir.File("missing.xml");
  const Outcome missing = RunCli({"run", "--project", project, "--home", dir.path().string()});
  EXPECT_EQ(missing.exit_code, 1);
  EXPECT_TRUE(Contains(missing.out + missing.err, project)) << missing.out << missing.err;
}

TEST(LandstatCli, RunOfAGeneratedCounty) {
  TempDir dir;
  county::CountyOptions options;
  options.parcels = 60;
  options.seed = 5;
  const county::CountyFiles files =
      county::WriteCounty(county::PlanCounty(options), dir.File("county"));
  testing::InstallStatementScripts(dir.File("home/qentar/_secondfun_"));
  const std::string database = dir.File("stats.sqlite");

  // A file name longer than the system allows is refused as a wrong option,
  // not a crash.
  const Outcome too_long =
      RunCli({"run", "--project", files.project, "--db", dir.File(std::string(300, 'a')), "--home",
              dir.File("home"), "--year", "2009", "--quiet"});
  EXPECT_EQ(too_long.exit_code, 2);
  EXPECT_TRUE(Contains(too_long.err, "File name too long")) << too_long.err;

  // Refused before anything is made: a log that cannot be made, a log
  // planted as a symbolic link, a log that is an input of the run.
  testing::WriteFileBytes(dir.File("victim"), "keep");
  fs::create_symlink(dir.File("victim"), dir.File("link.log"));
  const std::string project_text = ReadFileBytes(files.project);
  const struct {
    std::string log, said;
  } kRefusedLogs[] = {
      {dir.File("no/such/log"), "cannot open the log file " + dir.File("no/such/log")},
      {dir.File("link.log"), "it is a symbolic link"},
      {files.project, "is an input of the job (" + files.project + ")"},
  };
  for (const auto& refused : kRefusedLogs) {
    const Outcome outcome = RunCli({"run", "--project", files.project, "--db", database, "--home",
                                    dir.File("home"), "--year", "2009", "--log", refused.log});
    EXPECT_EQ(outcome.exit_code, 2) << outcome.err;
    EXPECT_TRUE(Contains(outcome.err, refused.said)) << outcome.err;
    EXPECT_FALSE(fs::exists(database)) << refused.log;
  }
  EXPECT_EQ(ReadFileBytes(dir.File("victim")), "keep");
  EXPECT_EQ(ReadFileBytes(files.project), project_text);

  // Progress into a file: plain stage lines, no carriage return or escape.
  const Outcome run = RunCli({"run", "--project", files.project, "--db", database, "--home",
                              dir.File("home"), "--year", "2009"});
  EXPECT_EQ(run.exit_code, 0) << run.out << run.err;
  EXPECT_TRUE(Contains(run.out, "statistics completed")) << run.out;
  EXPECT_TRUE(Contains(run.out, "database  " + database + "\n")) << run.out;
  // This configuration wants square metres only; the farmland tables of the
  // summary line are sorted, the base table last.
  const std::size_t listed = run.out.find("  farmland  ");
  ASSERT_NE(listed, std::string::npos) << run.out;
  const std::string farmland = run.out.substr(listed, run.out.find('\n', listed) - listed);
  for (const char* table :
       {" PMstatdata_jbnt ", " ZPMJBNTQKTJ ", " ZPMJBNTBHKQKTJ ", " ZPMJBNTKTZ ", " ZPMBHKKTZ "}) {
    EXPECT_TRUE(Contains(farmland, table)) << farmland;
  }
  EXPECT_TRUE(farmland.ends_with(" statdata_jbnt")) << farmland;
  EXPECT_TRUE(Contains(run.err, "\n")) << run.err;
  EXPECT_FALSE(Contains(run.err, "\r") || Contains(run.err, "\x1b")) << run.err;
  ASSERT_TRUE(fs::exists(database));
  // Each job keeps a log of its own, named in its summary: a later job
  // leaves the run's log as it was.
  const std::string run_log = dir.File("2009330102StatLog.txt");
  EXPECT_TRUE(Contains(run.out, "  log       " + run_log + "\n")) << run.out;
  std::ofstream(run_log, std::ios::app) << "the run's own line\n";
  const std::string run_lines = ReadFileBytes(run_log);
  db::Connection result(testing::JetConnectionString(database));
  EXPECT_TRUE(result.TableExists("statdata"));
  EXPECT_TRUE(result.TableExists("PMstatdata"));
  result.Close();

  // The town-lot statistics on the same database, its tables listed.
  const Outcome town = RunCli({"town", "--project", files.project, "--db", database, "--home",
                               dir.File("home"), "--year", "2009", "--quiet"});
  EXPECT_EQ(town.exit_code, 0) << town.out << town.err;
  EXPECT_TRUE(Contains(town.out, "town-lot statistics completed")) << town.out;
  EXPECT_TRUE(Contains(town.out, "  town lots ")) << town.out;

  // The rural ownership-lot statistics on the county's lots.
  const Outcome ncqs = RunCli({"ncqs", "--project", files.project, "--db", database, "--home",
                               dir.File("home"), "--year", "2009", "--quiet"});
  EXPECT_EQ(ncqs.exit_code, 0) << ncqs.out << ncqs.err;
  EXPECT_TRUE(Contains(ncqs.out, "  rural lots 2: NCZD_AREA statdata_ncqs")) << ncqs.out;

  // The stored statistics converted to mu; a unit that is none refused.
  const std::vector<std::string> convert = {"convert", "--project", files.project,    "--db",
                                            database,  "--home",    dir.File("home"), "--year",
                                            "2009",    "--quiet"};
  std::vector<std::string> bad = convert;
  bad.insert(bad.end(), {"--to", "英亩"});
  const Outcome refused = RunCli(bad);
  EXPECT_EQ(refused.exit_code, 2);
  EXPECT_TRUE(Contains(refused.err, "--to")) << refused.err;
  std::vector<std::string> to_mu = convert;
  to_mu.insert(to_mu.end(), {"--to", "mu"});
  const Outcome converted = RunCli(to_mu);
  EXPECT_EQ(converted.exit_code, 0) << converted.out << converted.err;
  EXPECT_TRUE(Contains(converted.out, "converted to 亩")) << converted.out;
  db::Connection after(testing::JetConnectionString(database));
  EXPECT_EQ(after.Scalar("select AREAUNIT from AreaUnit where TYPE='TDLY_EJFL'").AsText(), "亩");
  after.Close();
  const std::pair<const Outcome*, const char*> kLogs[] = {
      {&town, "TownLog.txt"}, {&ncqs, "NcqsLog.txt"}, {&converted, "ConvertLog.txt"}};
  for (const auto& [job, name] : kLogs) {
    const std::string log = dir.File(std::string("2009330102") + name);
    EXPECT_TRUE(fs::is_regular_file(log)) << log;
    EXPECT_TRUE(Contains(job->out, "  log       " + log + "\n")) << job->out;
  }
  EXPECT_EQ(ReadFileBytes(run_log), run_lines);

  // How a run ends shows in its exit code: another year refused by the file
  // that holds 2009 (1), a log that cannot be made (2), a run without the
  // district layer completing with its failures logged (3).
  std::string project = testing::ReadFileBytes(files.project);
  const std::size_t district = project.find("<Layer name=\"行政辖区\"");
  ASSERT_NE(district, std::string::npos) << project;
  project.erase(district, project.find("/>", district) + 2 - district);
  testing::WriteFileBytes(dir.File("county/no-district.xml"), project);
  const std::vector<std::string> rerun = {"run",    "--db",           database,
                                          "--home", dir.File("home"), "--quiet"};
  const struct {
    std::vector<std::string> more;
    int exit_code;
    std::string said;
  } kEnds[] = {
      {{"--project", files.project, "--year", "2010"},
       1,
       "holds the statistics of year 2009, county 330102; to run 2010 330102 into it, replace "
       "them (--replace)"},
      {{"--project", files.project, "--year", "2009", "--log", dir.File("no/such/log")},
       2,
       "cannot open the log file"},
      {{"--project", dir.File("county/no-district.xml"), "--year", "2009"}, 3, "没有行政辖区图层"},
  };
  for (const auto& end : kEnds) {
    std::vector<std::string> arguments = rerun;
    arguments.insert(arguments.end(), end.more.begin(), end.more.end());
    const Outcome outcome = RunCli(arguments);
    EXPECT_EQ(outcome.exit_code, end.exit_code) << outcome.out << outcome.err;
    EXPECT_TRUE(Contains(outcome.out + outcome.err, end.said)) << outcome.out << outcome.err;
  }

  // Refused with 1: the survey's own GeoPackage as the statistics database,
  // and a report while a job holds the database.
  const Outcome into_survey = RunCli({"run", "--project", files.project, "--db", files.survey,
                                      "--home", dir.File("home"), "--year", "2009", "--quiet"});
  EXPECT_EQ(into_survey.exit_code, 1) << into_survey.out << into_survey.err;
  EXPECT_TRUE(Contains(into_survey.out, "holds GIS layers")) << into_survey.out;
  RunWorkspace job(testing::JetConnectionString(database), false, "2009", "330102", "run");
  std::string error;
  std::vector<std::string> notices;
  ASSERT_TRUE(job.Open({true, false}, error, notices)) << error;
  const Outcome busy = RunCli({"report", "--project", files.project, "--db", database, "--home",
                               dir.File("home"), "--year", "2009", "--out", dir.File("reports")});
  EXPECT_EQ(busy.exit_code, 1) << busy.out << busy.err;
  EXPECT_TRUE(Contains(busy.err, "a job is running on " + database)) << busy.err;
}

TEST(LandstatCli, RunThatFails) {
  TempDir dir;
  testing::SurveyFeatures survey = testing::SmallCounty();
  std::erase_if(survey.parcel_fields,
                [](const auto& field) { return field.name == "图斑地类面积"; });
  for (testing::FieldValues& parcel : survey.parcels) {
    std::erase_if(parcel, [](const auto& value) { return value.first == "图斑地类面积"; });
  }
  testing::WriteSurvey(dir.File("survey.gpkg"), survey);
  WriteCodeFile(dir.File("codes.tsv"));
  gis::WriteProjectFile(
      dir.File("project.xml"), "330102", "上城区",
      {{"地类图斑", "survey.gpkg"}, {"线状地物", "survey.gpkg"}, {"零星地物", "survey.gpkg"}},
      "codes.tsv");
  fs::create_directories(dir.path() / "home");

  const Outcome run =
      RunCli({"run", "--project", dir.File("project.xml"), "--db", dir.File("stats.sqlite"),
              "--home", dir.File("home"), "--year", "2009", "--quiet"});
  EXPECT_EQ(run.exit_code, 1) << run.out << run.err;
  EXPECT_TRUE(Contains(run.out, "FAILED")) << run.out;
  EXPECT_TRUE(Contains(run.out, "图斑地类面积")) << run.out;
  // The file made for the run went with it, lock and all.
  EXPECT_TRUE(Contains(run.out, "removed")) << run.out;
  EXPECT_FALSE(fs::exists(dir.File("stats.sqlite")));
  EXPECT_FALSE(fs::exists(dir.File("stats.sqlite.lock")));
  ASSERT_EQ(CreateAcessDB(dir.File("stats.sqlite")), 1);

  // Without lots the town-lot run says which layers it looked for.
  const Outcome town =
      RunCli({"town", "--project", dir.File("project.xml"), "--db", dir.File("stats.sqlite"),
              "--home", dir.File("home"), "--year", "2009", "--quiet"});
  EXPECT_EQ(town.exit_code, 1) << town.out << town.err;
  EXPECT_TRUE(Contains(town.out, "城镇权属层") && Contains(town.out, "宗地")) << town.out;

  // So does the rural ownership-lot run, of its lot layer.
  const Outcome ncqs =
      RunCli({"ncqs", "--project", dir.File("project.xml"), "--db", dir.File("stats.sqlite"),
              "--home", dir.File("home"), "--year", "2009", "--quiet", "--lot-layer", "权属宗地"});
  EXPECT_EQ(ncqs.exit_code, 1) << ncqs.out << ncqs.err;
  EXPECT_TRUE(Contains(ncqs.out, "没有图层 权属宗地")) << ncqs.out;
}

// The Inner Mongolia run of a generated county: how each end shows in the
// exit code.
TEST(LandstatCli, MongoliaRunOfAGeneratedCounty) {
  TempDir dir;
  county::CountyOptions options;
  options.parcels = 60;
  options.seed = 5;
  options.mongolia = true;
  const county::CountyFiles files =
      county::WriteCounty(county::PlanCounty(options), dir.File("county"));
  options.mongolia = false;
  const county::CountyFiles plain =
      county::WriteCounty(county::PlanCounty(options), dir.File("plain"));
  fs::create_directories(dir.path() / "home");
  ASSERT_EQ(CreateAcessDB(dir.File("stats.sqlite")), 1);
  // The ownership codes the general run leaves, which the ledger reads.
  db::Connection(dir.File("stats.sqlite")).Execute(kQsdmbTable.create);
  testing::RecordCompletedRun(dir.File("stats.sqlite"), "2009", options.county_code);
  // A code file of one land class: the rows of every other class are logged.
  testing::WriteFileBytes(dir.File("one_class.tsv"), "地类代码\t01\t耕地\n");
  const std::vector<std::string> common = {"mongolia", "--db",           dir.File("stats.sqlite"),
                                           "--home",   dir.File("home"), "--year",
                                           "2009",     "--quiet"};
  const struct {
    std::vector<std::string> more;
    int exit_code;
    std::string said;
  } kEnds[] = {
      {{"--project", files.project, "--codes2", files.mongolia_codes},
       0,
       "Inner Mongolia statistics completed"},
      {{"--project", files.project, "--codes2", files.mongolia_codes, "--temporary-fill"},
       0,
       "Inner Mongolia statistics completed"},
      {{"--project", files.project, "--codes2", files.mongolia_codes, "--replace"},
       0,
       "Inner Mongolia statistics completed"},
      {{"--project", files.project, "--codes2", dir.File("one_class.tsv")}, 3, "添加"},
      {{"--project", plain.project}, 1, "图层 地类图斑 缺少字段 内蒙古权属单位代码"},
      {{"--project", files.project, "--level-switch", "2"}, 2, "--level-switch"},
      {{"--project", files.project, "--codes2", dir.File("none.tsv")}, 2, "none.tsv"},
  };
  for (const auto& end : kEnds) {
    std::vector<std::string> arguments = common;
    arguments.insert(arguments.end(), end.more.begin(), end.more.end());
    const Outcome outcome = RunCli(arguments);
    EXPECT_EQ(outcome.exit_code, end.exit_code) << outcome.out << outcome.err;
    EXPECT_TRUE(Contains(outcome.out + outcome.err, end.said)) << outcome.out << outcome.err;
  }
  db::Connection after(testing::JetConnectionString(dir.File("stats.sqlite")));
  EXPECT_TRUE(after.TableExists("statdataMG"));
  EXPECT_TRUE(after.TableExists("QSDMBMG"));
}

class LandstatCliDatabase : public testing::BothEngines {
 protected:
  // A generated county of 40 parcels (with the Inner Mongolia fields when
  // `mongolia`) and a configuration root holding the report templates, the
  // statement scripts and, when given, `stat_config` as its StatConfig.ini.
  void GenerateCounty(const std::string& stat_config = "", bool mongolia = false) {
    county::CountyOptions options;
    options.parcels = 40;
    options.seed = 7;
    options.mongolia = mongolia;
    files_ = county::WriteCounty(county::PlanCounty(options), dir_.File("county"));
    const fs::path config = dir_.path() / "home/qentar/_secondfun_";
    fs::create_directories(config);
    for (const auto& entry :
         fs::directory_iterator(fs::path(LANDSTAT_SOURCE_DIR) / "src/resources/templates")) {
      fs::copy(entry.path(), config / entry.path().filename());
    }
    testing::InstallStatementScripts(config.string());
    if (!stat_config.empty())
      testing::WriteFileBytes((config / "StatConfig.ini").string(), stat_config);
  }

  // A command on the county and this database, logging into log.txt.
  Outcome Run(std::vector<std::string> arguments) {
    const std::string connection = database().ConnectionString();
    const std::vector<std::string> place = {
        "--project",
        files_.project,
        IsServer() ? "--server" : "--db",
        IsServer() ? connection : db::ParseConnectionString(connection).location,
        "--home",
        dir_.File("home"),
        "--log",
        dir_.File("log.txt"),
        "--quiet"};
    arguments.insert(arguments.begin() + 1, place.begin(), place.end());
    return RunCli(arguments);
  }

  TempDir dir_;
  county::CountyFiles files_;
};

// A conversion of statistics never run fails; its summary says where the
// database is and never how to log in to it.
TEST_P(LandstatCliDatabase, SummaryNamesThePlaceNotTheConnectionString) {
  TempDir dir;
  WriteCodeFile(dir.File("codes.tsv"));
  std::vector<std::string> arguments = {"convert",
                                        "--to",
                                        "mu",
                                        "--county",
                                        "330102",
                                        "--codes",
                                        dir.File("codes.tsv"),
                                        "--year",
                                        "2009",
                                        "--home",
                                        dir.path().string(),
                                        "--log",
                                        dir.File("log.txt"),
                                        "--quiet"};
  const std::string file = db::ParseConnectionString(database().ConnectionString()).location;
  if (IsServer()) {
    arguments.insert(arguments.end(),
                     {"--server", database().ConnectionString() + " password=sekret-word"});
  } else {
    arguments.insert(arguments.end(), {"--db", file});
  }
  const Outcome outcome = RunCli(arguments);
  const std::string said = outcome.out + outcome.err;
  EXPECT_EQ(outcome.exit_code, 1) << said;
  EXPECT_TRUE(Contains(outcome.out, IsServer() ? "server    host " : "database  " + file + "\n"))
      << said;
  EXPECT_FALSE(Contains(said, "sekret") || Contains(said, "Provider=") ||
               Contains(said, "search_path"))
      << said;

  // A server's connection given as --db is refused, not taken for the name
  // of a new file; a file given as --server too.
  const std::string conninfo = "host=db.example dbname=stat password=sekret-word";
  arguments.resize(arguments.size() - 2);
  arguments.insert(arguments.end(), {"--db", conninfo});
  const Outcome refused = RunCli(arguments);
  EXPECT_EQ(refused.exit_code, 2) << refused.err;
  EXPECT_TRUE(Contains(refused.err, "give it with --server")) << refused.err;
  EXPECT_FALSE(Contains(refused.out + refused.err, "sekret")) << refused.err;
  EXPECT_FALSE(fs::exists(conninfo));
  arguments.resize(arguments.size() - 2);
  arguments.insert(arguments.end(), {"--server", dir.File("stats.sqlite")});
  const Outcome as_server = RunCli(arguments);
  EXPECT_EQ(as_server.exit_code, 2) << as_server.err;
  EXPECT_TRUE(Contains(as_server.err, "give an SQLite file with --db")) << as_server.err;
}

// Each job's summary counts the failures and the notices its log holds
// apart, and lists the tables the job wrote, not the others of the
// database; a job that failed wrote none.
TEST_P(LandstatCliDatabase, SummaryCountsWhatTheJobLoggedAndWrote) {
  GenerateCounty();
  // Without its district layer the run logs a failure beside its notices.
  std::string project = ReadFileBytes(files_.project);
  const std::size_t district = project.find("<Layer name=\"行政辖区\"");
  ASSERT_NE(district, std::string::npos) << project;
  project.erase(district, project.find("/>", district) + 2 - district);
  testing::WriteFileBytes(files_.project, project);
  const struct {
    std::vector<std::string> arguments;
    int exit_code;
    const char* absent;  // a group of tables the job does not write
  } kJobs[] = {
      {{"run", "--year", "2009"}, 3, "  town lots "},
      {{"town", "--year", "2009"}, 0, "  farmland  "},
      {{"convert", "--to", "mu", "--year", "2009"}, 0, "  rural lots "},
      {{"town", "--year", "2010"}, 1, "  farmland  "},
  };
  for (const auto& job : kJobs) {
    const Outcome outcome = Run(job.arguments);
    SCOPED_TRACE(outcome.out);
    EXPECT_EQ(outcome.exit_code, job.exit_code) << outcome.err;
    long failures = 0, notices = 0;
    std::istringstream log(ReadFileBytes(dir_.File("log.txt")));
    for (std::string line; std::getline(log, line);) {
      notices += line.starts_with("注意") ? 1 : 0;
      failures += !line.empty() && std::isdigit(static_cast<unsigned char>(line[0])) ? 1 : 0;
    }
    std::string counts = failures > 0 ? std::to_string(failures) + " failures" : "";
    if (notices > 0)
      counts += (counts.empty() ? "" : " and ") + std::to_string(notices) + " notices";
    const std::string headline = outcome.out.substr(0, outcome.out.find('\n'));
    EXPECT_TRUE(headline.ends_with(counts.empty() ? " s" : ", " + counts + " logged"));
    EXPECT_TRUE(Contains(outcome.out, "  log       " + dir_.File("log.txt") + "\n"));
    const std::size_t tables = outcome.out.find("  tables    ");
    ASSERT_NE(tables, std::string::npos);
    if (job.exit_code == 1) {
      EXPECT_TRUE(Contains(outcome.out, "  tables    none written\n"));
    } else {
      const long written = std::atol(outcome.out.c_str() + tables + 12);
      EXPECT_GT(written, 0);
      EXPECT_LT(written, static_cast<long>(
                             db::Connection(database().ConnectionString()).ListTables().size()));
    }
    EXPECT_FALSE(Contains(outcome.out, job.absent));
  }
}

// Every job refuses a year or county the database does not hold, before
// it touches anything, and says what the database holds; a report of a
// region outside the county, or of a level above the region, writes
// nothing and says so; a run whose county no parcel lies in fails, naming
// both codes. Each refusal is in the log its summary counts. While a job
// works on the year and county, a report and a second job are refused.
TEST_P(LandstatCliDatabase, JobsRefuseWhatTheDatabaseDoesNotHold) {
  GenerateCounty();
  const std::string connection = database().ConnectionString();
  const Outcome first = Run({"run", "--year", "2009"});
  ASSERT_EQ(first.exit_code, 0) << first.out << first.err;
  const std::string area_units = TableNames(Mode(), "2009", "330102").AreaUnit();
  // The jobs recorded, then the area units of 2009.
  const auto stored = [&] {
    db::Connection result(connection);
    std::vector<std::string> rows = testing::Texts(result, "select count(*) from StatRuns");
    for (const std::string& row :
         testing::Texts(result, "select TYPE || AREAUNIT from " + area_units + " order by 1")) {
      rows.push_back(row);
    }
    return rows;
  };
  const std::vector<std::string> before = stored();
  const std::string out = dir_.File("reports");
  const std::string others = "not those of 2010 330102";
  const struct {
    std::vector<std::string> arguments;
    int exit_code;
    std::string said;
  } kCases[] = {
      {{"convert", "--to", "mu", "--year", "2010"}, 1, others},
      {{"town", "--year", "2010"}, 1, others},
      {{"report", "--out", out, "--year", "2010"}, 1, others},
      {{"convert", "--to", "mu", "--year", "2009", "--county", "320120"}, 1, "320120"},
      {{"report", "--out", out, "--year", "2009", "--region", "320120"}, 3, "--region 320120"},
      {{"report", "--out", out, "--year", "2009", "--region", "330102001", "--level", "县(区)级"},
       3,
       "--level 县(区)级"},
      {{"report", "--out", out, "--year", "2009", "--level", "全国级"},
       2,
       "--level 全国级 is not one of 市级 县(区)级"},
      // This configuration wants square metres only.
      {{"report", "--out", out, "--year", "2009", "--unit", "亩"},
       1,
       "the statistics of 2009 330102 hold no tables in 亩, only in 平方米"},
      {{"report-db", "--out", dir_.path().string(), "--year", "2009", "--unit", "亩"},
       1,
       "the statistics of 2009 330102 hold no report tables in 亩, only in 平方米"},
  };
  for (const auto& c : kCases) {
    const Outcome outcome = Run(c.arguments);
    const std::string said = outcome.out + outcome.err;
    SCOPED_TRACE(c.arguments[0] + " " + said);
    EXPECT_EQ(outcome.exit_code, c.exit_code);
    EXPECT_TRUE(Contains(said, c.said));
    EXPECT_EQ(stored(), before);
    EXPECT_FALSE(fs::exists(out));
    EXPECT_FALSE(fs::exists(dir_.File("2009330102.sqlite")));
    if (c.arguments[0] == "report") {
      EXPECT_EQ(std::count(outcome.err.begin(), outcome.err.end(), '\n'), 1);  // said once
    } else if (c.arguments[0] != "report-db") {
      EXPECT_TRUE(Contains(said, "1 failures logged"));
      EXPECT_TRUE(Contains(ReadFileBytes(dir_.File("log.txt")), c.said));
    }
  }
  std::vector<std::string> elsewhere = {"run", "--year", "2009", "--county", "320120"};
  if (!IsServer()) elsewhere.push_back("--replace");
  const Outcome wrong_county = Run(elsewhere);
  EXPECT_EQ(wrong_county.exit_code, 1);
  EXPECT_TRUE(
      Contains(ReadFileBytes(dir_.File("log.txt")), "没有图斑座落于县 320120, 图斑座落于县 330102"))
      << wrong_county.out;
  EXPECT_EQ(stored().back(), before.back());

  // While a job works on 2009 330102, a report and a second run are refused.
  RunWorkspace job(connection, IsServer(), "2009", "330102", "run");
  std::string error;
  std::vector<std::string> notices;
  ASSERT_TRUE(job.Open({true, false}, error, notices)) << error;
  const std::string where = IsServer() ? " for 2009 330102" : "";
  const struct {
    std::vector<std::string> arguments;
    std::string said;
  } kBusy[] = {
      {{"report", "--out", out, "--year", "2009"}, where + "; report when it has ended"},
      {{"run", "--year", "2009"}, "another job is working on "},
  };
  for (const auto& busy : kBusy) {
    const Outcome outcome = Run(busy.arguments);
    EXPECT_EQ(outcome.exit_code, 1) << outcome.out << outcome.err;
    EXPECT_TRUE(Contains(outcome.out + outcome.err, busy.said)) << outcome.out << outcome.err;
  }
  EXPECT_FALSE(fs::exists(out));
}

// Reports in two units, and at a level, lie side by side in one folder; a
// folder that another print holds, or that cannot be written, is refused
// once and left as it was. After a conversion the reports of the tables it
// made without a unit are listed as not built, as before it. Report data
// written into the folder of a database named by a bare file name takes
// the name with 1.
TEST_P(LandstatCliDatabase, ReportsShareAFolderAndFollowAConversion) {
  GenerateCounty("[AreaUnit]\nUnit1=平方米\nUnit2=公顷\n[TYPE]\nType=2\n");
  ASSERT_EQ(Run({"run", "--year", "2009"}).exit_code, 0);
  const std::string out = dir_.File("reports");
  const auto books = [&](const std::string& ending) {
    long count = 0;
    for (const auto& entry : fs::directory_iterator(out)) {
      count += entry.path().filename().string().ends_with(ending) ? 1 : 0;
    }
    return count;
  };
  const struct {
    std::vector<std::string> more;
    std::string ending;
  } kPrints[] = {
      {{"--unit", "平方米"}, "_平方米.xlsx"},
      {{"--unit", "公顷"}, "_公顷.xlsx"},
      {{"--unit", "公顷", "--level", "村(街坊)级"}, "_公顷_村(街坊)级.xlsx"},
  };
  long written = 0;
  for (const auto& print : kPrints) {
    std::vector<std::string> arguments = {"report", "--out", out, "--year", "2009"};
    arguments.insert(arguments.end(), print.more.begin(), print.more.end());
    const Outcome outcome = Run(arguments);
    EXPECT_EQ(outcome.exit_code, 0) << outcome.out << outcome.err;
    const long count = books(print.ending);
    EXPECT_GE(count, 10) << print.ending;
    EXPECT_TRUE(Contains(outcome.out, std::to_string(count) + " workbooks written")) << outcome.out;
    written += count;
    EXPECT_EQ(books(".xlsx"), written);
  }

  std::optional<host::OutputFolderHold> hold;
  std::optional<testing::ReadOnlyFile> read_only;
  const struct {
    std::function<void()> make;
    std::string said;
  } kRefused[] = {
      {[&] {
         std::string error;
         ASSERT_TRUE(hold.emplace().Take(out, "print", error)) << error;
       },
       "another print is writing into the output folder " + out},
      {[&] {
         hold.reset();
         read_only.emplace(out);
       },
       "the output folder " + out + " cannot be written"},
  };
  for (const auto& refused : kRefused) {
    refused.make();
    if (read_only && ::access(out.c_str(), W_OK) == 0) GTEST_SKIP() << "the folder stays writable";
    const Outcome outcome = Run({"report", "--out", out, "--year", "2009", "--unit", "公顷"});
    EXPECT_EQ(outcome.exit_code, 1) << outcome.out << outcome.err;
    EXPECT_TRUE(Contains(outcome.err, refused.said)) << outcome.err;
    EXPECT_EQ(std::count(outcome.err.begin(), outcome.err.end(), '\n'), 1) << outcome.err;
    EXPECT_EQ(books(".xlsx"), written);
  }
  read_only.reset();
  fs::permissions(out, fs::perms::owner_all);

  if (!IsServer()) {
    const fs::path stats = db::ParseConnectionString(database().ConnectionString()).location;
    const Outcome data = RunProgram(
        "/bin/sh",
        {"-c", "cd " + testing::ShellQuoted(stats.parent_path().string()) + " && " +
                   testing::ShellQuoted(LANDSTAT_CLI) + " report-db --project " +
                   testing::ShellQuoted(files_.project) + " --db " +
                   testing::ShellQuoted(stats.filename().string()) + " --home " +
                   testing::ShellQuoted(dir_.File("home")) + " --year 2009 --out . --quiet"});
    EXPECT_EQ(data.exit_code, 0) << data.out << data.err;
    EXPECT_TRUE(fs::exists(stats.parent_path() / "20093301021.sqlite")) << data.out;
  }

  ASSERT_EQ(Run({"convert", "--to", "公顷", "--year", "2009"}).exit_code, 0);
  const Outcome after = Run({"report", "--out", dir_.File("converted"), "--year", "2009"});
  EXPECT_EQ(after.exit_code, 0) << after.out << after.err;
  EXPECT_TRUE(Contains(after.out,
                       "  土地利用现状一级分类面积汇总表 (TDLY_YJFL, built by a 通用城镇 run)\n"))
      << after.out;
}

// A run whose configuration root lacks a statement script it has no
// built-in copy of completes with one failure naming the file.
TEST_P(LandstatCliDatabase, RunWithoutAStatementScriptNamesIt) {
  GenerateCounty();
  const fs::path script = dir_.path() / "home/qentar/_secondfun_" /
                          (IsServer() ? "SQL" : "Access") / "STAT_NCQSYJFL.sql";
  fs::remove(script);
  const Outcome run = Run({"run", "--year", "2009"});
  EXPECT_EQ(run.exit_code, 3) << run.out << run.err;
  EXPECT_TRUE(Contains(ReadFileBytes(dir_.File("log.txt")), script.string() + " 不存在"))
      << ReadFileBytes(dir_.File("log.txt"));
}

// Tables a run and a town-lot run left out, a layer lacking a field they
// need, are left out by the conversion after them, without a failure, and
// listed by the reports as not built, for that reason; the others are
// converted.
TEST_P(LandstatCliDatabase, ConversionAndReportsFollowWhatTheRunsLeftOut) {
  GenerateCounty();
  {
    db::Connection survey(files_.survey);
    for (const char* layer : {"地类图斑", "线状地物", "零星地物"}) {
      survey.Execute(std::string("alter table ") + layer + " drop column 权属性质");
    }
    survey.Execute("alter table 地类图斑 drop column 耕地坡度级");
    survey.Execute("alter table 城镇权属层 drop column 使用权类型");
  }
  ASSERT_EQ(Run({"run", "--year", "2009"}).exit_code, 3);
  ASSERT_EQ(Run({"town", "--year", "2009"}).exit_code, 3);
  const Outcome convert = Run({"convert", "--to", "公顷", "--year", "2009"});
  EXPECT_EQ(convert.exit_code, 0) << convert.out << convert.err;
  const TableNames names(Mode(), "2009", "330102");
  db::Connection result(database().ConnectionString());
  for (const char* base : {"NCTDLY_QSYJFL", "TDLY_QSYJFL", "FRDTDLY_YJFL", "FRDTDLY_EJFL",
                           "GDPDMJHZ", "CZTDLY_SYQZD"}) {
    EXPECT_FALSE(result.TableExists(names.Plain(base))) << base;
  }
  for (const char* base : {"NCTDLY_YJFL", "TDLY_EJFL", "JBNTQKTJ", "CZTDLY_EJFLZD"}) {
    EXPECT_TRUE(result.TableExists(names.Plain(base))) << base;
  }
  const Outcome print = Run({"report", "--out", dir_.File("reports"), "--year", "2009"});
  EXPECT_EQ(print.exit_code, 0) << print.out << print.err;
  for (const char* base : {"NCTDLY_QSYJFL", "GDPDMJHZ", "TDLYTZ", "CZTDLY_SYQZD"}) {
    EXPECT_TRUE(Contains(
        print.out, std::string(base) + ", left out by the run: a layer lacked a field it needs"))
        << base << "\n"
        << print.out;
  }
}

// The Inner Mongolia ledger is printed from the tables its run made, which
// are named plainly on either database.
TEST_P(LandstatCliDatabase, MongoliaLedgerIsPrintedAfterItsRun) {
  GenerateCounty("", true);
  ASSERT_EQ(Run({"run", "--year", "2009"}).exit_code, 0);
  const Outcome run = Run({"mongolia", "--year", "2009", "--codes2", files_.mongolia_codes});
  ASSERT_EQ(run.exit_code, 0) << run.out << run.err;
  const std::string out = dir_.File("reports");
  const Outcome print = Run({"report", "--out", out, "--year", "2009", "--mode", "2", "--codes2",
                             files_.mongolia_codes, "--report", "农村土地利用台帐"});
  EXPECT_EQ(print.exit_code, 0) << print.out << print.err;
  EXPECT_TRUE(fs::exists(out + "/2009330102农村土地利用台帐_平方米.xlsx")) << print.out;
}

// The Inner Mongolia tables, named without year or county, are the county's
// whose run made them: a run replacing its statistics in a file takes them
// away; on a server, where they stay, another county's ledger is not
// printed from them, and its Inner Mongolia run must replace them.
TEST_P(LandstatCliDatabase, InnerMongoliaTablesOfAnotherCountyAreNotTakenForItsOwn) {
  GenerateCounty("", true);
  ASSERT_EQ(Run({"run", "--year", "2009"}).exit_code, 0);
  ASSERT_EQ(Run({"mongolia", "--year", "2009", "--codes2", files_.mongolia_codes}).exit_code, 0);
  county::CountyOptions options;
  options.parcels = 40;
  options.seed = 8;
  options.mongolia = true;
  options.county_code = "330103";
  files_ = county::WriteCounty(county::PlanCounty(options), dir_.File("other"));
  std::vector<std::string> run = {"run", "--year", "2009"};
  if (!IsServer()) run.push_back("--replace");
  ASSERT_EQ(Run(run).exit_code, 0);
  {
    db::Connection result(database().ConnectionString());
    for (const char* table : {"statdataMG", "ZPMTDLYTZMG", "AreaUnitMG"}) {
      EXPECT_EQ(result.TableExists(table), IsServer()) << table;
    }
  }
  const Outcome ledger =
      Run({"report", "--out", dir_.File("reports"), "--year", "2009", "--mode", "2", "--codes2",
           files_.mongolia_codes, "--report", "农村土地利用台帐"});
  EXPECT_EQ(ledger.exit_code, 3) << ledger.out << ledger.err;
  EXPECT_TRUE(Contains(
      ledger.out, IsServer() ? "the Inner Mongolia tables hold 2009 330102" : "TDLYTZMG, built by"))
      << ledger.out;
  EXPECT_FALSE(fs::exists(dir_.File("reports/330103农村土地利用台帐_平方米.xlsx")));
  const Outcome mongolia = Run({"mongolia", "--year", "2009", "--codes2", files_.mongolia_codes});
  EXPECT_EQ(mongolia.exit_code, IsServer() ? 1 : 0) << mongolia.out << mongolia.err;
}

LANDSTAT_BOTH_ENGINES(LandstatCliDatabase);

// The benchmark times the run itself: its tables are those of a run of the
// command-line host on the same county.
TEST(LandstatBenchmark, TimesTheRealRun) {
  TempDir dir;
  const Outcome bench = RunProgram(LANDSTAT_BENCH_RUN, {"--parcels", "200", "--dir", dir.File("")});
  ASSERT_EQ(bench.exit_code, 0) << bench.out << bench.err;
  const std::size_t listed = bench.out.find("tables:");
  ASSERT_NE(listed, std::string::npos) << bench.out;
  std::istringstream words(bench.out.substr(listed + 7, bench.out.find('\n', listed) - listed - 7));
  std::vector<std::string> timed{std::istream_iterator<std::string>(words), {}};
  EXPECT_TRUE(Contains(bench.out, "GDPDMJHZ")) << "each family is timed: " << bench.out;
  EXPECT_TRUE(Contains(bench.out, "mongolia base table")) << bench.out;

  const std::string database = dir.File("run.sqlite");
  const Outcome run = RunCli({"run", "--project", dir.File("county-200-mg/project.xml"), "--db",
                              database, "--year", "2024", "--home", dir.File("config"), "--quiet"});
  ASSERT_EQ(run.exit_code, 0) << run.out << run.err;
  // The same tables as the real run wrote: all but the records of the jobs
  // and their units and the code tables the counties share.
  std::vector<std::string> written = db::Connection(database).ListTables();
  std::erase_if(written, [](const std::string& table) {
    return table == "AreaUnit" || table == "StatRuns" || table == "CODETBL1" || table == "NCTDLYQS";
  });
  EXPECT_EQ(written, timed);
}

}  // namespace
}  // namespace landstat
