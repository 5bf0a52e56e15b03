#pragma once

#include <span>
#include <string>
#include <vector>

#include "platform/sheet/bat_print_excel.h"

namespace pugi {
class xml_document;
}

namespace landstat::sheet {

struct PrintSetup;

// What a filled sheet needs of its workbook and what it tells back.
struct FillTarget {
  std::string workbook;  // for messages
  std::string layout;    // for messages on the layout: "template workbook X" or "workbook X"
  std::string sheet;     // the sheet's name, for messages
  const std::vector<std::string>* shared_strings = nullptr;
  int out_fd = -1;  // the open, nameless work file the sheet's new part is written to
};

// Writes the template sheet `template_xml` filled with `rows` and the pairs
// into target.out_fd, streaming the rows. `print`, the template's print
// setup on entry, is that of the filled sheet on return: the heading rows
// repeated from its first title row (row 1 when it has none) down to the
// data row, its print area grown over the rows. Raises SheetError naming
// workbook and sheet.
void FillSheetPart(const std::string& template_xml, SheetRows& rows,
                   std::span<const SWhiteParam> pairs, Paging paging, Columns columns,
                   const FillTarget& target, PrintSetup& print);

// A sheet part made ready to stand as a copy: no tab selection, no
// references to parts of its own (the copy has none).
std::string CopyableSheet(const std::string& template_xml, const std::string& what);

// Drops what a sheet part refers to through relationships.
void DropRelations(pugi::xml_document& doc);

}  // namespace landstat::sheet
