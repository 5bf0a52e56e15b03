#pragma once

#include <map>
#include <string>

namespace landstat::cli {

// Options given as "--name value" or "--flag".
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

// Flags take no value; every other option takes the next argument.
bool ParseOptions(int argc, char** argv, Options& options, std::string& error);

struct Command {
  const char* summary;
  int (*run)(const Options&);
  const char* help;
};

int Run(const Options& options);
extern const char* const RunHelp;
int Convert(const Options& options);
extern const char* const ConvertHelp;

}  // namespace landstat::cli
