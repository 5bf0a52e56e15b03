// landstat town-report: the town second-level classification report from a
// lot layer and a code file, without a statistics run.

#include <filesystem>
#include <iostream>
#include <memory>

#include "command_support.h"
#include "lots/town_second_level.h"
#include "platform/gis/gis_error.h"
#include "platform/host/paths.h"

namespace landstat::cli {

const char* const TownReportHelp =
    "usage: landstat town-report --lots SOURCE[:LAYER] --codes FILE --out DIR [options]\n"
    "\n"
    "Builds DIR/statdata.sqlite from a lot layer and a code file, without a statistics run:\n"
    "the lot table statdata_czzd (one row per lot, or one per item of its class-area ratio\n"
    "list 分类面积比例) and CZTDLY_EJFLZD (the lots summed by county, street and block, in\n"
    "square metres); then writes the report DIR/城镇宗地二级分类面积表.xlsx from the template.\n"
    "\n"
    "  --lots SOURCE[:LAYER]  the lot layer: a GeoPackage or shapefile and the layer's name\n"
    "                   (default: 城镇权属层, else 宗地, else a shapefile's own layer)\n"
    "  --codes FILE     the code file (land classes and administrative names)\n"
    "  --out DIR        the folder that receives the database and the report (made when\n"
    "                   missing)\n"
    "  --unpaged        the unpaged template; the report is 城镇宗地二级分类面积表(不分页).xlsx\n"
    "  --template FILE  the template workbook (default: 二次详查表格.xlsx in qentar/_secondfun_\n"
    "                   of the configuration); its (不分页) variant lies beside it\n"
    "  --home DIR       the configuration root (default: $LANDSTAT_HOME, else the\n"
    "                   installed share folder)\n"
    "\n"
    "A lot layer without 地籍号, 实测面积 or 土地用途 is refused, naming the field. An output\n"
    "folder whose database or report would be the lot source, the code file or the template\n"
    "is refused. The database is built beside DIR/statdata.sqlite and replaces it only when\n"
    "both tables are complete. A lot whose row cannot be written (no lot number, an empty\n"
    "land use, a class the code file lacks, a text longer than its column) is left out and\n"
    "named; an area or ratio that is no number, negative or implausible counts 0 and is\n"
    "named.\n"
    "\n"
    "Exits 0 when the database and the report were written and nothing was left out, 1 when\n"
    "the output failed or left something out (the message says what), 2 on wrong options.\n";

const OptionSpecs TownReportOptions = {{"lots", false},   {"codes", false},    {"out", false},
                                       {"unpaged", true}, {"template", false}, {"home", false},
                                       {"quiet", true}};

namespace {

// SOURCE[:LAYER]: the layer after the last ':' when the whole text names no
// existing file (a path may hold ':' itself).
std::pair<std::string, std::string> SourceAndLayer(const std::string& text) {
  std::error_code ignored;
  const std::size_t colon = text.rfind(':');
  if (colon == std::string::npos || std::filesystem::exists(text, ignored)) return {text, ""};
  return {text.substr(0, colon), text.substr(colon + 1)};
}

}  // namespace

int TownReport(const Options& options) {
  for (const char* required : {"lots", "codes", "out"}) {
    if (options.Get(required).empty()) {
      std::cerr << "landstat town-report: --" << required
                << " is required (see landstat town-report --help)\n";
      return 2;
    }
  }
  if (options.Has("home")) {
    std::error_code ignored;
    if (!std::filesystem::is_directory(options.Get("home"), ignored)) {
      std::cerr << "landstat town-report: --home " << options.Get("home") << " is not a folder\n";
      return 2;
    }
    host::SetProgramDir(options.Get("home"));
  }
  const HostOutput output(options);
  std::unique_ptr<gis::RuralCode> codes;
  gis::LayerHandle lots = 0;
  try {
    codes.reset(gis::RuralCode::Load(options.Get("codes")));
    const auto [source, layer] = SourceAndLayer(options.Get("lots"));
    lots = OpenTownLotLayer(source, layer);
  } catch (const gis::GisError& error) {
    std::cerr << "landstat town-report: " << error.what() << "\n";
    return 1;
  }
  const std::string folder = options.Get("out");
  std::error_code made;
  std::filesystem::create_directories(folder, made);  // a failure is told by the output
  const TownSecondLevelOutcome outcome = OutputTownSecondLevel(
      {lots, codes.get(), folder, !options.Has("unpaged"), false, options.Get("template")});
  gis::CloseLayer(lots);
  (outcome.Clean() ? std::cout : std::cerr) << outcome.message;
  if (outcome.Clean()) return 0;
  std::cerr << "town report " << (outcome.report_written ? "written with failures" : "FAILED")
            << "\n";
  return 1;
}

}  // namespace landstat::cli
