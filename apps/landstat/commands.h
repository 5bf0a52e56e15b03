#pragma once

#include <map>
#include <string>
#include <vector>

namespace landstat::cli {

// Options given as "--name value", "--name=value" or "--flag".
class Options {
 public:
  bool Has(const std::string& name) const { return values_.count(name) != 0; }
  std::string Get(const std::string& name, const std::string& fallback = {}) const {
    auto found = values_.find(name);
    return found == values_.end() ? fallback : found->second;
  }
  void Set(const std::string& name, const std::string& value) { values_[name] = value; }

 private:
  std::map<std::string, std::string> values_;
};

// An option a command takes: a flag stands alone, any other option takes
// the next argument as its value.
struct OptionSpec {
  const char* name;  // without the leading "--"
  bool flag;
};
using OptionSpecs = std::vector<OptionSpec>;

// Reads "--name value", "--name=value" and "--flag" arguments; "-h" is
// "--help" and "-q" "--quiet", and "--" ends the options. An option the
// command does not declare, an argument that is no option, a value missing
// or one given to a flag is refused: `error` names it. "--help" is always
// taken, and ends the reading: the command then only describes itself.
bool ParseOptions(int argc, char** argv, const OptionSpecs& declared, Options& options,
                  std::string& error);
// The closing part of every command's help: the options read alike by every
// command that takes them (-q where the command declares it, -h always)
// and how an option takes its value.
std::string CommonOptionsHelp(const OptionSpecs& declared);

struct Command {
  const char* summary;
  int (*run)(const Options&);
  const char* help;
  const OptionSpecs* options;
};

int Run(const Options& options);
extern const char* const RunHelp;
extern const OptionSpecs RunOptions;
int Convert(const Options& options);
extern const char* const ConvertHelp;
extern const OptionSpecs ConvertOptions;
int Town(const Options& options);
extern const char* const TownHelp;
extern const OptionSpecs TownOptions;
int TownReport(const Options& options);
extern const char* const TownReportHelp;
extern const OptionSpecs TownReportOptions;
int Ncqs(const Options& options);
extern const char* const NcqsHelp;
extern const OptionSpecs NcqsOptions;
int Mongolia(const Options& options);
extern const char* const MongoliaHelp;
extern const OptionSpecs MongoliaOptions;
int Report(const Options& options);
extern const char* const ReportHelp;
extern const OptionSpecs ReportOptions;
int AreaStat(const Options& options);
extern const char* const AreaStatHelp;
extern const OptionSpecs AreaStatOptions;
int ReportDb(const Options& options);
extern const char* const ReportDbHelp;
extern const OptionSpecs ReportDbOptions;
int Batch(const Options& options);
extern const char* const BatchHelp;
extern const OptionSpecs BatchOptions;
int Range(const Options& options);
extern const char* const RangeHelp;
extern const OptionSpecs RangeOptions;
int Merge(const Options& options);
extern const char* const MergeHelp;
extern const OptionSpecs MergeOptions;

}  // namespace landstat::cli
