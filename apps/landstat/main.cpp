// landstat: the command-line host of the statistics engine.

#include <cstdio>
#include <cstring>
#include <iostream>
#include <map>
#include <string>

#include "command_support.h"
#include "commands.h"

namespace {

const std::map<std::string, landstat::cli::Command>& Commands() {
  static const std::map<std::string, landstat::cli::Command> commands = {
      {"run",
       {"runs the statistics of a county's survey into a database", landstat::cli::Run,
        landstat::cli::RunHelp, &landstat::cli::RunOptions}},
      {"batch",
       {"runs the statistics of many counties of one year", landstat::cli::Batch,
        landstat::cli::BatchHelp, &landstat::cli::BatchOptions}},
      {"convert",
       {"converts a county's stored statistics to another area unit", landstat::cli::Convert,
        landstat::cli::ConvertHelp, &landstat::cli::ConvertOptions}},
      {"area-stat",
       {"writes the attribute browser's area statistics as .xlsx workbooks",
        landstat::cli::AreaStat, landstat::cli::AreaStatHelp, &landstat::cli::AreaStatOptions}},
      {"merge",
       {"merges a rural and a town statistics database of a county", landstat::cli::Merge,
        landstat::cli::MergeHelp, &landstat::cli::MergeOptions}},
      {"range",
       {"runs the statistics of a range cut out of a county", landstat::cli::Range,
        landstat::cli::RangeHelp, &landstat::cli::RangeOptions}},
      {"report",
       {"writes a county's summary tables as .xlsx reports", landstat::cli::Report,
        landstat::cli::ReportHelp, &landstat::cli::ReportOptions}},
      {"report-db",
       {"copies a county's report tables of one unit into a file for submission",
        landstat::cli::ReportDb, landstat::cli::ReportDbHelp, &landstat::cli::ReportDbOptions}},
      {"mongolia",
       {"runs the Inner Mongolia statistics of a county's survey", landstat::cli::Mongolia,
        landstat::cli::MongoliaHelp, &landstat::cli::MongoliaOptions}},
      {"town",
       {"runs the town-lot statistics of a county's lots and houses", landstat::cli::Town,
        landstat::cli::TownHelp, &landstat::cli::TownOptions}},
      {"town-report",
       {"writes the town second-level classification report from a lot layer",
        landstat::cli::TownReport, landstat::cli::TownReportHelp,
        &landstat::cli::TownReportOptions}},
      {"ncqs",
       {"runs the rural ownership-lot statistics of a county's parcels and lots",
        landstat::cli::Ncqs, landstat::cli::NcqsHelp, &landstat::cli::NcqsOptions}},
  };
  return commands;
}

void Usage(std::ostream& out) {
  out << "usage: landstat COMMAND [OPTIONS]\n\ncommands:\n";
  for (const auto& [name, command] : Commands()) {
    // Summaries line up after the names; a longer name gets one blank.
    constexpr std::size_t kNameWidth = 13;
    const std::size_t pad = name.size() < kNameWidth ? kNameWidth - name.size() : 1;
    out << "  " << name << std::string(pad, ' ') << command.summary << "\n";
  }
  out << "\nAn option takes its value as '--name value' or '--name=value'; '--' ends the\n"
         "options. 'landstat COMMAND --help' (or -h) describes a command's options;\n"
         "'landstat --version' prints the version.\n";
}

int Main(int argc, char** argv) {
  if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
    Usage(argc < 2 ? std::cerr : std::cout);
    return argc < 2 ? 2 : 0;
  }
  if (std::strcmp(argv[1], "--version") == 0) {
    std::cout << "landstat " << LANDSTAT_VERSION << "\n";
    return 0;
  }
  auto found = Commands().find(argv[1]);
  if (found == Commands().end()) {
    std::cerr << "landstat: unknown command '" << argv[1] << "'\n";
    Usage(std::cerr);
    return 2;
  }
  landstat::cli::Options options;
  std::string error;
  if (!landstat::cli::ParseOptions(argc - 2, argv + 2, *found->second.options, options, error)) {
    std::cerr << "landstat " << argv[1] << ": " << error << " (see landstat " << argv[1]
              << " --help)\n";
    return 2;
  }
  if (options.Has("help")) {
    std::cout << found->second.help << landstat::cli::CommonOptionsHelp(*found->second.options);
    return 0;
  }
  return found->second.run(options);
}

}  // namespace

int main(int argc, char** argv) {
  return landstat::cli::GuardCommand("", [&] { return Main(argc, argv); });
}
