#pragma once

#include <string>
#include <vector>

namespace landstat::sheet {

// Writes columns of texts into a new workbook at `path` (replaced when it
// exists): one sheet "属性浏览", column i of the sheet from columns[i], row
// by row, every cell text (a code keeps its leading zeros). Raises
// SheetError naming the file when it cannot be written; no file is left then.
void PrintComToGrid(const std::vector<std::vector<std::string>>& columns, const std::string& path);

}  // namespace landstat::sheet
