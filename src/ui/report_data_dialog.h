#pragma once

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <functional>
#include <string>
#include <vector>

#include "operator/report_data.h"
#include "ui/modal_dialog.h"

namespace landstat {

namespace gis {
class CGisXmlPrj;
}

// Dialog 17027 "生成上报数据": a summarised year of the county, an area
// unit and an output folder; "生成(&G)" writes the report-data file of the
// year there and says how it went. Without a year, a unit or a folder it
// refuses, naming what is missing.
class CReportDataDlg : public qt::ModalDialog {
 public:
  static constexpr int kResourceId = 17027;

  // `statistics_folder`: where the year's statistics files are (empty: the
  // project's folder). `database`: the statistics database the host has
  // open, if any: its year is listed too, chosen to start with, and taken
  // from it.
  CReportDataDlg(gis::CGisXmlPrj* project, std::string statistics_folder, std::string database = "",
                 QWidget* parent = nullptr);

  QComboBox* YearBox() const { return year_box_; }
  QComboBox* UnitBox() const { return unit_box_; }
  QLineEdit* FolderEdit() const { return folder_edit_; }
  QPushButton* GenerateButton() const { return generate_button_; }

  void OnSelectOutputPath();
  void OnGenerate();

  std::function<std::string()> m_chooseFolder;
  ReportDataResult m_lastResult;

 private:
  void ListYears();

  gis::CGisXmlPrj* project_;
  std::string statistics_folder_, database_, county_, output_folder_, server_;
  std::vector<std::string> database_years_;  // the years `database_` holds
  QComboBox* year_box_;
  QComboBox* unit_box_;
  QLineEdit* folder_edit_;
  QPushButton* generate_button_;
};

// Runs dialog 17027 modally: 0 at once without a project, else 1.
short DglGenerateReportMDB(gis::CGisXmlPrj* project, const std::string& statistics_folder = "",
                           const std::string& database = "");

}  // namespace landstat
