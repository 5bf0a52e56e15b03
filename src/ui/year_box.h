#pragma once

#include <QComboBox>
#include <string>

namespace landstat::qt {

// Shows the year a dialog starts from in its editable year box: `year`, or
// this calendar year when `year` is empty. Its entry is selected; a year the
// box does not list goes into the box's text, and the list stays as it was.
void ShowYear(QComboBox* box, const std::string& year);

}  // namespace landstat::qt
