#include "ui/report_data_dialog.h"

#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <algorithm>

#include "engine/run_record.h"
#include "engine/stat_config.h"
#include "operator/annual_summary.h"
#include "platform/gis/project.h"
#include "platform/host/host_settings.h"
#include "platform/host/ini_file.h"
#include "platform/host/notifier.h"
#include "platform/host/progress.h"
#include "ui/county_code_dialog.h"

namespace landstat {
namespace {

QString Q(const std::string& text) {
  return QString::fromStdString(text);
}

}  // namespace

CReportDataDlg::CReportDataDlg(gis::CGisXmlPrj* project, std::string statistics_folder,
                               std::string database, QWidget* parent)
    : qt::ModalDialog(kResourceId, parent),
      project_(project),
      statistics_folder_(std::move(statistics_folder)),
      database_(std::move(database)) {
  setWindowTitle(Q("生成上报数据"));
  year_box_ = new QComboBox(this);
  year_box_->setObjectName("17002");
  unit_box_ = new QComboBox(this);
  unit_box_->setObjectName("17043");
  auto* path = new QPushButton(Q("存放路径："), this);
  path->setObjectName("5007");
  folder_edit_ = new QLineEdit(this);
  folder_edit_->setObjectName("5010");
  folder_edit_->setReadOnly(true);
  generate_button_ = new QPushButton(Q("生成(&G)"), this);
  generate_button_->setObjectName("17046");
  auto* quit = new QPushButton(Q("退出(&Q)"), this);
  quit->setObjectName("17047");
  auto* options = new QGroupBox(Q("选项"), this);
  auto* grid = new QGridLayout(options);
  grid->addWidget(new QLabel(Q("汇总年度："), options), 0, 0);
  grid->addWidget(year_box_, 0, 1);
  grid->addWidget(new QLabel(Q("面积单位："), options), 1, 0);
  grid->addWidget(unit_box_, 1, 1);
  grid->addWidget(path, 2, 0);
  grid->addWidget(folder_edit_, 2, 1);
  auto* layout = new QGridLayout(this);
  layout->addWidget(options, 0, 0, 1, 2);
  layout->addWidget(generate_button_, 1, 0);
  layout->addWidget(quit, 1, 1);
  resize(420, 200);
  connect(path, &QPushButton::clicked, this, [this] { OnSelectOutputPath(); });
  connect(generate_button_, &QPushButton::clicked, this, [this] { OnGenerate(); });
  connect(quit, &QPushButton::clicked, this, &QDialog::reject);
  m_chooseFolder = [this] {
    return QFileDialog::getExistingDirectory(this, Q("选择生成数据存放路径")).toStdString();
  };
  if (statistics_folder_.empty() && project_) statistics_folder_ = project_->GetFolder();
  county_ = ProjectCountyCode(project_, this);
  ListYears();
  std::string units[3];
  GetUnit(units[0], units[1], units[2]);
  for (const std::string& unit : units) {
    if (!unit.empty()) unit_box_->addItem(Q(unit));
  }
}

void CReportDataDlg::ListYears() {
  std::vector<std::string> years;
  std::string error;
  if (IsStandAloneMode()) {
    years = ListSummarisedYears(statistics_folder_, county_, error);
    if (!database_.empty() && error.empty()) {
      database_years_ = HeldStatisticsYears(database_, county_, error);
    }
    for (const std::string& year : database_years_) {
      if (std::find(years.begin(), years.end(), year) == years.end()) years.push_back(year);
    }
  } else {
    const std::string name = host::_ZRK_GetProfileString("数据源", "名称", "");
    if (name.empty()) {
      ShowMessage(Q("数据源为空"));
      return;
    }
    server_ = host::_AdoGetConnectionString(name);
    years = ListServerYears(server_, county_, error);
  }
  if (!error.empty()) ShowMessage(Q("读取统计年度失败: " + error));
  for (const std::string& year : years) year_box_->addItem(Q(year));
  year_box_->model()->sort(0);
  // The year of the database the host has open, else the first.
  const int open = database_years_.empty() ? -1 : year_box_->findText(Q(database_years_.back()));
  year_box_->setCurrentIndex(open >= 0 ? open : year_box_->count() > 0 ? 0 : -1);
}

void CReportDataDlg::OnSelectOutputPath() {
  const std::string folder = m_chooseFolder();
  if (folder.empty()) return;
  output_folder_ = folder;
  folder_edit_->setText(Q(folder));
}

void CReportDataDlg::OnGenerate() {
  const std::string year = year_box_->currentText().toStdString();
  const std::string unit = unit_box_->currentText().toStdString();
  for (const auto& [missing, message] :
       {std::pair{year.empty(), "请选择汇总年度"}, std::pair{unit.empty(), "请选择面积单位"},
        std::pair{output_folder_.empty(), "请选择存放路径"}}) {
    if (missing) {
      ShowMessage(Q(message));
      return;
    }
  }
  ReportDataRequest request;
  const bool held_open =
      std::find(database_years_.begin(), database_years_.end(), year) != database_years_.end();
  request.source = !server_.empty() ? server_
                   : held_open      ? database_
                                    : AnnualDatabaseFile(statistics_folder_, year, county_);
  request.year = year;
  request.county = county_;
  request.unit = unit;
  request.output_folder = output_folder_;
  request.statistics_folder = statistics_folder_;
  JobScope job(*this);
  m_lastResult = GenerateReportData(request);
  const RunReport& report = m_lastResult.report;
  // The earlier program said it was done even when tables failed to copy:
  // those are named.
  std::string text = report.Completed() ? "生成上报数据完成！\n" + m_lastResult.target
                                        : std::string("生成数据失败！");
  for (std::size_t i = 0; i < report.messages.size() && i < 5; ++i) {
    text += "\n" + report.messages[i];
  }
  ShowMessage(Q(text));
}

short DglGenerateReportMDB(gis::CGisXmlPrj* project, const std::string& statistics_folder,
                           const std::string& database) {
  if (!project) return 0;
  CReportDataDlg dialog(project, statistics_folder, database);
  dialog.DoModal();
  return 1;
}

}  // namespace landstat
