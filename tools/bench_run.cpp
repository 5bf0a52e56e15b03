// Wall time, throughput and peak memory of a statistics run on a generated
// county, stage by stage, on SQLite or PostgreSQL, and of the conversion of
// its stored statistics to hectares.
//
//   bench_run --parcels N [--server CONNINFO] [--dir DIR]
//
// The county is generated into DIR/county-N (kept for later runs).
// tools/bench-run runs it for several sizes and both engines.

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <iostream>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "county_plan.h"
#include "county_writer.h"
#include "engine/database_helpers.h"
#include "engine/stat_context.h"
#include "platform/db/db_error.h"
#include "platform/db/recordset.h"
#include "platform/gis/gis_error.h"
#include "platform/gis/project.h"
#include "platform/gis/rural_code.h"
#include "platform/host/ini_file.h"
#include "platform/host/paths.h"
#include "units/database_conversion.h"

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

void Require(short result, const char* stage) {
  if (result <= 0) throw std::runtime_error(std::string(stage) + " failed");
}

}  // namespace

int main(int argc, char** argv) {
  long parcels = 10000;
  std::string server;
  fs::path dir = fs::temp_directory_path() / "landstat-bench";
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    if (option == "--parcels")
      parcels = std::stol(argv[i + 1]);
    else if (option == "--server")
      server = argv[i + 1];
    else if (option == "--dir")
      dir = argv[i + 1];
  }
  try {
    const fs::path county_dir = dir / ("county-" + std::to_string(parcels));
    if (!fs::exists(county_dir / "project.xml")) {
      county::CountyOptions options;
      options.parcels = parcels;
      county::WriteCounty(county::PlanCounty(options), county_dir.string());
    }
    const fs::path home = dir / "config";
    host::SetProgramDir(home.string());
    host::IniFile config = host::IniFile::Load(host::StatConfigPath());
    config.Set("AreaUnit", "Unit1", "平方米");
    config.Set("AreaUnit", "Unit2", "公顷");
    config.Set("AreaUnit", "Unit3", "亩");
    config.Set("PointLen", "Len2", "4");
    config.Save();
    // The installation's statement scripts, when run from the source tree.
    for (const char* folder : {"Access", "SQL"}) {
      const fs::path scripts = fs::path("src/resources/config") / folder;
      if (fs::exists(scripts)) {
        fs::copy(scripts, fs::path(host::ConfigDir()) / folder,
                 fs::copy_options::recursive | fs::copy_options::overwrite_existing);
      }
    }

    std::string connection = server;
    if (server.empty()) {
      const fs::path database = county_dir / "bench.sqlite";
      fs::remove(database);
      CreateAcessDB(database.string());
      connection = "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + database.string();
    }
    std::unique_ptr<gis::CGisXmlPrj> project =
        gis::CGisXmlPrj::Open((county_dir / "project.xml").string());
    std::unique_ptr<gis::RuralCode> codes(gis::RuralCode::Load(project->GetCodeFile()));
    const char* engine = server.empty() ? "sqlite" : "postgres";

    CStatContext context(project->prjItemGetAi("行政辖区"), project->prjItemGetAi("地类图斑"),
                         project->prjItemGetAi("线状地物"), project->prjItemGetAi("零星地物"), 0, 0,
                         0, 0, 0, 0, codes.get(), "2024", project->GetCountyCode(), "", 1, "");
    double total = 0;
    const auto stage = [&](const char* name, const std::function<void()>& work) {
      const double seconds = Seconds(work);
      total += seconds;
      std::printf("%-9s %8ld parcels  %-22s %8.2f s\n", engine, parcels, name, seconds);
    };
    stage("context", [&] {
      Require(context.InitUnits(connection, server.empty() ? 0 : 1), "InitUnits");
      Require(context.LoadCodes(), "LoadCodes");
    });
    long rows = 0;
    double fill_seconds = 0;
    stage("base table", [&] {
      Require(context.CreateStatDataTable(), "CreateStatDataTable");
      fill_seconds =
          Seconds([&] { Require(context.BuildStatDataDirect(), "BuildStatDataDirect"); });
      rows = static_cast<long>(
          context.m_pConn.Scalar("select count(*) from " + context.m_strStatTbl).AsInteger());
    });
    stage("unit copies", [&] {
      Require(context.CreateUnitStatTables(), "CreateUnitStatTables");
      Require(context.FillUnitStatTables(), "FillUnitStatTables");
    });
    stage("code tables", [&] {
      if (context.CreateXzxqTable() > 0) context.FillXzxqTable();
      if (context.CreateQsdmbTable() > 0) context.FillQsdmbTable();
    });
    // Each land-use family: its create driver, then its fill.
    const std::vector<std::tuple<const char*, std::function<short()>, std::function<void()>>>
        families = {
            {"NCTDLY_YJFL", [&] { return context.CreateNcTdlyYjflTables(); },
             [&] { context.StatNcTdlyClass(1); }},
            {"NCTDLY_EJFL", [&] { return context.CreateNcTdlyEjflTables(); },
             [&] { context.StatNcTdlyClass(2); }},
            {"NCTDLY_SJFL", [&] { return context.CreateNcTdlySjflTables(); },
             [&] { context.StatNcTdlySjfl(); }},
            {"NCHDTDLY_YJFL", [&] { return context.CreateNcHdTdlyYjflTables(); },
             [&] { context.StatNcHdTdlyYjfl(); }},
            {"NCHDTDLY_EJFL", [&] { return context.CreateNcHdTdlyEjflTables(); },
             [&] { context.StatNcHdTdlyEjfl(); }},
            {"TDLY_YJFL", [&] { return context.CreateTdlyYjflTables(); },
             [&] { context.StatTdlyClass(1); }},
            {"TDLY_EJFL", [&] { return context.CreateTdlyEjflTables(); },
             [&] { context.StatTdlyClass(2); }},
            {"NCTDLY_QSYJFL", [&] { return context.CreateNcTdlyQsYjflTables(); },
             [&] { context.StatTdlyQsYjfl(1); }},
            {"NCTDLY_QSSJFL", [&] { return context.BuildNcTdlyQsCodeTable(); },
             [&] { context.StatNcTdlyQsSjfl(); }},
            {"FRDTDLY_YJFL", [&] { return context.CreateFrdTdlyYjflTables(); },
             [&] { context.StatFrdTdly(1); }},
            {"FRDTDLY_EJFL", [&] { return context.CreateFrdTdlyEjflTables(); },
             [&] { context.StatFrdTdly(2); }},
            {"GDPDMJHZ", [&] { return context.CreateGdPdMjHzTables(); },
             [&] { context.StatGdPdMjHz(); }},
            {"TDLYTZ", [&] { return context.CreateTdlyTzTables(); }, [&] { context.StatTdlyTz(); }},
            {"statdataNOHD", [] { return short{1}; }, [&] { context.CreateStatDataNohd(); }},
            {"NCTDLY_YJFLNOHD", [&] { return context.CreateNcTdlyYjflNohdTables(); },
             [&] { context.StatNohdTables(1); }},
            {"NCTDLY_EJFLNOHD", [&] { return context.CreateNcTdlyEjflNohdTables(); },
             [&] { context.StatNohdTables(2); }},
            {"NCTDLY_QSYJFLNOHD", [&] { return context.CreateNcTdlyQsYjflNohdTables(); },
             [&] { context.StatQsYjflNohdTables(1); }},
        };
    for (const auto& [name, create, fill] : families) {
      stage(name, [&] {
        if (create() > 0) fill();
      });
    }
    const double run_total = total;
    // The stored statistics converted to hectares: the rebuild, then the
    // conversion in place and the balancing.
    const short mode = server.empty() ? 0 : 1;
    const std::string county = project->GetCountyCode();
    stage("convert: rebuild", [&] {
      Require(
          LandConvertAreaUnit(codes.get(), connection, mode, "2024", county, kHectare, 2, 1, ""),
          "LandConvertAreaUnit");
    });
    stage("convert: in place", [&] {
      Require(
          LandConvertAreaUnit1(codes.get(), connection, mode, "2024", county, kHectare, 2, 1, ""),
          "LandConvertAreaUnit1");
    });
    total = run_total;
    std::printf("%-9s %8ld parcels  base fill: %ld rows, %.0f parcels/s, %.0f rows/s\n", engine,
                parcels, rows, parcels / fill_seconds, rows / fill_seconds);
    std::printf("%-9s %8ld parcels  whole run %.2f s, peak memory %ld MB\n", engine, parcels, total,
                PeakMegabytes());
  } catch (const std::exception& error) {
    std::cerr << "bench_run: " << error.what() << "\n";
    return 1;
  }
  return 0;
}
