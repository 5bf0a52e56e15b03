#pragma once

// The town second-level classification report straight from a lot layer and
// a code dictionary, without a statistics run: a small statistics database
// with the lot table and its summary by county, street and block, and the
// report "城镇宗地二级分类面积表" written from the report template.

#include <string>
#include <vector>

#include "platform/gis/layers.h"
#include "platform/gis/rural_code.h"

namespace landstat {

// Splits a class-area ratio list ("分类面积比例": "071:0.6,072:0.4") into
// its items: each item's first 3 characters are the land-use code, one more
// character is skipped, the rest is the factor's text. One leading "," is
// dropped, a trailing "," may be there or not, an empty item between two
// commas counts. Appends one code and one factor text per item and stores
// their number in `count`; 0 (count untouched) for an empty text, else 1.
// There is no limit on the number of items.
short SplitAreaRatios(const std::string& text, std::vector<std::string>* codes,
                      std::vector<std::string>* factors, int* count);

// The parts of a lot of area `area` by the factors of its ratio list: the
// area and each part rounded to 2 decimals, and the first part takes what
// the others leave, so the parts add up to the rounded area whatever the
// factors add up to. Empty for no factors.
std::vector<double> SplitLotArea(double area, const std::vector<double>& factors);

// The class columns a land-use code books its area in: "BM" + code and its
// parents, the column name cut down to 4 characters ("071": BM071, BM07).
// A code of fewer than 2 characters has none.
std::vector<std::string> ClassColumnsOfCode(const std::string& code);
// The class column code of a lot's land use: a use of two characters is a
// code whose leading zero is missing ("71" is 071).
std::string LandUseCode(const std::string& use);

// The files of the output in its folder.
inline constexpr const char* kTownStatFile = "statdata.sqlite";
inline constexpr const char* kTownReportName = "城镇宗地二级分类面积表";
inline constexpr const char* kTownReportSheet = "城镇土地调查土地利用二级分类面积(宗地)";

struct TownSecondLevelOptions {
  gis::LayerHandle lots = 0;        // a region layer of town lots
  gis::RuralCode* codes = nullptr;  // the code dictionary
  std::string output_folder;        // receives the database and the report
  bool paged = false;               // the paged template, else the unpaged one
  bool view = false;                // shows the report once written
  std::string template_path;        // default: 二次详查表格.xlsx of the configuration
};

struct TownSecondLevelOutcome {
  bool database_written = false;  // statdata.sqlite holds both tables
  bool report_written = false;
  std::string database, report;  // the files written
  long lots_written = 0;
  long lots_left_out = 0;             // lots none of whose rows could be written
  std::string first_left_out;         // the first of them: "地籍号 N", or its record
  long failures = 0;                  // values refused and rows left out, as logged
  long values_refused = 0;            // of them, the lots' values read as 0
  std::vector<std::string> messages;  // the first of them
  std::string message;                // what the operator is told
  // Both files written and nothing refused.
  bool Clean() const { return database_written && report_written && failures == 0; }
};

// Builds F/statdata.sqlite from the lots and the dictionary: the lot table
// statdata_czzd (the 15 text columns, the area and ratio columns, then
// "BM" + code per land-use code of the dictionary that does not begin with
// "20"; one row per lot, or one per item of a lot's ratio list) and
// CZTDLY_EJFLZD (the lot table summed by county, street and block, in square
// metres); then writes F/城镇宗地二级分类面积表.xlsx (unpaged:
// ...(不分页).xlsx) from the template sheet "城镇土地调查土地利用二级分类面积(宗地)".
//
// The database is built as statdata.sqlite.working and renamed over
// statdata.sqlite only when both tables are complete: an output that fails
// before keeps the earlier database. A report that cannot be filled leaves
// no workbook (an earlier one stays). A lot whose row cannot be written
// (no number, an empty land use, a class the dictionary lacks, a text too
// long) is left out whole, logged and counted, and the output goes on; a
// measured area or ratio that is no
// number, negative or implausible is logged and counts 0.
TownSecondLevelOutcome OutputTownSecondLevel(const TownSecondLevelOptions& options);

// Opens the lot layer of a data source: `layer`, or when it is empty the
// layer 城镇权属层, else 宗地, else a shapefile's own layer. GisError when
// there is none, or it holds no regions.
gis::LayerHandle OpenTownLotLayer(const std::string& source, const std::string& layer);

}  // namespace landstat
