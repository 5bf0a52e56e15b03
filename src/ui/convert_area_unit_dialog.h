#pragma once

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <string>

#include "platform/gis/rural_code.h"
#include "ui/modal_dialog.h"

namespace landstat {

// Dialog 17013 "面积单位转换": converts the stored statistics of a county and
// year to another area unit. The years are those the database's area-unit
// table records; the dialog shows the unit the converted tables now hold.
// OK converts (ConvertStatDatabase), says how it ended and closes.
class CConvertAreaUnitDlg : public qt::ModalDialog {
 public:
  static constexpr int kResourceId = 17013;

  CConvertAreaUnitDlg(gis::RuralCode* codes, std::string connection, short db_mode,
                      std::string county, std::string log_path, QWidget* parent = nullptr);

  QComboBox* YearBox() const { return year_box_; }
  QComboBox* UnitBox() const { return unit_box_; }
  QSpinBox* DecimalsBox() const { return decimals_box_; }
  QLabel* CurrentUnitLabel() const { return current_unit_; }
  QPushButton* OkButton() const { return ok_button_; }
  QPushButton* CancelButton() const { return cancel_button_; }
  // The OK button: converts, reports and closes the dialog.
  void OnOK();
  // The unit chosen (0 hectare, 1 mu, 2 square metre).
  short TargetUnit() const;

  // After OK: the outcome of the conversion (1 done, 0 failed).
  short m_nResult = 0;

 private:
  void LoadYears();
  void ShowCurrentUnit();

  gis::RuralCode* codes_;
  std::string connection_, county_, log_path_;
  short db_mode_;
  QComboBox* year_box_;
  QComboBox* unit_box_;
  QSpinBox* decimals_box_;
  QLabel* current_unit_;
  QPushButton* ok_button_;
  QPushButton* cancel_button_;
};

// Shows the dialog for the database; 1 when a conversion was made.
short ConvertAreaUnitDlg(gis::RuralCode* codes, const std::string& connection, short db_mode,
                         const std::string& county, const std::string& log_path);

}  // namespace landstat
