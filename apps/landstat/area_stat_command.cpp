// landstat area-stat: the area statistics of the attribute browser, written
// without a screen.

#include <filesystem>
#include <iostream>
#include <pugixml.hpp>
#include <string>
#include <vector>

#include "command_support.h"
#include "commands.h"
#include "operator/area_stat_output.h"
#include "platform/host/notifier.h"

namespace landstat::cli {
namespace {

namespace fs = std::filesystem;

// The index of `value` among `names` (or the index itself as a number);
// -1 when it is neither.
int IndexOf(const std::string& value, const std::vector<std::string>& names) {
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (value == names[i] || value == std::to_string(i)) return static_cast<int>(i);
  }
  return -1;
}

bool ReadChoice(const Options& options, AreaStatChoice& choice, std::string& error) {
  const struct {
    const char* option;
    std::vector<std::string> names;
    int AreaStatChoice::*index;
  } kChoices[] = {
      {"unit", {"平方米", "亩", "公顷"}, &AreaStatChoice::unit},
      {"scope", {"座落单位", "权属单位"}, &AreaStatChoice::scope},
      {"level", {"市级", "县(区)级", "乡(街道)级", "村(街坊)级", "小组级"}, &AreaStatChoice::level},
  };
  for (const auto& entry : kChoices) {
    if (!options.Has(entry.option)) continue;
    choice.*entry.index = IndexOf(options.Get(entry.option), entry.names);
    if (choice.*entry.index < 0) {
      error = "--" + std::string(entry.option) + " " + options.Get(entry.option) + " is not one of";
      for (const std::string& name : entry.names) error += " " + name;
      return false;
    }
  }
  return true;
}

}  // namespace

const char* const AreaStatHelp =
    "usage: landstat area-stat --project FILE --catalogue FILE --template FILE [options]\n"
    "\n"
    "Writes the area statistics of the attribute browser: each title of the area\n"
    "statistics catalogue becomes a workbook <title>PM.xlsx (MU, GQ by unit) in the\n"
    "project's folder, from the statistics database the catalogue names there.\n"
    "\n"
    "  --project FILE    the survey's project file; its folder holds the databases\n"
    "  --catalogue FILE  the area statistics catalogue (tDemo, database, strTableName)\n"
    "  --template FILE   the template workbook each output is copied from\n"
    "  --title TEXT      one title of the catalogue (default: every title)\n"
    "  --unit UNIT       平方米, 亩 or 公顷 (default 平方米)\n"
    "  --scope SCOPE     座落单位 or 权属单位 (default 权属单位, as the browser without a choice)\n"
    "  --level LEVEL     市级, 县(区)级, 乡(街道)级, 村(街坊)级 or 小组级 (default 小组级)\n"
    "  --overwrite       replace workbooks that exist (default: keep them)\n"
    "\n"
    "A title whose database or table list is no file name of its folder, whose table\n"
    "list gives a statTbl that is no table name (letters, digits and _), or whose database\n"
    "is missing (named) gives no workbook. A workbook is filled under a private work name\n"
    "and renamed into place once complete, so a failed one never replaces an earlier one.\n"
    "\n"
    "Exits 0 when every title gave its workbook, 3 when some gave none (each named with\n"
    "the reason), 1 when the catalogue cannot be read, 2 on wrong options.\n";

const OptionSpecs AreaStatOptions = {{"project", false}, {"catalogue", false}, {"template", false},
                                     {"title", false},   {"unit", false},      {"scope", false},
                                     {"level", false},   {"overwrite", true}};

int AreaStat(const Options& options) {
  for (const char* required : {"project", "catalogue", "template"}) {
    if (!options.Has(required)) {
      std::cerr << "landstat area-stat: --" << required << " is required\n";
      return 2;
    }
  }
  AreaStatChoice choice;
  if (std::string error; !ReadChoice(options, choice, error)) {
    std::cerr << "landstat area-stat: " << error << "\n";
    return 2;
  }
  return GuardCommand("area-stat", [&] {
    const std::string catalogue = options.Get("catalogue");
    const std::vector<AreaStatTitle> entries = ReadAreaStatCatalogue(catalogue);
    if (entries.empty()) {
      std::cerr << "landstat area-stat: " << catalogue << " cannot be read or holds no title\n";
      return 1;
    }
    std::vector<AreaStatTitle> titles;
    for (const AreaStatTitle& entry : entries) {
      if (!options.Has("title") || entry.title == options.Get("title")) titles.push_back(entry);
    }
    if (titles.empty()) {
      std::cerr << "landstat area-stat: " << catalogue << " has no title " << options.Get("title")
                << "\n";
      return 3;
    }
    // The reasons are printed once, with their titles, below.
    host::RecordingNotifier notifier(options.Has("overwrite"));
    host::ScopedNotifier scoped(notifier);
    AreaStatOutput output(fs::path(options.Get("project")).parent_path().string(), catalogue,
                          options.Get("template"));
    output.choice = choice;
    output.show = false;
    int missing = 0;
    for (const auto& [title, database] : titles) {
      if (output.OutputAreaStat(database, title)) {
        std::cout << output.LastWorkbook() << "\n";
      } else {
        std::cerr << "landstat area-stat: " << title << ": no workbook: " << output.LastProblem()
                  << "\n";
        ++missing;
      }
    }
    return missing == 0 ? 0 : 3;
  });
}

}  // namespace landstat::cli
