#pragma once

#include <string>

namespace landstat::sheet {

// The area format of a workbook: every cell style whose number format is of
// the form 0.0...0 (the built-in "0.00" among them) shows an area. A report
// shows each area with the decimals of its unit, whatever the template said.

// True for a number format code of the form "0.0...0" (at least one decimal).
bool IsAreaFormat(const std::string& code);

// The styles part `styles_xml` with every area style showing exactly
// `decimals` decimals (0 to 10): one number format "0.00..." added under a
// free id, the area styles pointed at it. A part without area styles comes
// back as it was. Raises SheetError when the part is no valid XML.
std::string WithAreaDecimals(const std::string& styles_xml, int decimals);

}  // namespace landstat::sheet
