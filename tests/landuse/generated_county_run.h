#pragma once

#include <memory>
#include <set>
#include <string>

#include "county_plan.h"
#include "county_writer.h"
#include "engine/stat_drivers.h"
#include "engine/statistics_run.h"
#include "engine/survey_fixture.h"
#include "platform/gis/layers.h"
#include "platform/gis/project.h"
#include "platform/gis/rural_code.h"
#include "support/program_dir.h"

namespace landstat::testing {

// A generated county (2000 parcels unless told; 330102 unless told, in the
// folder "county" of the test's program directory, another county in
// "county" + its code), with the statistics run of a version string on it.
// `following_year`: the same county one year on, in "county" + "-following".
// `mongolia`: with the Inner Mongolia fields and code file.
struct GeneratedCountyRun {
  GeneratedCountyRun(const ScopedProgramDir& home, std::uint64_t seed, long parcels = 2000,
                     const std::string& county_code = "330102", bool following_year = false,
                     bool mongolia = false) {
    options.parcels = parcels;
    options.mongolia = mongolia;
    options.seed = seed;
    options.county_code = county_code;
    options.following_year = following_year;
    plan = county::PlanCounty(options);
    files = county::WriteCounty(
        plan, home.File((county_code == "330102" ? "county" : "county" + county_code) +
                        (following_year ? "-following" : "")));
    codes.reset(gis::RuralCode::Load(files.codes));
    for (const county::Village& village : plan.villages) {
      if (village.island) islands.insert(village.unit.code);
    }
    log = home.File("stat.log");
    host_settings = home.File("HostSetting.xml");
  }

  // The full run of `version` into the database, year 2009 unless told,
  // with an empty log first; the run's result.
  short Run(const std::string& version, const std::string& connection, bool server,
            const std::string& year = "2009") const {
    WriteFileBytes(host_settings, "<HostSetting><Set version=\"" + version + "\"/></HostSetting>");
    WriteFileBytes(log, "");
    OpenSurvey survey(files.survey);
    ScopedLayer district(gis::OpenLayer(files.survey, "行政辖区"));
    return landStatData(survey.parcel, survey.line, survey.point, 0, 0, 0, 0, 0, 0, district,
                        codes.get(), connection, year, options.county_code, server ? 1 : 0, 1, log);
  }

  // The full run of the survey's project as the hosts make it, year 2009
  // unless told, with an empty log first; the run's report.
  RunReport RunProject(const std::string& version, const std::string& connection, short mode,
                       const std::string& year = "2009") const {
    WriteFileBytes(host_settings, "<HostSetting><Set version=\"" + version + "\"/></HostSetting>");
    WriteFileBytes(log, "");
    const auto project = gis::CGisXmlPrj::Open(files.project);
    StatisticsRequest request;
    request.project = project.get();
    request.codes = codes.get();
    request.connection = connection;
    request.year = year;
    request.county = options.county_code;
    request.db_mode = mode;
    request.log_path = log;
    return RunStatistics(request);
  }

  county::CountyOptions options;
  county::CountyPlan plan;
  county::CountyFiles files;
  std::unique_ptr<gis::RuralCode> codes;
  std::set<std::string> islands;  // the island villages' codes
  std::string log, host_settings;
};

}  // namespace landstat::testing
