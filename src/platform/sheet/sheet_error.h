#pragma once

#include <stdexcept>
#include <string>

namespace landstat::sheet {

// Raised by every failure of the report workbook engine: a template that is
// no workbook, a sheet that is missing, a source with more rows than a sheet
// holds, a file that cannot be written. The message names the workbook file
// and, where one is concerned, the sheet.
class SheetError : public std::runtime_error {
 public:
  explicit SheetError(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace landstat::sheet
