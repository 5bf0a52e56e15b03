// Wall time and peak memory of the town-lot run alone, stage by stage, on a
// database that already holds the general run of the county (so that the
// peak is the town run's own, not the general run's):
//
//   bench_town_run --project FILE --db CONNECTION --home DIR [--year YYYY] [--runs N]
//                  [--job ncqs]
//
// --home is a configuration root as tools/bench_run writes it (DIR/config);
// --runs repeats the run on the same database (each replaces the tables of
// the one before); --job ncqs times the rural ownership-lot run instead, the
// town lots serving as its lots. tools/bench-anchor-town times the town-lot
// run beside its anchor.

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <iostream>
#include <memory>
#include <string>

#include "lots/ncqs_run.h"
#include "lots/town_lot_run.h"
#include "platform/gis/project.h"
#include "platform/gis/rural_code.h"
#include "platform/host/paths.h"

using namespace landstat;

namespace {

long PeakMegabytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss / 1024;
}

}  // namespace

int main(int argc, char** argv) {
  std::string project_file, connection, home, year = "2024", job = "town";
  int runs = 1;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    if (option == "--project")
      project_file = argv[i + 1];
    else if (option == "--db")
      connection = argv[i + 1];
    else if (option == "--home")
      home = argv[i + 1];
    else if (option == "--year")
      year = argv[i + 1];
    else if (option == "--runs")
      runs = std::stoi(argv[i + 1]);
    else if (option == "--job")
      job = argv[i + 1];
  }
  if (project_file.empty() || connection.empty() || home.empty() ||
      (job != "town" && job != "ncqs")) {
    std::cerr << "usage: bench_town_run --project FILE --db CONNECTION --home DIR [--year YYYY] "
                 "[--runs N] [--job ncqs]\n";
    return 2;
  }
  host::SetProgramDir(home);
  std::unique_ptr<gis::CGisXmlPrj> project = gis::CGisXmlPrj::Open(project_file);
  std::unique_ptr<gis::RuralCode> codes(gis::RuralCode::Load(project->GetCodeFile()));
  for (int run = 0; run < runs; ++run) {
    auto last = std::chrono::steady_clock::now();
    JobTarget target;
    target.codes = codes.get();
    target.connection = connection;
    target.year = year;
    target.county = project->GetCountyCode();
    target.db_mode = connection.find('=') == std::string::npos ? 0 : 1;
    const auto observer = [&](const std::string& stage) {
      const auto now = std::chrono::steady_clock::now();
      std::printf("%s  %-22s %8.2f s  peak %ld MB\n", job.c_str(), stage.c_str(),
                  std::chrono::duration<double>(now - last).count(), PeakMegabytes());
      std::fflush(stdout);
      last = now;
    };
    RunReport report;
    if (job == "ncqs") {
      NcqsRequest request;
      static_cast<JobTarget&>(request) = target;
      request.project = project.get();
      request.lot_layer_name = kTownLotLayerNames[0];
      request.observer = observer;
      report = RunNcqs(request);
    } else {
      TownLotRequest request;
      static_cast<JobTarget&>(request) = target;
      request.project = project.get();
      request.observer = observer;
      report = RunTownLots(request);
    }
    std::printf("%s run %.2f s (%s, %ld failures logged), peak memory %ld MB\n",
                job == "ncqs" ? "ownership-lot" : "town-lot", report.seconds,
                report.Completed() ? "completed" : "FAILED", report.failures, PeakMegabytes());
    if (!report.Completed()) {
      for (const std::string& message : report.messages) std::cerr << message << "\n";
      return 1;
    }
  }
  return 0;
}
