// Wall time and peak memory of a statistics run on a generated county, stage
// by stage as the run itself reports them (the fixed stages, then each
// summary family), on SQLite or PostgreSQL, then of the town-lot run, the
// rural ownership-lot run (the town lots serving as its lots) and the Inner
// Mongolia run on the same database, and of the conversions of its stored
// statistics to mu and back to hectares.
//
//   bench_run --parcels N [--lots N] [--server CONNINFO] [--dir DIR] [--version V]
//             [--db FILE] [--only general|mongolia] [--temporary-fill 1]
//
// --only general stops after the statistics run (no town-lot, ownership-lot,
// Inner Mongolia run or conversion). --only mongolia times the Inner
// Mongolia run alone: the statistics run is made first only when the
// database (kept from an earlier call) holds none of the year and county.
// --temporary-fill 1 fills the Inner Mongolia base table by the temporary
// fill's rules.
// --version V runs the regional variant V (such as 广东农村, whose farmland
// stage is timed as the family statdata_jbntGD); the default version string
// otherwise.
// The county, with the Inner Mongolia fields, is generated into
// DIR/county-N-mg (DIR/county-N-lots-L-mg with --lots, which puts a town lot
// on each of the first L parcels; kept for later runs).
// --db FILE puts the SQLite database there instead of into the county's
// folder (so that a shared county is only read); --only general stops after
// the general run.
// tools/bench-run runs it for several sizes and both engines.

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "county_plan.h"
#include "county_writer.h"
#include "engine/database_helpers.h"
#include "engine/statistics_run.h"
#include "engine/table_names.h"
#include "lots/ncqs_run.h"
#include "lots/town_lot_run.h"
#include "mongolia/mongolia_run.h"
#include "platform/db/db_error.h"
#include "platform/db/recordset.h"
#include "platform/gis/gis_error.h"
#include "platform/gis/project.h"
#include "platform/gis/rural_code.h"
#include "platform/host/ini_file.h"
#include "platform/host/paths.h"
#include "units/conversion_run.h"

namespace fs = std::filesystem;
using namespace landstat;

namespace {

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

// Bytes this process has caused to be written to storage so far, in
// megabytes (the kernel's count; 0 where it keeps none).
long WrittenMegabytes() {
  std::ifstream io("/proc/self/io");
  std::string key;
  long long value = 0;
  while (io >> key >> value) {
    if (key == "write_bytes:") return static_cast<long>(value / (1024 * 1024));
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  long parcels = 10000;
  long lots = -1;
  std::string server;
  std::string version;
  std::string only;
  bool temporary_fill = false;
  fs::path database_path;
  fs::path dir = fs::temp_directory_path() / "landstat-bench";
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    if (option == "--parcels")
      parcels = std::stol(argv[i + 1]);
    else if (option == "--lots")
      lots = std::stol(argv[i + 1]);
    else if (option == "--server")
      server = argv[i + 1];
    else if (option == "--dir")
      dir = argv[i + 1];
    else if (option == "--version")
      version = argv[i + 1];
    else if (option == "--db")
      database_path = argv[i + 1];
    else if (option == "--only")
      only = argv[i + 1];
    else if (option == "--temporary-fill")
      temporary_fill = std::string(argv[i + 1]) == "1";
  }
  try {
    const fs::path county_dir =
        dir / ("county-" + std::to_string(parcels) +
               (lots < 0 ? std::string() : "-lots-" + std::to_string(lots)) + "-mg");
    if (!fs::exists(county_dir / "project.xml")) {
      county::CountyOptions options;
      options.parcels = parcels;
      options.town_lots = lots;
      options.mongolia = true;
      county::WriteCounty(county::PlanCounty(options), county_dir.string());
    }
    const fs::path home = dir / "config";
    host::SetProgramDir(home.string());
    fs::remove(home / "HostSetting.xml");
    if (!version.empty()) county::WriteHostSettings(home.string(), version);
    host::IniFile config = host::IniFile::Load(host::StatConfigPath());
    config.Set("AreaUnit", "Unit1", "平方米");
    config.Set("AreaUnit", "Unit2", "公顷");
    config.Set("AreaUnit", "Unit3", "亩");
    config.Set("PointLen", "Len2", "4");
    if (!config.Save()) throw std::runtime_error("cannot write " + host::StatConfigPath());
    // The installation's statement scripts, from the source tree it was
    // built from: a run without them would leave their tables out.
    for (const char* folder : {"Access", "SQL"}) {
      const fs::path scripts = fs::path(LANDSTAT_SCRIPTS) / folder;
      if (fs::exists(scripts)) {
        fs::copy(scripts, fs::path(host::ConfigDir()) / folder,
                 fs::copy_options::recursive | fs::copy_options::overwrite_existing);
      }
    }

    const bool mongolia_only = only == "mongolia";
    std::string connection = server;
    if (server.empty()) {
      const fs::path database = database_path.empty() ? county_dir / "bench.sqlite" : database_path;
      if (!mongolia_only || !fs::exists(database)) {
        fs::remove(database);
        CreateAcessDB(database.string());
      }
      connection = database.string();
    }
    std::unique_ptr<gis::CGisXmlPrj> project =
        gis::CGisXmlPrj::Open((county_dir / "project.xml").string());
    std::unique_ptr<gis::RuralCode> codes(gis::RuralCode::Load(project->GetCodeFile()));
    const char* engine = server.empty() ? "sqlite" : "postgres";
    const std::string county = project->GetCountyCode();

    // The real run, timed stage by stage as it reports each stage's end.
    auto last = std::chrono::steady_clock::now();
    const auto stage_ended = [&](const std::string& name) {
      const auto now = std::chrono::steady_clock::now();
      // The peak so far: a stage that needs more memory than those before
      // it raises it.
      std::printf("%-9s %8ld parcels  %-22s %8.2f s  peak %ld MB\n", engine, parcels, name.c_str(),
                  std::chrono::duration<double>(now - last).count(), PeakMegabytes());
      last = now;
    };
    StatisticsRequest request;
    request.project = project.get();
    request.codes = codes.get();
    request.connection = connection;
    request.year = "2024";
    request.county = county;
    request.db_mode = server.empty() ? 0 : 1;
    request.replace_other = true;
    request.observer = stage_ended;
    const long written_before = WrittenMegabytes();
    // The Inner Mongolia run alone reuses the statistics the database holds.
    const bool general_held =
        mongolia_only && HeldStatisticsProblem(connection, request.year, county).empty();
    const RunReport run = general_held ? RunReport{} : RunStatistics(request);
    const long run_written = WrittenMegabytes() - written_before;
    const long file_megabytes =
        server.empty() ? static_cast<long>(fs::file_size(connection) / (1024 * 1024)) : 0;
    if (!general_held && !run.Completed()) {
      throw std::runtime_error("the run failed: " +
                               (run.messages.empty() ? std::string() : run.messages.front()));
    }
    std::printf("%-9s %8ld parcels  tables:", engine, parcels);
    for (const std::string& table : run.tables) std::printf(" %s", table.c_str());
    std::printf("\n");
    // The Inner Mongolia run on the same database, stage by stage.
    const auto time_mongolia = [&] {
      last = std::chrono::steady_clock::now();
      std::unique_ptr<gis::RuralCode> mg_codes(
          gis::RuralCode::Load((county_dir / "codes_mg.tsv").string()));
      MongoliaRequest mongolia;
      static_cast<JobTarget&>(mongolia) = request;
      if (temporary_fill) mongolia.db_mode = 2;
      mongolia.project = project.get();
      mongolia.second_codes = mg_codes.get();
      mongolia.observer = [&](const std::string& name) { stage_ended("mongolia " + name); };
      const RunReport mongolia_run = RunMongolia(mongolia);
      if (!mongolia_run.Completed()) {
        throw std::runtime_error(
            "the Inner Mongolia run failed: " +
            (mongolia_run.messages.empty() ? std::string() : mongolia_run.messages.front()));
      }
      std::printf("%-9s %8ld parcels  %-22s %8.2f s (%ld failures logged), peak memory %ld MB\n",
                  engine, parcels, "Inner Mongolia run", mongolia_run.seconds,
                  mongolia_run.failures, PeakMegabytes());
    };
    if (mongolia_only) {
      time_mongolia();
      return 0;
    }
    if (only == "general") {
      std::printf("%-9s %8ld parcels  whole run %.2f s (%ld failures logged), peak memory %ld MB\n",
                  engine, parcels, run.seconds, run.failures, PeakMegabytes());
      return 0;
    }

    // The town-lot run on the same database, stage by stage.
    last = std::chrono::steady_clock::now();
    TownLotRequest town;
    static_cast<JobTarget&>(town) = request;
    town.project = project.get();
    town.observer = [&](const std::string& name) { stage_ended("town " + name); };
    const RunReport town_run = RunTownLots(town);
    if (!town_run.Completed()) {
      throw std::runtime_error("the town-lot run failed: " + (town_run.messages.empty()
                                                                  ? std::string()
                                                                  : town_run.messages.front()));
    }
    std::printf("%-9s %8ld parcels  %-22s %8.2f s (%ld failures logged)\n", engine, parcels,
                "town-lot run", town_run.seconds, town_run.failures);

    // The rural ownership-lot run on the same database, stage by stage: its
    // base fill beside the run's, and the lot-number walk over every parcel.
    last = std::chrono::steady_clock::now();
    NcqsRequest ncqs;
    static_cast<JobTarget&>(ncqs) = request;
    ncqs.project = project.get();
    ncqs.observer = [&](const std::string& name) { stage_ended("ncqs " + name); };
    const RunReport ncqs_run = RunNcqs(ncqs);
    if (!ncqs_run.Completed()) {
      throw std::runtime_error(
          "the rural ownership-lot run failed: " +
          (ncqs_run.messages.empty() ? std::string() : ncqs_run.messages.front()));
    }
    std::printf("%-9s %8ld parcels  %-22s %8.2f s (%ld failures logged)\n", engine, parcels,
                "ncqs run", ncqs_run.seconds, ncqs_run.failures);
    time_mongolia();

    // The stored statistics converted to mu and back to hectares, each with
    // the decimals configured for its unit: the rebuild, then the conversion
    // in place and the balancing.
    for (const auto& [unit, name] :
         {std::pair{kMu, "conversion to mu"}, std::pair{kHectare, "conversion to hectares"}}) {
      const double convert_seconds = Seconds([&, unit = unit] {
        ConversionRequest conversion;
        conversion.codes = codes.get();
        conversion.connection = connection;
        conversion.year = "2024";
        conversion.county = county;
        conversion.db_mode = request.db_mode;
        conversion.target = unit;
        conversion.group_level = 1;
        const RunReport converted = ConvertStatistics(conversion);
        if (!converted.Completed()) throw std::runtime_error("the conversion failed");
      });
      std::printf("%-9s %8ld parcels  %-22s %8.2f s\n", engine, parcels, name, convert_seconds);
    }
    std::printf(
        "%-9s %8ld parcels  whole run %.2f s (%ld failures logged), peak memory %ld MB, written "
        "%ld MB, database file %ld MB\n",
        engine, parcels, run.seconds, run.failures, PeakMegabytes(), run_written, file_megabytes);
  } catch (const std::exception& error) {
    std::cerr << "bench_run: " << error.what() << "\n";
    return 1;
  }
  return 0;
}
