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
      {"convert",
       {"converts a county's stored statistics to another area unit", landstat::cli::Convert,
        landstat::cli::ConvertHelp, &landstat::cli::ConvertOptions}},
      {"report",
       {"writes a county's summary tables as .xlsx reports", landstat::cli::Report,
        landstat::cli::ReportHelp, &landstat::cli::ReportOptions}},
      {"mongolia",
       {"runs the Inner Mongolia statistics of a county's survey", landstat::cli::Mongolia,
        landstat::cli::MongoliaHelp, &landstat::cli::MongoliaOptions}},
      {"town",
       {"runs the town-lot statistics of a county's lots and houses", landstat::cli::Town,
        landstat::cli::TownHelp, &landstat::cli::TownOptions}},
  };
  return commands;
}

void Usage(std::ostream& out) {
  out << "usage: landstat COMMAND [OPTIONS]\n\ncommands:\n";
  for (const auto& [name, command] : Commands()) {
    out << "  " << name << std::string(10 - name.size(), ' ') << command.summary << "\n";
  }
  out << "\n'landstat COMMAND --help' describes a command's options; 'landstat --version'\n"
         "prints the version.\n";
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
    std::cout << found->second.help;
    return 0;
  }
  return found->second.run(options);
}

}  // namespace

int main(int argc, char** argv) {
  return landstat::cli::GuardCommand("", [&] { return Main(argc, argv); });
}
