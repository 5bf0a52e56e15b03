#include "ui/print_stat_dialog.h"

#include <QApplication>
#include <QDate>
#include <QDesktopServices>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>
#include <filesystem>

#include "engine/run_record.h"
#include "engine/run_workspace.h"
#include "engine/stat_config.h"
#include "engine/table_names.h"
#include "engine/text_helpers.h"
#include "operator/annual_summary.h"
#include "platform/db/connection.h"
#include "platform/db/db_error.h"
#include "platform/gis/gis_error.h"
#include "platform/host/host_settings.h"
#include "platform/host/ini_file.h"
#include "platform/host/input_checks.h"
#include "platform/host/notifier.h"
#include "report/report_skeleton.h"
#include "ui/county_code_dialog.h"

namespace landstat {
namespace {

namespace fs = std::filesystem;

// Control numbers of the dialog.
enum : int {
  kYear = 800,
  kLevel = 801,
  kUnit = 802,
  kFiller = 803,
  kFillDate = 804,
  kChecker = 805,
  kCheckDate = 806,
  kOwnership = 807,
  kReserveLevel = 808,
  kDisputeType = 809,
  kCheckAll = 4,
  kInvert = 5,
  kClose = 2,
  kReportList = 5004,
  kView = 17005,
  kClear = 17006,
  kPaged = 17007,
  kOwnershipLabel = 17033,
  kReserveLabel = 17034,
  kDisputeLabel = 17036,
  kCheckerLabel = 17037,
  kFillDateLabel = 17038,
  kCheckDateLabel = 17039,
  kStatType = 17041,
  kMongolLabel = 17053,
  kPrint = 17057,
  kRegionName = 17058,
  kChoose = 17059,
};

constexpr const char* kDateFormat = "yyyy年M月d日";
constexpr const char* kStatExtension = ".sqlite";
constexpr const char* kModeCaptions[] = {"二次调查数据汇总表格", "权属争议与后备资源表格",
                                         "蒙古专有权属表格"};

QString Q(const char* text) {
  return QString::fromUtf8(text);
}

}  // namespace

CPrintStatDlg::CPrintStatDlg(QWidget* parent) : qt::ModalDialog(kResourceId, parent) {
  setWindowTitle(Q(ModeCaption(0)));
  auto* grid = new QGridLayout();
  int row = 0;
  // A labelled control in the grid; the label gets its own number when it
  // is shown or hidden by mode.
  auto add_row = [&](const char* label, QWidget* widget, int id, int label_id, int column) {
    auto* text = new QLabel(Q(label), this);
    if (label_id != 0) AddControl(text, label_id);
    AddControl(widget, id);
    grid->addWidget(text, row, column * 2);
    grid->addWidget(widget, row, column * 2 + 1);
  };
  auto combo = [this](std::initializer_list<const char*> items) {
    auto* box = new QComboBox(this);
    box->setEditable(true);
    box->setInsertPolicy(QComboBox::NoInsert);
    for (const char* item : items) box->addItem(Q(item));
    return box;
  };
  auto date = [this] {
    auto* picker = new QDateEdit(QDate::currentDate(), this);
    picker->setDisplayFormat(Q(kDateFormat));
    return picker;
  };

  auto* choose = new QPushButton(Q("选择(S)"), this);
  AddControl(choose, kChoose);
  region_edit_ = new QLineEdit(this);
  region_edit_->setReadOnly(true);
  AddControl(region_edit_, kRegionName);
  grid->addWidget(choose, row, 0);
  grid->addWidget(region_edit_, row, 1, 1, 3);
  ++row;
  add_row("出表级别:", combo({}), kLevel, 0, 0);
  add_row("汇总年度:", combo({}), kYear, 0, 1);
  ++row;
  add_row("面积单位:", combo({}), kUnit, 0, 0);
  add_row("统计类型", combo({}), kStatType, 0, 1);
  auto* mongol = new QLabel(Q("蒙古专有权属"), this);
  AddControl(mongol, kMongolLabel);
  grid->addWidget(mongol, row, 3);
  ++row;
  add_row("填 表 人:", new QLineEdit(this), kFiller, 0, 0);
  add_row("检 查 人：", new QLineEdit(this), kChecker, kCheckerLabel, 1);
  add_row("权属性质：", combo({"全部", "国有", "集体"}), kOwnership, kOwnershipLabel, 1);
  ++row;
  add_row("填表日期：", date(), kFillDate, kFillDateLabel, 0);
  add_row("后备级别：", combo({"全部", "国家级", "省级"}), kReserveLevel, kReserveLabel, 0);
  add_row("检查日期：", date(), kCheckDate, kCheckDateLabel, 1);
  add_row("争议类型：", combo({"全部", "国家与集体", "集体与集体", "国有与国有", "其他"}),
          kDisputeType, kDisputeLabel, 1);
  ++row;

  report_list_ = new QListWidget(this);
  AddControl(report_list_, kReportList);
  view_box_ = new QCheckBox(Q("查看"), this);
  AddControl(view_box_, kView);
  paged_box_ = new QCheckBox(Q("分页"), this);
  AddControl(paged_box_, kPaged);
  auto* buttons = new QHBoxLayout();
  const struct {
    const char* caption;
    int id;
    void (CPrintStatDlg::*handler)();
  } kButtons[] = {{"全选(&A)", kCheckAll, &CPrintStatDlg::OnCheckAll},
                  {"反选(R)", kInvert, &CPrintStatDlg::OnInvertChecks},
                  {"清除(&C)", kClear, &CPrintStatDlg::OnClearChecks},
                  {"打印(&P)", kPrint, &CPrintStatDlg::OnPrint},
                  {"返回(&C)", kClose, &CPrintStatDlg::OnCancel},
                  {"选择(S)", kChoose, &CPrintStatDlg::OnChooseRegion}};
  for (const auto& button : kButtons) {
    auto* push = button.id == kChoose ? choose : new QPushButton(Q(button.caption), this);
    if (button.id != kChoose) {
      AddControl(push, button.id);
      buttons->addWidget(push);
    }
    push->setAutoDefault(false);
    connect(push, &QPushButton::clicked, this,
            [this, handler = button.handler] { (this->*handler)(); });
  }
  buttons->insertWidget(3, view_box_);
  buttons->insertWidget(4, paged_box_);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(grid);
  layout->addWidget(report_list_, 1);
  layout->addLayout(buttons);

  connect(Combo(kYear), &QComboBox::activated, this, [this] { OnSelchangeYear(); });
  connect(Combo(kOwnership), &QComboBox::activated, this, [this] { OnSelchangeOwnership(); });
  connect(Combo(kReserveLevel), &QComboBox::activated, this, [this] { OnSelchangeReserveLevel(); });
  connect(Combo(kDisputeType), &QComboBox::activated, this, [this] { OnSelchangeDisputeType(); });
  choose_region_ = [this](const std::vector<gis::CODESTRUCT>& codes, std::string& code,
                          std::string& name) {
    QStringList items;
    for (const gis::CODESTRUCT& entry : codes) {
      items << QString::fromStdString(entry.code + " " + entry.name);
    }
    bool ok = false;
    const QString item =
        QInputDialog::getItem(this, Q("选择行政单位"), Q("行政单位:"), items, 0, false, &ok);
    const auto chosen = items.indexOf(item);
    if (!ok || chosen < 0) return false;
    code = codes[static_cast<std::size_t>(chosen)].code;
    name = codes[static_cast<std::size_t>(chosen)].name;
    return true;
  };
  viewer_ = [](const std::string& path) {
    return QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(path)));
  };
  DoDataExchange(false);
}

const char* CPrintStatDlg::ModeCaption(int mode) {
  return kModeCaptions[mode == 1 || mode == 2 ? mode : 0];
}

void CPrintStatDlg::AddControl(QWidget* widget, int id) {
  widget->setObjectName(QString::number(id));
}

QWidget* CPrintStatDlg::Control(int id) const {
  return findChild<QWidget*>(QString::number(id));
}

QComboBox* CPrintStatDlg::Combo(int id) const {
  return findChild<QComboBox*>(QString::number(id));
}

int CPrintStatDlg::DoModal() {
  OnInitDialog();
  return qt::ModalDialog::DoModal();
}

bool CPrintStatDlg::OnInitDialog() {
  setWindowTitle(Q(ModeCaption(m_nMode)));
  // Controls by mode.
  for (int id :
       {kOwnershipLabel, kOwnership, kReserveLabel, kReserveLevel, kDisputeLabel, kDisputeType}) {
    Control(id)->setVisible(m_nMode == 1);
  }
  for (int id : {kCheckerLabel, kChecker, kFillDateLabel, kFillDate, kCheckDateLabel, kCheckDate}) {
    Control(id)->setVisible(m_nMode != 1);
  }
  if (m_nMode == 2) Control(kStatType)->setVisible(false);
  Control(kMongolLabel)->setVisible(m_nMode == 2);

  // The report list.
  report_list_->clear();
  std::string error;
  for (const std::string& name : report::ReportCatalogNames(m_strCatalogPath, error)) {
    auto* item = new QListWidgetItem(QString::fromStdString(name), report_list_);
    item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
    item->setCheckState(Qt::Unchecked);
  }
  if (!error.empty()) ShowMessage(QString::fromStdString(error));

  // The county code: the project's, else typed in and kept in the project.
  m_strCounty = m_pPrj != nullptr ? m_pPrj->GetCountyCode() : std::string();
  if (m_strCounty.empty() &&
      host::AfxMessageBox("从工程中取县级代码失败,是否手动填写?", host::MB_YESNO) == host::IDYES) {
    CCountyCodeDlg county;
    if (county.DoModal() == host::IDOK) {
      m_strCounty = county.m_strCountyCode;
      if (m_pPrj != nullptr) {
        try {
          m_pPrj->SetCountyCode(m_strCounty);
          m_pPrj->Save();
        } catch (const gis::GisError& failure) {
          ShowMessage(QString::fromStdString(failure.what()));
        }
      }
    }
  }

  if (!IsStandAloneMode() && host::_ZRK_GetProfileString("数据源", "名称", "").empty()) {
    ShowMessage(Q("数据源为空"));
    return false;
  }
  LoadYears();
  // The year of the open database to start with, else the first.
  const int open =
      file_years_.empty() ? -1 : Combo(kYear)->findText(QString::fromStdString(file_years_.back()));
  Combo(kYear)->setCurrentIndex(open >= 0 ? open : Combo(kYear)->count() > 0 ? 0 : -1);

  m_arrHeaderKeys = report::kHeaderKeys;
  findChild<QLineEdit*>(QString::number(kFiller))
      ->setText(QString::fromStdString(host::LindoReadINI("SYS_SET", "填表人")));
  findChild<QLineEdit*>(QString::number(kChecker))
      ->setText(QString::fromStdString(host::LindoReadINI("SYS_SET", "检查人")));
  BuildCodeMap();
  FillUnitCombo();
  for (int id : {kDisputeType, kOwnership, kReserveLevel}) Combo(id)->setCurrentIndex(0);

  QComboBox* types = Combo(kStatType);
  types->clear();
  int type = 2;
  GetStatType(type);
  if (type == 0 || type == 2) types->addItem(Q(report::kByLocation));
  if (type == 1 || type == 2) types->addItem(Q(report::kByOwnership));
  types->setCurrentIndex(types->count() > 0 ? 0 : -1);
  return true;
}

void CPrintStatDlg::LoadYears() {
  QComboBox* years = Combo(kYear);
  years->clear();
  if (IsStandAloneMode()) {
    file_years_.clear();
    if (!m_strDbFile.empty()) {
      // A file holds the statistics of its newest completed job only.
      std::string error;
      file_years_ = HeldStatisticsYears(m_strDbFile, m_strCounty, error);
      if (!error.empty()) {
        ShowMessage(Q("读取统计年度失败: ") + QString::fromStdString(error));
      } else if (file_years_.empty()) {
        ShowMessage(QString::fromStdString("统计数据库 " + m_strDbFile + " 中没有县 " +
                                           m_strCounty + " 完成的统计, 没有可以出表的年度"));
      }
    }
    // The open file's year, and those of the county's files beside it.
    std::vector<std::string> found = file_years_;
    if (!m_strDbPath.empty()) {
      std::string unlisted;
      for (const std::string& year : ListSummarisedYears(m_strDbPath, m_strCounty, unlisted)) {
        found.push_back(year);
      }
      if (!unlisted.empty())
        ShowMessage(Q("读取统计年度失败: ") + QString::fromStdString(unlisted));
    }
    std::sort(found.begin(), found.end());
    found.erase(std::unique(found.begin(), found.end()), found.end());
    for (const std::string& year : found) years->addItem(QString::fromStdString(year));
    return;
  }
  const std::string name = host::_ZRK_GetProfileString("数据源", "名称", "");
  m_bOracle = host::_AdoGetDbType(name) == 2;
  std::string error;
  std::vector<std::string> held =
      ListServerYears(host::_AdoGetConnectionString(name), m_strCounty, error);
  if (!error.empty()) ShowMessage(Q("读取统计年度失败: ") + QString::fromStdString(error));
  std::sort(held.begin(), held.end());
  for (const std::string& year : held) years->addItem(QString::fromStdString(year));
}

std::string CPrintStatDlg::StatFileConnection(const std::string& folder, const std::string& year,
                                              const std::string& county) {
  return "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + folder + "/" + year + county +
         kStatExtension + ";Persist Security Info=False";
}

bool CPrintStatDlg::DoDataExchange(bool save) {
  if (save) {
    m_strRegionName = region_edit_->text().toStdString();
    m_bView = view_box_->isChecked();
    m_bPaged = paged_box_->isChecked();
  } else {
    region_edit_->setText(QString::fromStdString(m_strRegionName));
    view_box_->setChecked(m_bView);
    paged_box_->setChecked(m_bPaged);
  }
  return true;
}

void CPrintStatDlg::reject() {
  if (InJob()) return;
  host::LindoWriteINI("SYS_SET", "填表人",
                      findChild<QLineEdit*>(QString::number(kFiller))->text().toStdString());
  host::LindoWriteINI("SYS_SET", "检查人",
                      findChild<QLineEdit*>(QString::number(kChecker))->text().toStdString());
  qt::ModalDialog::reject();
}

void CPrintStatDlg::OnCheckAll() {
  for (int i = 0; i < report_list_->count(); ++i) report_list_->item(i)->setCheckState(Qt::Checked);
}

void CPrintStatDlg::OnInvertChecks() {
  for (int i = 0; i < report_list_->count(); ++i) {
    QListWidgetItem* item = report_list_->item(i);
    item->setCheckState(item->checkState() == Qt::Checked ? Qt::Unchecked : Qt::Checked);
  }
}

void CPrintStatDlg::OnClearChecks() {
  for (int i = 0; i < report_list_->count(); ++i) {
    report_list_->item(i)->setCheckState(Qt::Unchecked);
  }
}

void CPrintStatDlg::OnChooseRegion() {
  if (!DoDataExchange(true)) return;
  gis::RuralCode* codes = m_nMode == 2 ? m_pCode2 : m_pCode;
  if (codes == nullptr) return;
  std::vector<gis::CODESTRUCT> entries;
  codes->GetCode(nullptr, &entries, 0, "");
  std::erase_if(entries, [](const gis::CODESTRUCT& entry) {
    return entry.type.find("行政代码") == std::string::npos;
  });
  std::string code, name;
  if (!choose_region_ || !choose_region_(entries, code, name)) return;
  ApplyRegion(code, name);
}

void CPrintStatDlg::ApplyRegion(const std::string& code, const std::string& name) {
  m_strRegionCode = code;
  m_strRegionName = name;
  // The first level offered below a region of each code length.
  static const std::map<std::size_t, std::size_t> kFirstLevel = {
      {2, 0}, {4, 1}, {6, 2}, {9, 3}, {12, 4}};
  static const std::map<std::size_t, std::size_t> kFirstBureauLevel = {
      {6, 0}, {8, 1}, {10, 2}, {13, 3}};
  const auto& firsts = m_nMode == 2 ? kFirstBureauLevel : kFirstLevel;
  const std::vector<std::string>& all = report::OutputLevels(m_nMode);
  const auto first = firsts.find(code.size());
  SelectLevels(
      first == firsts.end()
          ? std::vector<std::string>{}
          : std::vector<std::string>(all.begin() + static_cast<long>(first->second), all.end()));
  DoDataExchange(false);
}

void CPrintStatDlg::SelectLevels(const std::vector<std::string>& levels) {
  QComboBox* box = Combo(kLevel);
  box->clear();
  for (const std::string& level : levels) box->addItem(QString::fromStdString(level));
  box->setCurrentIndex(levels.empty() ? -1 : 0);
}

void CPrintStatDlg::OnSelchangeYear() {
  DoDataExchange(false);
}

// The three filters of mode 1 exclude one another: choosing one empties
// the other two.
void CPrintStatDlg::OnSelchangeOwnership() {
  for (int id : {kReserveLevel, kDisputeType}) Combo(id)->setCurrentIndex(-1);
}

void CPrintStatDlg::OnSelchangeReserveLevel() {
  for (int id : {kOwnership, kDisputeType}) Combo(id)->setCurrentIndex(-1);
}

void CPrintStatDlg::OnSelchangeDisputeType() {
  for (int id : {kOwnership, kReserveLevel}) Combo(id)->setCurrentIndex(-1);
}

void CPrintStatDlg::BuildCodeMap() {
  const gis::RuralCode* codes = m_nMode == 2 ? m_pCode2 : m_pCode;
  if (codes == nullptr) return;
  std::vector<gis::CODESTRUCT> entries;
  codes->GetCode(nullptr, &entries, 0, "");
  for (const gis::CODESTRUCT& entry : entries) {
    if (entry.type.find("行政代码") != std::string::npos) {
      m_mapCodeName[entry.code] = entry.name;
    } else if (entry.type.find("地类代码") != std::string::npos) {
      m_arrClassCodes.push_back(entry.code);
    }
  }
}

void CPrintStatDlg::FillUnitCombo() {
  std::string unit1, unit2, unit3;
  GetUnit(unit1, unit2, unit3);
  QComboBox* box = Combo(kUnit);
  box->clear();
  for (const std::string* unit : {&unit1, &unit2, &unit3}) {
    if (!unit->empty()) box->addItem(QString::fromStdString(*unit));
  }
  box->setCurrentIndex(box->count() > 0 ? 0 : -1);
}

std::string CPrintStatDlg::GetCodeName(const std::string& code) const {
  const auto found = m_mapCodeName.find(code);
  return found == m_mapCodeName.end() ? std::string() : found->second;
}

std::vector<std::string> CPrintStatDlg::CheckedReports() const {
  std::vector<std::string> names;
  for (int i = 0; i < report_list_->count(); ++i) {
    if (report_list_->item(i)->checkState() == Qt::Checked) {
      names.push_back(report_list_->item(i)->text().toStdString());
    }
  }
  return names;
}

void CPrintStatDlg::FillSettings(report::ReportSettings& settings) const {
  auto text = [this](int id) {
    if (auto* box = qobject_cast<QComboBox*>(Control(id))) return box->currentText().toStdString();
    if (auto* edit = qobject_cast<QLineEdit*>(Control(id))) return edit->text().toStdString();
    return qobject_cast<QDateEdit*>(Control(id))->text().toStdString();
  };
  settings.catalogue_path = m_strCatalogPath;
  settings.header_keys = m_arrHeaderKeys.empty() ? report::kHeaderKeys : m_arrHeaderKeys;
  settings.header_values.clear();
  for (int id = kYear; id <= kCheckDate; ++id) {
    settings.header_values.push_back(id == kLevel ? m_strLevel : text(id));
  }
  settings.mode = m_nMode;
  settings.paged = m_bPaged;
  // The dialog shows the workbooks itself once all are written (OnPrint).
  settings.view = false;
  settings.output_level = m_strLevel;
  settings.ownership_filter = text(kOwnership);
  settings.reserve_level_filter = text(kReserveLevel);
  settings.dispute_type_filter = text(kDisputeType);
  settings.code_names = m_mapCodeName;
  settings.class_codes = m_arrClassCodes;
  settings.second_code_table = m_pCode2 != nullptr;
  // The balance sheet reads last year's file beside this year's, named as
  // StatFileConnection names it.
  settings.codes = m_pCode;
  settings.base_year_database.clear();
  settings.statistics_type = text(kStatType);
}

void CPrintStatDlg::OnPrint() {
  if (InJob()) return;
  DoDataExchange(true);
  if (m_strRegionCode.empty()) {
    ShowMessage(Q("请选择行政单位!"));
    return;
  }
  if (Combo(kLevel)->currentIndex() >= 0) m_strLevel = Combo(kLevel)->currentText().toStdString();
  const std::string year = Combo(kYear)->currentText().toStdString();
  const std::vector<std::string> names = CheckedReports();
  if (names.empty()) {
    ShowMessage(Q("请选择表格名称"));
    return;
  }
  // The year goes into a file name and table names: four digits only.
  if (IsYear(year) == 0) {
    ShowMessage(Q("输入年度数据错误！"));
    return;
  }
  PrintRun run;
  run.unit = UnitOfChoice(Combo(kUnit)->currentText().toStdString());
  run.folder = m_strOutPath + "/";
  run.connection = PrintConnection(year, run);
  if (run.connection.empty()) return;
  FillSettings(writers_.Settings());
  last_run_ = run;
  // While a job works on the year its tables are being replaced: refused,
  // as landstat report refuses.
  if (const std::string job = RunningJob(run.connection, year); !job.empty()) {
    ShowMessage(QString::fromStdString("作业正在处理 " + job + ", 请在作业结束后再打印"));
    last_run_.dispatched = 0;
    return;
  }
  // A year or county whose statistics the database does not hold has no
  // tables to print, or another's under their names.
  if (const std::string held = HeldStatisticsProblem(run.connection, year, m_strCounty);
      !held.empty()) {
    ShowMessage(QString::fromStdString("统计数据库中没有县 " + m_strCounty + " " + year +
                                       " 年完成的统计, 请先汇总该年度\n" + held));
    last_run_.dispatched = 0;
    return;
  }
  std::vector<std::string> writable;
  if (!SortReports(year, names, writable)) return;
  {
    const JobScope job(*this);
    last_run_.dispatched = writers_.DispatchReportTables(
        run.folder, run.connection, &writable, m_strTemplatePath, m_strRegionCode, run.unit,
        run.server_names, year, m_strCounty);
  }
  // Every report dispatched has its outcome; none when the database could
  // not be opened, which the dispatch has said.
  if (!writers_.Outcomes().empty() || !last_run_.not_built.empty() ||
      !last_run_.unavailable.empty()) {
    ReportPrinted();
  }
}

// Sets apart the reports whose table this county's runs did not build or
// whose writer this version lacks (into last_run_), as `landstat report`
// does; false after saying why the database could not be read, or that it
// holds no tables in the chosen unit.
bool CPrintStatDlg::SortReports(const std::string& year, const std::vector<std::string>& names,
                                std::vector<std::string>& writable) {
  try {
    db::Connection database(last_run_.connection);
    report::ReportSelection selection = writers_.SelectReports(
        database, TableNames(static_cast<short>(last_run_.server_names), year, m_strCounty),
        static_cast<short>(last_run_.unit), names);
    if (!selection.unit_not_held.empty()) {
      ShowMessage(QString::fromStdString(selection.unit_not_held));
      last_run_.dispatched = 0;
      return false;
    }
    writable = std::move(selection.writable);
    last_run_.not_built = std::move(selection.not_built);
    last_run_.unavailable = std::move(selection.unavailable);
    return true;
  } catch (const db::DbError& failure) {
    ShowMessage(Q("读取统计数据库失败: ") + QString::fromStdString(failure.what()));
    last_run_.dispatched = 0;
    return false;
  }
}

// Where a job works on the year and county now; empty when none does, or
// when the database cannot be opened (which the print then says).
std::string CPrintStatDlg::RunningJob(const std::string& connection, const std::string& year) {
  try {
    db::Connection database(connection);
    return RunWorkspace::RunningJob(database, year, m_strCounty);
  } catch (const db::DbError&) {
    return {};
  }
}

// The database the reports are read from: the host's open file, the
// county's file of the year in the statistics folder, or the server; ""
// after saying why there is none.
std::string CPrintStatDlg::PrintConnection(const std::string& year, PrintRun& run) {
  if (IsStandAloneMode()) {
    // The open file when it holds the year, else the year's file beside it.
    const bool held = std::find(file_years_.begin(), file_years_.end(), year) != file_years_.end();
    if (held || (!m_strDbFile.empty() && m_strDbPath.empty())) return m_strDbFile;
    return StatFileConnection(m_strDbPath, year, m_strCounty);
  }
  const std::string name = host::_ZRK_GetProfileString("数据源", "名称", "");
  if (name.empty()) {
    ShowMessage(Q("数据源为空"));
    return {};
  }
  run.server_names = 1;
  return host::_AdoGetConnectionString(name);
}

namespace {

// The message's line counting the reports left out ("\n3 <what>"), and its
// list of them ("\n<what>:", then "  name (reason)" a line); "" for none.
std::string LeftOutCount(const std::vector<report::LeftOutReport>& reports, const char* what) {
  return reports.empty() ? std::string() : "\n" + std::to_string(reports.size()) + what;
}
std::string LeftOutList(const std::vector<report::LeftOutReport>& reports, const char* what) {
  if (reports.empty()) return {};
  std::string text = std::string("\n") + what + ":";
  for (const report::LeftOutReport& report : reports) {
    text += "\n  " + report.name + " (" + report.reason + ")";
  }
  return text;
}

}  // namespace

// Says where the workbooks of the print went, how many failed and which
// were left out (not built, not available), after showing them when 查看
// is ticked.
void CPrintStatDlg::ReportPrinted() {
  const std::vector<report::ReportOutcome>& outcomes = writers_.Outcomes();
  long written = 0, failed = 0, unshown = 0;
  for (std::size_t i = 0; i < outcomes.size(); ++i) {
    if (!outcomes[i].Written()) {
      ++failed;
      continue;
    }
    ++written;
    if (m_bView && !(viewer_ && viewer_(outcomes[i].path))) ++unshown;
  }
  std::string text = written > 0 ? "出表完成! " + std::to_string(written) + " 个报表已保存到 " +
                                       fs::path(m_strOutPath).lexically_normal().string()
                                 : std::string("没有写出报表");
  if (failed > 0) text += "\n" + std::to_string(failed) + " 个报表未能写出";
  text += LeftOutCount(last_run_.not_built, " 个报表的表格本县的统计没有生成");
  text += LeftOutCount(last_run_.unavailable, " 个报表本版本没有");
  if (unshown > 0) text += "\n没有可以打开报表的程序, 请到该文件夹中查看";
  // The counts come first: a long message shows only its first lines.
  text += LeftOutList(last_run_.not_built, "表格本县的统计没有生成的报表");
  text += LeftOutList(last_run_.unavailable, "本版本没有的报表");
  ShowMessage(QString::fromStdString(text));
}

int CPrintStatDlg::UnitOfChoice(const std::string& text) {
  if (text == "亩") return kMu;
  if (text == "公顷") return kHectare;
  return kSquareMetre;
}

namespace {

short RunPrintStatDlg(int mode, gis::CGisXmlPrj* project, const std::string& output_folder,
                      const std::string& template_path, const std::string& catalogue,
                      const std::string& database_folder, gis::RuralCode* codes,
                      gis::RuralCode* codes2, const std::string& database_file) {
  CPrintStatDlg dialog;
  dialog.m_pPrj = project;
  dialog.m_strOutPath = output_folder;
  dialog.m_strTemplatePath = template_path;
  dialog.m_strCatalogPath = catalogue;
  dialog.m_strDbPath = database_folder;
  dialog.m_strDbFile = database_file;
  dialog.m_pCode = codes;
  dialog.m_pCode2 = codes2;
  dialog.m_nMode = mode;
  return dialog.DoModal() == host::IDOK ? 1 : 0;
}

}  // namespace

short PrintStatDlg(gis::CGisXmlPrj* project, const std::string& output_folder,
                   const std::string& /*unused*/, const std::string& template_path,
                   const std::string& catalogue, const std::string& database_folder,
                   gis::RuralCode* codes, const std::string& database_file) {
  return RunPrintStatDlg(0, project, output_folder, template_path, catalogue, database_folder,
                         codes, nullptr, database_file);
}

short PrintStatDlgSHD(gis::CGisXmlPrj* project, const std::string& output_folder,
                      const std::string& /*unused*/, const std::string& template_path,
                      const std::string& catalogue, const std::string& database_folder,
                      gis::RuralCode* codes, const std::string& database_file) {
  return RunPrintStatDlg(1, project, output_folder, template_path, catalogue, database_folder,
                         codes, nullptr, database_file);
}

short PrintStatDlgMG(gis::CGisXmlPrj* project, const std::string& output_folder,
                     const std::string& /*unused*/, const std::string& template_path,
                     const std::string& catalogue, const std::string& database_folder,
                     gis::RuralCode* codes, gis::RuralCode* codes2,
                     const std::string& database_file) {
  return RunPrintStatDlg(2, project, output_folder, template_path, catalogue, database_folder,
                         codes, codes2, database_file);
}

}  // namespace landstat
