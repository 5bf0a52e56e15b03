#include "ui/stat_year_data_dialog.h"

#include <QDesktopServices>
#include <QGridLayout>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>
#include <filesystem>

#include "engine/stat_config.h"
#include "engine/text_helpers.h"
#include "platform/db/connection.h"
#include "platform/host/host_settings.h"
#include "platform/host/ini_file.h"
#include "platform/host/notifier.h"
#include "ui/county_code_dialog.h"
#include "ui/year_box.h"

namespace landstat {
namespace {

QString Q(const std::string& text) {
  return QString::fromStdString(text);
}

void Name(QWidget* widget, int id) {
  widget->setObjectName(QString::number(id));
}

// The incremental summary is offered only to stand-alone, rural management
// installations.
bool OffersIncremental() {
  return host::ModuleSettingXml("SystemType", "addMenu_type", "") == "管理" &&
         host::_ZRK_GetProfileString("SYS_PARA", "子版本", "城镇") == "农村" &&
         host::_ZRK_GetProfileString("数据源", "模式", "单机") == "单机";
}

}  // namespace

CStatYearDataDlg::CStatYearDataDlg(gis::CGisXmlPrj* project, std::string folder,
                                   gis::RuralCode* codes, gis::RuralCode* second_codes,
                                   QWidget* parent)
    : qt::ModalDialog(kResourceId, parent),
      project_(project),
      folder_(std::move(folder)),
      codes_(codes),
      second_codes_(second_codes) {
  setWindowTitle(Q("年度数据汇总"));
  year_list_ = new QTreeWidget(this);
  Name(year_list_, 17004);
  year_list_->setHeaderLabels({Q("汇总年度")});
  year_list_->setColumnWidth(0, 120);
  year_list_->setRootIsDecorated(false);
  year_box_ = new QComboBox(this);
  Name(year_box_, 17002);
  year_box_->setEditable(true);
  year_box_->setInsertPolicy(QComboBox::NoInsert);
  for (int year = 2005; year <= 2015; ++year) year_box_->addItem(QString::number(year));
  year_box_->lineEdit()->installEventFilter(this);
  local_check_ = new QCheckBox(Q("汇总到本地"), this);
  Name(local_check_, 17007);
  incremental_check_ = new QCheckBox(Q("仅汇总增量数据"), this);
  Name(incremental_check_, 17005);
  incremental_check_->setVisible(OffersIncremental());
  summary_button_ = new QPushButton(Q("汇总(&S)"), this);
  Name(summary_button_, 17001);
  log_button_ = new QPushButton(Q("汇总日志(&L)"), this);
  Name(log_button_, 17014);
  quit_button_ = new QPushButton(Q("退出(&Q)"), this);
  Name(quit_button_, 2);

  auto* years = new QGroupBox(Q("已汇总的年度"), this);
  (new QVBoxLayout(years))->addWidget(year_list_);
  auto* year = new QGroupBox(Q("汇总年度"), this);
  (new QVBoxLayout(year))->addWidget(year_box_);
  auto* options = new QGroupBox(this);
  auto* option_layout = new QVBoxLayout(options);
  option_layout->addWidget(local_check_);
  option_layout->addWidget(incremental_check_);
  auto* layout = new QGridLayout(this);
  layout->addWidget(years, 0, 0, 2, 1);
  layout->addWidget(year, 0, 1);
  layout->addWidget(options, 1, 1);
  auto* buttons = new QHBoxLayout();
  for (QPushButton* button : {summary_button_, log_button_, quit_button_}) {
    button->setAutoDefault(false);
    buttons->addWidget(button);
  }
  layout->addLayout(buttons, 2, 0, 1, 2);
  connect(summary_button_, &QPushButton::clicked, this, [this] { OnSummary(); });
  connect(log_button_, &QPushButton::clicked, this, [this] { OnViewLog(); });
  connect(quit_button_, &QPushButton::clicked, this, &QDialog::reject);
  m_viewer = [](const std::string& path) {
    return QDesktopServices::openUrl(QUrl::fromLocalFile(Q(path)));
  };
  qt::ShowYear(year_box_, ListYears());
}

bool CStatYearDataDlg::ServerConnection(std::string& connection, short& kind) {
  const std::string name = host::_ZRK_GetProfileString("数据源", "名称", "");
  if (name.empty()) {
    ShowMessage(Q("数据源为空"));
    return false;
  }
  const int type = host::_AdoGetDbType(name);
  if (type != 1 && type != 2) {
    ShowMessage(Q("未知数据源类型！"));
    return false;
  }
  kind = static_cast<short>(type);
  connection = host::_AdoGetConnectionString(name);
  return true;
}

std::string CStatYearDataDlg::ListYears() {
  year_list_->clear();
  std::vector<std::string> years;
  if (IsStandAloneMode()) {
    const std::string county = project_ ? project_->GetCountyCode() : std::string();
    std::string error;
    years = ListSummarisedYears(folder_, county, error);
    if (!error.empty()) ShowMessage(Q("读取已汇总的年度失败: " + error));
  } else {
    local_check_->setEnabled(true);
    std::string connection;
    short kind = 1;
    if (!ServerConnection(connection, kind)) return {};
    std::string error;
    years = ListServerYears(connection, ProjectCountyCode(project_, this), error);
    if (!error.empty()) ShowMessage(Q("读取已汇总的年度失败: " + error));
  }
  for (const std::string& year : years) new QTreeWidgetItem(year_list_, {Q(year)});
  return years.empty() ? std::string() : *std::max_element(years.begin(), years.end());
}

bool CStatYearDataDlg::OnEnterYear() {
  const QString text = year_box_->currentText();
  if (!IsYear(text.toStdString())) {
    ShowMessage(Q("输入年度数据错误！"));
    return false;
  }
  for (int i = 0; i < year_box_->count(); ++i) {
    if (year_box_->itemText(i).startsWith(text)) return false;
  }
  // The box keeps its years in order.
  int at = 0;
  while (at < year_box_->count() && year_box_->itemText(at) < text) ++at;
  year_box_->insertItem(at, text);
  year_box_->setCurrentIndex(at);
  return true;
}

bool CStatYearDataDlg::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if ((key == Qt::Key_Return || key == Qt::Key_Enter) && OnEnterYear()) return true;
  }
  return qt::ModalDialog::eventFilter(watched, event);
}

void CStatYearDataDlg::OnSummary() {
  const std::string year = year_box_->currentText().toStdString();
  if (year.empty()) {
    ShowMessage(Q("请输入汇总年度"));
    return;
  }
  AnnualSummaryRequest request;
  request.project = project_;
  request.codes = codes_;
  request.second_codes = second_codes_;
  request.folder = folder_;
  request.year = year;
  request.county = ProjectCountyCode(project_, this);
  request.local_copy = local_check_->isChecked();
  request.incremental = incremental_check_->isVisible() && incremental_check_->isChecked();
  if (!IsStandAloneMode() && !ServerConnection(request.server, request.server_kind)) return;
  JobScope job(*this);
  // The question names what would be replaced: the file, or the server
  // (never its password).
  m_lastResult = RunAnnualSummary(
      request,
      [&](const std::string& file) {
        const std::string held = file.empty()
                                     ? "数据源 " + db::DescribeConnection(request.server) +
                                           " 中县 " + request.county + " " + year + " 年的统计"
                                     : file + " 中的统计";
        return host::AfxMessageBox("该年度数据已经汇总,需要重新汇总吗?\n重新汇总将替换 " + held,
                                   host::MB_YESNO | host::MB_ICONQUESTION) == host::IDYES;
      },
      m_runs);
  if (m_lastResult.declined) return;
  if (!m_lastResult.database.empty()) m_strSummarisedDb = m_lastResult.database;
  // The years as they are now: a failed summary into a new file left none.
  ListYears();
  std::string text = m_lastResult.message;
  for (std::size_t i = 0; i < m_lastResult.report.messages.size() && i < 5; ++i) {
    text += "\n" + m_lastResult.report.messages[i];
  }
  if (!m_lastResult.log_path.empty()) text += "\n日志: " + m_lastResult.log_path;
  ShowMessage(Q(text));
}

void CStatYearDataDlg::OnViewLog() {
  const std::string county = ProjectCountyCode(project_, this);
  // A summary into the server keeps a log of its own; a local copy's is the file's.
  const bool server = !IsStandAloneMode() && !local_check_->isChecked();
  const std::string path =
      AnnualLogFile(folder_, year_box_->currentText().toStdString(), county, server);
  std::error_code unusable;
  if (!IsYear(year_box_->currentText().toStdString()) || !std::filesystem::exists(path, unusable)) {
    ShowMessage(Q("没有对应的日志文件！"));
    return;
  }
  if (!m_viewer(path)) ShowMessage(Q("无法打开日志文件 " + path));
}

short StatYearDataDlg(gis::CGisXmlPrj* project, const std::string& folder, gis::RuralCode* codes,
                      gis::RuralCode* second_codes) {
  CStatYearDataDlg dialog(project, folder, codes, second_codes);
  return dialog.DoModal() == host::IDOK ? 1 : 0;
}

}  // namespace landstat
