// landstat convert: a county's stored statistics converted to another area
// unit and balanced again.

#include <iostream>

#include "command_support.h"
#include "engine/table_names.h"
#include "units/conversion_run.h"

namespace landstat::cli {

const char* const ConvertHelp =
    "usage: landstat convert --to UNIT (--project FILE | --county CODE --codes FILE) [options]\n"
    "\n"
    "Converts the statistics of a county and year, stored by 'landstat run', to another area\n"
    "unit: the extension base table and the unit-less summary tables (TDLY_YJFL, NCTDLY_EJFL,\n"
    "NCTDLY_QSYJFL, FRDTDLY_YJFL, GDPDMJHZ ...) are rebuilt in the unit, converted where they\n"
    "were built in another, and balanced so that classes add up to totals and villages,\n"
    "townships and the county to each other. The area-unit table records each table's unit.\n"
    "\n"
    "  --to UNIT        公顷, 亩 or 平方米 (also hectare, mu, square-metre, or 0, 1, 2)\n"
    "  --decimals N     decimals of the converted figures (default: those configured for\n"
    "                   the unit)\n"
    "  --project FILE   the survey's project file (gives the county and the code file)\n"
    "  --db FILE        the SQLite statistics database (default: YEAR + COUNTY + .sqlite\n"
    "                   beside the project, else in the current folder)\n"
    "  --server CONN    a PostgreSQL server instead (libpq conninfo, service=NAME or URI)\n"
    "  --year YYYY      the survey year (default: this year)\n"
    "  --county CODE    the six-digit county code\n"
    "  --codes FILE     the code file\n"
    "  --home DIR       the configuration root\n"
    "  --log FILE       the conversion's own log (default: YEAR + COUNTY + ConvertLog.txt\n"
    "                   beside the database, on a server in the current folder); made empty\n"
    "                   first\n"
    "  --no-group-level leave out the 19-character unit level (default: as the run did)\n"
    "\n"
    "A year or county the database holds no completed statistics run of, and a year whose\n"
    "last run or conversion did not finish, are refused. The conversion works in one\n"
    "transaction on the database, SQLite file or server: a failed one changes nothing.\n"
    "\n"
    "Exits 0 when the conversion completed with no failure logged, 3 when it completed\n"
    "with failures logged, 1 when it failed, 2 on wrong options.\n";

namespace {

short UnitOfOption(const std::string& text) {
  if (text == "hectare" || text == "0") return kHectare;
  if (text == "mu" || text == "1") return kMu;
  if (text == "square-metre" || text == "2") return kSquareMetre;
  return UnitOfText(text);
}

}  // namespace

const OptionSpecs ConvertOptions = WorkplaceOptions({{"to", false}, {"decimals", false}});

int Convert(const Options& options) {
  const short target = UnitOfOption(options.Get("to"));
  if (target == kNoUnit) {
    std::cerr << "landstat convert: --to must be 公顷, 亩 or 平方米 (hectare, mu, "
                 "square-metre)\n";
    return 2;
  }
  short decimals = -1;
  if (options.Has("decimals")) {
    const std::string text = options.Get("decimals");
    if (text.empty() || text.size() > 1 || text[0] < '0' || text[0] > '6') {
      std::cerr << "landstat convert: --decimals must be a number from 0 to 6\n";
      return 2;
    }
    decimals = static_cast<short>(text[0] - '0');
  }
  return RunOnWorkplace(
      options, "convert", "ConvertLog.txt", false,
      [&](Workplace& place) {
        ConversionRequest request;
        static_cast<JobTarget&>(request) = place.Target();
        request.target = target;
        request.decimals = decimals;
        request.group_level = options.Has("no-group-level") ? 0 : -1;
        return ConvertStatistics(request);
      },
      std::string("converted to ") + UnitText(target), "conversion FAILED");
}

}  // namespace landstat::cli
