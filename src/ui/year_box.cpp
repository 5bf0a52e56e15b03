#include "ui/year_box.h"

#include <QDate>

namespace landstat::qt {

void ShowYear(QComboBox* box, const std::string& year) {
  const QString shown =
      year.empty() ? QString::number(QDate::currentDate().year()) : QString::fromStdString(year);
  const int at = box->findText(shown);
  if (at >= 0) {
    box->setCurrentIndex(at);
  } else {
    box->setCurrentIndex(-1);
    box->setEditText(shown);
  }
}

}  // namespace landstat::qt
