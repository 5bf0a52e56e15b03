#include "main_window.h"

#include <QFileDialog>
#include <QInputDialog>
#include <QListWidget>
#include <QMenuBar>
#include <QStatusBar>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>

#include "engine/run_record.h"
#include "engine/stat_config.h"
#include "operator/area_stat_output.h"
#include "operator/range_run.h"
#include "operator/range_statistics.h"
#include "platform/db/connection.h"
#include "platform/db/db_error.h"
#include "platform/gis/gis_error.h"
#include "platform/host/host_settings.h"
#include "platform/host/ini_file.h"
#include "platform/host/log_file.h"
#include "platform/host/notifier.h"
#include "platform/host/paths.h"
#include "ui/convert_area_unit_dialog.h"
#include "ui/county_code_dialog.h"
#include "ui/desktop_words.h"
#include "ui/land_gis_doc_att_dialog.h"
#include "ui/merge_stat_dialog.h"
#include "ui/out_czejzd_dialog.h"
#include "ui/print_stat_dialog.h"
#include "ui/report_data_dialog.h"
#include "ui/stat_county_data_dialog.h"
#include "ui/stat_year_data_dialog.h"
#include "ui/year_box.h"

namespace landstat::gui {
namespace fs = std::filesystem;
namespace {

// Runs a menu command. Qt's event loop cannot carry an exception, so
// whatever the command throws is shown here instead.
void Guarded(const std::function<void()>& command) {
  try {
    command();
  } catch (const std::exception& error) {
    host::AfxMessageBox(error.what());
  } catch (...) {
    host::AfxMessageBox("操作因未知错误而中止");
  }
}

}  // namespace

MainWindow::MainWindow()
    : QMainWindow(nullptr), progress_(this), notifier_(this, [] { return MessageLogPath(); }) {
  setWindowTitle(QString::fromUtf8("土地利用现状统计"));
  QMenu* file = menuBar()->addMenu(QString::fromUtf8("文件"));
  connect(file->addAction(QString::fromUtf8("打开项目...")), &QAction::triggered, this,
          [this] { Guarded([this] { ChooseProject(); }); });
  connect(file->addAction(QString::fromUtf8("选择统计数据库...")), &QAction::triggered, this,
          [this] { Guarded([this] { ChooseDatabase(); }); });
  file->addSeparator();
  connect(file->addAction(QString::fromUtf8("退出")), &QAction::triggered, this, &QWidget::close);
  QMenu* statistics = menuBar()->addMenu(QString::fromUtf8("统计"));
  convert_action_ = statistics->addAction(QString::fromUtf8("面积单位转换..."));
  county_action_ = statistics->addAction(QString::fromUtf8("设置县级代码..."));
  connect(convert_action_, &QAction::triggered, this,
          [this] { Guarded([this] { ConvertUnits(); }); });
  connect(county_action_, &QAction::triggered, this,
          [this] { Guarded([this] { SetCountyCode(); }); });
  statistics->addSeparator();
  const char* const operator_captions[] = {"年度数据汇总...", "数据汇总...", "合并汇总数据...",
                                           "生成上报数据..."};
  for (int index = 0; index < 4; ++index) {
    operator_actions_[index] = statistics->addAction(QString::fromUtf8(operator_captions[index]));
    connect(operator_actions_[index], &QAction::triggered, this,
            [this, index] { Guarded([this, index] { RunOperatorDialog(index); }); });
  }
  browse_action_ = statistics->addAction(QString::fromUtf8("属性浏览..."));
  connect(browse_action_, &QAction::triggered, this,
          [this] { Guarded([this] { BrowseLayers(); }); });
  range_action_ = statistics->addAction(QString::fromUtf8("范围统计..."));
  connect(range_action_, &QAction::triggered, this,
          [this] { Guarded([this] { RunRangeStatistics(); }); });
  QMenu* reports = menuBar()->addMenu(QString::fromUtf8("报表"));
  for (int mode = 0; mode < 3; ++mode) {
    report_actions_[mode] =
        reports->addAction(QString::fromUtf8(CPrintStatDlg::ModeCaption(mode)) + "...");
    connect(report_actions_[mode], &QAction::triggered, this,
            [this, mode] { Guarded([this, mode] { PrintReports(mode); }); });
  }
  // Needs no project: the dialog asks for its lot layer and dictionary.
  town_report_action_ = reports->addAction(QString::fromUtf8("城镇宗地二级分类面积表..."));
  connect(town_report_action_, &QAction::triggered, this, [this] {
    Guarded([this] {
      // Started from the open project's lots and code file, when there is one.
      OutCZEJZDDlg(project_.get(), project_ ? ReportFolder() : std::string());
    });
  });
  layers_ = new QListWidget(this);
  setCentralWidget(layers_);
  status_ = new QLabel(this);
  statusBar()->addWidget(status_, 1);
  previous_progress_ = host::SetProgress(&progress_);
  // Room for the project's layers and the state line.
  resize(960, 640);
  ShowState();
}

MainWindow::~MainWindow() {
  host::SetProgress(previous_progress_);
}

std::string MainWindow::MessageLogPath() {
  return (fs::path(host::ProgramDir()) / "landstat-gui.log").string();
}

std::string MainWindow::StatisticsFolder() const {
  return host::LindoReadINI("GUI", "统计数据目录");
}

bool MainWindow::OpenProject(const std::string& given) {
  try {
    // A relative path has no folder of its own to look for the database in.
    const std::string path = fs::absolute(given).lexically_normal().string();
    std::unique_ptr<gis::CGisXmlPrj> project = gis::CGisXmlPrj::Open(path);
    const std::string code_file = project->GetCodeFile();
    if (code_file.empty()) {
      host::AfxMessageBox("项目没有代码文件: " + path);
      return false;
    }
    codes_.reset(gis::RuralCode::Load(code_file));
    project_ = std::move(project);
    if (project_->GetCountyCode().empty()) AskCountyCode();
    // The project's own statistics: a folder remembered from another
    // project holds that project's.
    database_.clear();
    if (const std::string beside = ProjectDatabase(); !beside.empty()) SetDatabase(beside);
  } catch (const std::exception& error) {
    host::AfxMessageBox(error.what());
    return false;
  }
  ShowState();
  return true;
}

std::vector<std::string> MainWindow::HeldYears(const std::string& file, std::string& error) const {
  const std::string county = project_ ? project_->GetCountyCode() : std::string();
  if (!county.empty()) return HeldStatisticsYears(file, county, error);
  return ReadYears(file, error, [&](db::Connection& database) {
    const std::optional<RunRecordRow> last = project_ ? std::nullopt : LastCompletedRun(database);
    return last ? std::vector<std::string>{last->year} : std::vector<std::string>{};
  });
}

std::string MainWindow::ProjectDatabase() const {
  std::string newest_path, unreadable_files;
  fs::file_time_type newest = fs::file_time_type::min();
  std::error_code unreadable;
  for (fs::directory_iterator entry(project_->GetFolder(), unreadable), end;
       !unreadable && entry != end; entry.increment(unreadable)) {
    std::error_code no_time;
    const fs::file_time_type written = entry->last_write_time(no_time);
    if (entry->path().extension() != ".sqlite" || no_time) continue;
    std::string error;
    const bool held = !HeldYears(entry->path().string(), error).empty();
    unreadable_files += error.empty() ? "" : "\n" + error;
    if (held && written >= newest) {
      newest = written;
      newest_path = entry->path().string();
    }
  }
  if (!unreadable_files.empty()) {
    host::AfxMessageBox("项目文件夹中有无法读取的统计数据库:" + unreadable_files);
  }
  return newest_path;
}

bool MainWindow::SetDatabase(const std::string& given) {
  const std::string path = given.empty() ? "" : fs::absolute(given).lexically_normal().string();
  std::string error;
  if (!path.empty() && HeldYears(path, error).empty()) {
    const std::string county = project_ ? project_->GetCountyCode() : std::string();
    host::AfxMessageBox(!error.empty()
                            ? "没有打开统计数据库: " + error
                            : "统计数据库 " + path + " 中没有" +
                                  (county.empty() ? std::string() : "县 " + county + " ") +
                                  "完成的统计, 没有打开它");
    return false;
  }
  database_ = path;
  if (!path.empty() &&
      !host::LindoWriteINI("GUI", "统计数据目录", fs::path(path).parent_path().string())) {
    host::AfxMessageBox("无法保存统计数据目录到 " + host::HostIniPath());
  }
  ShowState();
  return true;
}

void MainWindow::RefreshDatabase(const std::string& made) {
  // A file the job made that cannot be read is the job's to report.
  std::string error;
  if (!made.empty() && !HeldYears(made, error).empty()) {
    SetDatabase(made);
    return;
  }
  if (!database_.empty() && HeldYears(database_, error).empty()) {
    if (!error.empty()) host::AfxMessageBox("统计数据库不再可用: " + error);
    database_ = project_ ? ProjectDatabase() : std::string();
  }
  ShowState();
}

std::string MainWindow::DatabaseYear() const {
  // On a server the dialogs read the server's years, not the file's. A file
  // that cannot be read gives no year to start from: the dialog that
  // starts reads the years again and says why.
  std::string error;
  const std::vector<std::string> years = database_.empty() || !IsStandAloneMode()
                                             ? std::vector<std::string>{}
                                             : HeldYears(database_, error);
  return years.empty() ? std::string() : years.back();
}

std::string MainWindow::DatabaseFolder() const {
  return database_.empty() ? project_->GetFolder() : fs::path(database_).parent_path().string();
}

std::string MainWindow::ReportFolder() const {
  // Made by the job that writes into it, not by opening a dialog.
  return (fs::path(DatabaseFolder()) / "报表").string();
}

std::string MainWindow::StartFolder() const {
  if (project_) return project_->GetFolder();
  if (!database_.empty()) return fs::path(database_).parent_path().string();
  return StatisticsFolder();
}

void MainWindow::ChooseProject() {
  const QString path = QFileDialog::getOpenFileName(this, QString::fromUtf8("打开项目"),
                                                    QString::fromStdString(StartFolder()),
                                                    QString::fromUtf8("项目文件 (*.xml)"));
  if (!path.isEmpty()) OpenProject(path.toStdString());
}

void MainWindow::ChooseDatabase() {
  const QString path = QFileDialog::getOpenFileName(this, QString::fromUtf8("选择统计数据库"),
                                                    QString::fromStdString(StartFolder()),
                                                    QString::fromUtf8("统计数据库 (*.sqlite)"));
  if (!path.isEmpty()) SetDatabase(path.toStdString());
}

bool MainWindow::AskCountyCode() {
  CCountyCodeDlg dialog(this);
  if (dialog.DoModal() != host::IDOK) return false;
  try {
    project_->SetCountyCode(dialog.m_strCountyCode);
    project_->Save();
  } catch (const gis::GisError& error) {
    host::AfxMessageBox(error.what());
    return false;
  }
  return true;
}

void MainWindow::SetCountyCode() {
  if (!project_) {
    host::AfxMessageBox("请先打开项目");
    return;
  }
  AskCountyCode();
  ShowState();
}

void MainWindow::ConvertUnits() {
  if (!project_ || database_.empty() || project_->GetCountyCode().empty()) {
    host::AfxMessageBox("请先打开项目并选择统计数据库");
    return;
  }
  // The engine writes into an existing log only: start an empty one, and
  // say afterwards when something was logged.
  const std::string log = LogPath();
  if (std::string error; !host::OpenLogFile(log, host::LogOpening::kEmpty, error)) {
    host::AfxMessageBox(error);
    return;
  }
  ConvertAreaUnitDlg(codes_.get(), Connection(), 0, project_->GetCountyCode(), log);
  RefreshDatabase();
  std::ifstream written(log);
  long lines = 0;
  for (std::string line; std::getline(written, line);) lines += line.empty() ? 0 : 1;
  if (lines > 0)
    host::AfxMessageBox("转换时记录了 " + std::to_string(lines) + " 条信息, 见 " + log);
}

void MainWindow::PrintReports(int mode) {
  if (!project_) {
    host::AfxMessageBox("请先打开项目");
    return;
  }
  const fs::path config = host::ConfigDir();
  const std::string catalogue =
      (config / (mode == 1 ? "权属争议表格目录.xml" : "二次详查表格目录.xml")).string();
  const std::string template_path = (config / "二次详查表格.xlsx").string();
  const std::string folder = DatabaseFolder();
  const std::string output = ReportFolder();
  // The reports come from the database the window has open; on a server,
  // from the data source the configuration names.
  const std::string file = IsStandAloneMode() ? database_ : std::string();
  if (mode == 0) {
    PrintStatDlg(project_.get(), output, "", template_path, catalogue, folder, codes_.get(), file);
  } else if (mode == 1) {
    PrintStatDlgSHD(project_.get(), output, "", template_path, catalogue, folder, codes_.get(),
                    file);
  } else {
    // The project carries one code table; it serves mode 2's levels too.
    PrintStatDlgMG(project_.get(), output, "", template_path, catalogue, folder, codes_.get(),
                   codes_.get(), file);
  }
  RefreshDatabase();
}

// The operator's dialogs work on the project's statistics folder: the open
// database's, else the project's own; they start from the open database's
// year.
void MainWindow::RunOperatorDialog(int index) {
  if (index == 1) {
    StatCountyData(DatabaseYear());
  } else if (index == 2) {
    MergeStatDlg(codes_.get());
  } else if (!project_) {
    host::AfxMessageBox("请先打开项目");
    return;
  } else if (index == 0) {
    RunYearSummary();
    return;
  } else {
    DglGenerateReportMDB(project_.get(), DatabaseFolder(), IsStandAloneMode() ? database_ : "");
  }
  RefreshDatabase();
}

// The annual summary; the window then opens the file of the year it
// summarised last.
void MainWindow::RunYearSummary() {
  // The project carries one code table: no Inner Mongolia run.
  CStatYearDataDlg dialog(project_.get(), DatabaseFolder(), codes_.get(), nullptr);
  if (const std::string year = DatabaseYear(); !year.empty()) qt::ShowYear(dialog.YearBox(), year);
  dialog.DoModal();
  RefreshDatabase(dialog.m_strSummarisedDb);
}

// The layer browser on the open project, with the titles of the area
// statistics catalogue of the configuration root, when there is one.
void MainWindow::BrowseLayers() {
  if (!project_) {
    host::AfxMessageBox("请先打开项目");
    return;
  }
  const fs::path config = host::ConfigDir();
  const std::string catalogue = (config / "面积统计目录.xml").string();
  std::vector<std::string> titles;
  for (const AreaStatTitle& title : ReadAreaStatCatalogue(catalogue)) titles.push_back(title.title);
  LandGisDocAttDlg(project_->GetFilePath().c_str(), &titles,
                   (config / "二次详查表格.xlsx").string(), catalogue, codes_.get());
}

// The range statistics of the open project: cut by the polygons of a
// chosen file into a range folder beside the project, then run on it.
void MainWindow::RunRangeStatistics() {
  if (!project_) {
    host::AfxMessageBox("请先打开项目");
    return;
  }
  const QString polygon = QFileDialog::getOpenFileName(
      this, QString::fromUtf8("选择范围多边形"), QString::fromStdString(StartFolder()),
      QString::fromUtf8("范围文件 (*.gpkg *.shp *.geojson *.json *.kml);;所有文件 (*)"));
  if (polygon.isEmpty()) return;
  const QStringList kinds = {QString::fromUtf8("土地利用"), QString::fromUtf8("基本农田"),
                             QString::fromUtf8("城镇宗地")};
  bool chosen = false;
  const QString kind =
      QInputDialog::getItem(this, QString::fromUtf8("范围统计"), QString::fromUtf8("统计内容:"),
                            kinds, 0, false, &chosen);
  if (!chosen) return;
  RangeRequest request;
  request.project = project_->GetFilePath();
  request.polygon = polygon.toStdString();
  request.kind = static_cast<RangeKind>(kinds.indexOf(kind));
  request.county = project_->GetCountyCode();
  request.codes = codes_.get();
  const RunReport report = RunRange(request);
  const fs::path folder = DefaultRangeFolder(request.project, request.polygon);
  std::string text = report.Completed()
                         ? "范围统计完成, 结果在 " + (folder / kRangeDatabaseName).string()
                         : std::string("范围统计失败");
  if (report.failures > 0) {
    text += ", 记录了 " + std::to_string(report.failures) + " 条错误";
    if (!report.messages.empty()) text += ": " + report.messages.front();
  }
  host::AfxMessageBox(text);
  ShowState();
}

// The file's plain path: a path holding ';' survives it.
std::string MainWindow::Connection() const {
  return database_;
}

std::string MainWindow::LogPath() const {
  return (fs::path(database_).parent_path() / (project_->GetCountyCode() + "ConvertLog.txt"))
      .string();
}

void MainWindow::ShowState() {
  const std::string text =
      (project_ ? "项目 " + project_->GetFilePath() + "  县 " + project_->GetCountyCode()
                : std::string("没有打开项目")) +
      (database_.empty() ? "  没有统计数据库" : "  数据库 " + database_) + "  数据源 " +
      (IsStandAloneMode()
           ? std::string("单机")
           : "网络 " + qt::InChinese(db::DescribeConnection(host::_AdoGetConnectionString(
                           host::_ZRK_GetProfileString("数据源", "名称", "")))));
  status_->setText(QString::fromStdString(text));
  layers_->clear();
  if (project_) {
    for (const std::string& name : project_->LayerNames()) {
      layers_->addItem(QString::fromStdString(name));
    }
  }
  convert_action_->setEnabled(project_ && !database_.empty());
  county_action_->setEnabled(project_ != nullptr);
  browse_action_->setEnabled(project_ != nullptr);
  range_action_->setEnabled(project_ != nullptr);
  for (QAction* action : report_actions_) action->setEnabled(project_ != nullptr);
  for (int index : {0, 3}) operator_actions_[index]->setEnabled(project_ != nullptr);
}

}  // namespace landstat::gui
