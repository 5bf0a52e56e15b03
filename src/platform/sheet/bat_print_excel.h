#pragma once

#include <functional>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/db/recordset.h"
#include "platform/gis/layers.h"
#include "platform/sheet/sheet_error.h"
#include "platform/sheet/sheet_rows.h"

namespace landstat::sheet {

// The .xlsx report engine: a report writer copies a template workbook, opens
// the copy, fills one or more sheets from row sources and saves it.
//
// Template convention (every sheet a writer fills follows it):
// - Header keys: a text cell holding "{key}" anywhere in its text gets the
//   value of the pair with that key in place of the mark ("年度：{年度}"
//   becomes "年度：2023"). Marks of keys that no pair names stay as they are.
// - Data row: the row holding a cell whose whole text is "{数据}" or
//   "{数据:N}". Filled by position, column i of the row source goes into the
//   marker's column + i; filled by field row, the column of the source whose
//   name (without regard to ASCII case) the row directly above the data row
//   holds in that sheet column, and a name the source lacks is refused.
//   Cells take the style of the data row's cell in their column; one sheet
//   row per source row, in order. N is the page length: the number of data
//   rows per printed page of paged output (30 when omitted).
// - Heading rows: the rows above the data row, from the first row of the
//   template's print titles (row 1 when it has none), repeated on every
//   printed page (the sheet's print titles). Paged output breaks the page
//   after every N data rows; unpaged output leaves the pages to the printer.
// - Rows below the data row (a footer with "{填表人}", say) move down below
//   the data; formulas in them are not rewritten.
// - Print titles and area: the template's repeated columns ("$A:$B") stay
//   with the sheet and its copies, paged or not; a print area that reaches
//   the data row takes in every filled row.
// - Page header and footer: their keys are filled as those of the cells,
//   an '&' of a value doubled (a lone one starts a code there). Filled
//   longer than the 255 characters spreadsheet programs accept, they are
//   refused, naming the sheet.
// - Area format: see SetAreaDecimals.
// - Images, drawings and printer-setting parts of a sheet are not carried
//   into a filled or copied sheet.
struct SWhiteParam {
  std::string key;
  std::string value;
};

enum class Paging { kPaged, kUnpaged };
// How data columns find their source column: by position, or by the names
// of the field row.
enum class Columns { kByPosition, kByFieldRow };

// Rows one sheet holds, heading and footer rows included.
constexpr long kMaxSheetRows = 1048576;

// Shows a saved workbook to the operator: xdg-open in the command-line host,
// the desktop service in the GUI, a recorder in tests. Set by the host.
using FileOpener = std::function<void(const std::string& path)>;
void SetFileOpener(FileOpener opener);

// A valid sheet name for `requested` that differs from every name in `taken`
// (compared without regard to case, as spreadsheet programs do): the
// characters []:*?/\ become '_', apostrophes at either end go, an empty name
// becomes "Sheet", at most 31 characters, and a clash gets "(2)", "(3)" ...
std::string MakeSheetName(std::string_view requested, const std::vector<std::string>& taken);

// One workbook being filled. Nothing reaches the file before PrintOut saves
// it; an object destroyed without PrintOut leaves the file as it was. Every
// failure raises SheetError naming the file and the sheet.
class BatPrintExcel {
 public:
  // Opens the workbook at `path`, a copy of a template. When the template's
  // path is given, faults of the content (a damaged archive, a sheet that is
  // missing or no XML, a missing data or field row) name the template.
  explicit BatPrintExcel(std::string path, std::string template_path = {});
  virtual ~BatPrintExcel();
  BatPrintExcel(const BatPrintExcel&) = delete;
  BatPrintExcel& operator=(const BatPrintExcel&) = delete;

  // Fills the sheet named `sheet` (or the next sheet made for that name by
  // CopyAddModifySheet) with every row of `rows` and puts the pairs' values
  // in place of their keys. More rows than a sheet holds are refused, naming
  // the sheet and the count, and nothing of that sheet is written. Returns 1.
  short FillSheet(SheetRows& rows, const std::string& sheet, std::span<const SWhiteParam> pairs,
                  Paging paging = Paging::kPaged, Columns columns = Columns::kByPosition);
  short FillSheet(db::Recordset& recordset, const std::string& sheet,
                  std::span<const SWhiteParam> pairs, Paging paging = Paging::kPaged);
  // The same from the attribute records (kind 7) of a table handle.
  short FillSheet1(gis::LayerHandle table, short kind, const std::string& sheet,
                   std::span<const SWhiteParam> pairs, Paging paging = Paging::kPaged);

  // Adds one sheet per name, each laid out like `sheet` as the template holds
  // it, placed after it; names are made valid with MakeSheetName. A later
  // FillSheet under a requested name fills the sheet made for it. Returns
  // the number of sheets added.
  short CopyAddModifySheet(const std::string& sheet, const std::vector<std::string>& names,
                           int unused = 1);

  // Every area (a cell styled with a number format of the form 0.0...0)
  // shows `decimals` decimals in the saved workbook: the decimals of the
  // report's unit. Not called, the template's formats stay.
  void SetAreaDecimals(int decimals);

  // Saves the workbook, keeping only the sheets that were filled (when none
  // was, the sheets that were copied from, else every sheet). `view` 0 then
  // shows the file through the host's opener; 1 only saves.
  void PrintOut(short view, int unused = 1);

  // The sheet names in order, as they will be saved (before pruning).
  std::vector<std::string> SheetNames() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// Shows a saved workbook through the host's opener; SheetError when no
// opener is set.
void ShowWorkbook(const std::string& path);

// Appends the sheets of the workbook at `source` to the one at `target`,
// both made from the same template (their styles and shared texts must be
// the same), names made unique. The target is rewritten at once or not at
// all; the source is left as it is.
void MergeExcelEx(const std::string& target, const std::string& source);

}  // namespace landstat::sheet
