#include "ui/land_gis_doc_att_dialog.h"

#include <QDesktopServices>
#include <QEvent>
#include <QFileDialog>
#include <QGridLayout>
#include <QLabel>
#include <QMenuBar>
#include <QUrl>
#include <QVBoxLayout>
#include <filesystem>

#include "operator/area_stat_output.h"
#include "platform/gis/gis_error.h"
#include "platform/host/notifier.h"
#include "platform/host/paths.h"
#include "platform/sheet/grid_workbook.h"
#include "ui/house_model_start.h"

namespace landstat {
namespace {

namespace fs = std::filesystem;

// Control and menu numbers of the dialog.
enum : int {
  kLevel = 801,
  kUnit = 802,
  kScope = 803,
  kStatOutput = 17061,
  kPageSetup = 17062,
  kPrintOut = 17063,
};

// Workbooks of the statistics output tried beside one another.
constexpr int kMaxWorkbookNames = 1000;

QString Q(const char* text) {
  return QString::fromUtf8(text);
}

QComboBox* MakeCombo(QWidget* parent, int id, std::initializer_list<const char*> items) {
  auto* combo = new QComboBox(parent);
  combo->setObjectName(QString::number(id));
  for (const char* item : items) combo->addItem(Q(item));
  return combo;
}

// A file name for the grid's workbook in `folder` that names no file yet.
std::string NewWorkbookPath(const fs::path& folder, const std::string& stem) {
  for (int n = 1; n <= kMaxWorkbookNames; ++n) {
    const fs::path path =
        folder / (stem + (n == 1 ? std::string() : "(" + std::to_string(n) + ")") + ".xlsx");
    if (!fs::exists(path)) return path.string();
  }
  return {};
}

}  // namespace

CLandGisDocAttDlg::CLandGisDocAttDlg(QWidget* parent) : qt::ModalDialog(kResourceId, parent) {
  setWindowTitle(Q("查看"));
  setWindowFlags(windowFlags() | Qt::WindowMaximizeButtonHint);
  resize(922, 704);  // 461 by 352 dialog units
  auto* menu = new QMenuBar(this);
  QMenu* map = menu->addMenu(Q("地图"));
  QMenu* summary = menu->addMenu(Q("统计汇总"));
  const struct {
    QMenu* menu;
    int id;
    const char* text;
    void (CLandGisDocAttDlg::*handler)();
  } kItems[] = {{map, kPageSetup, "页面设置", &CLandGisDocAttDlg::OnPageSetup},
                {map, kPrintOut, "打印输出", &CLandGisDocAttDlg::OnPrintOut},
                {summary, kStatOutput, "统计输出", &CLandGisDocAttDlg::OnStatOutput}};
  for (const auto& item : kItems) {
    QAction* action = item.menu->addAction(Q(item.text));
    action->setObjectName(QString::number(item.id));
    connect(action, &QAction::triggered, this,
            [this, handler = item.handler] { Guarded([this, handler] { (this->*handler)(); }); });
  }

  auto* left = new QWidget(this);
  tree_ = new CGisAttDocTree(left);
  tree_->SetActions(this);
  auto* choices = new QGridLayout();
  const struct {
    const char* label;
    QComboBox* combo;
  } kCombos[] = {
      {"出表级别:",
       MakeCombo(left, kLevel, {"市级", "县(区)级", "乡(街道)级", "村(街坊)级", "小组级"})},
      {"面积单位:", MakeCombo(left, kUnit, {"平方米", "亩", "公顷"})},
      {"统计类型:", MakeCombo(left, kScope, {"座落单位", "权属单位", ""})}};
  int row = 0;
  for (const auto& entry : kCombos) {
    choices->addWidget(new QLabel(Q(entry.label), left), row, 0);
    choices->addWidget(entry.combo, row++, 1);
  }
  choices->setColumnStretch(1, 2);
  auto* left_layout = new QVBoxLayout(left);
  left_layout->setContentsMargins(0, 0, 0, 0);
  left_layout->addWidget(tree_, 1);
  left_layout->addLayout(choices);

  view_ = new CGisMapView(this);
  tabs_ = new QTabWidget(this);
  tabs_->setObjectName("11");
  grid_ = new CGisAttGridCtrl(tabs_);
  grid_->m_pView = view_;
  tabs_->addTab(grid_, Q("属性浏览"));
  down_ = new QSplitter(Qt::Vertical, this);
  down_->setObjectName("5001");
  down_->addWidget(view_);
  down_->addWidget(tabs_);
  down_->setChildrenCollapsible(true);
  across_ = new QSplitter(Qt::Horizontal, this);
  across_->setObjectName("5002");
  across_->addWidget(left);
  across_->addWidget(down_);
  // The ratios follow the splitters.
  connect(across_, &QSplitter::splitterMoved, this, [this] {
    const QList<int> sizes = across_->sizes();
    if (sizes[0] + sizes[1] > 0) m_dRatioX = double(sizes[0]) / (sizes[0] + sizes[1]);
  });
  connect(down_, &QSplitter::splitterMoved, this, [this] {
    const QList<int> sizes = down_->sizes();
    if (sizes[0] + sizes[1] > 0) m_dRatioY = double(sizes[0]) / (sizes[0] + sizes[1]);
  });
  across_->installEventFilter(this);
  down_->installEventFilter(this);
  auto* layout = new QVBoxLayout(this);
  layout->setMenuBar(menu);
  layout->addWidget(across_);

  viewer_ = [](const std::string& path) {
    return QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(path)));
  };
  choose_pdf_ = [this] {
    return QFileDialog::getSaveFileName(this, Q("打印输出"), QString(), Q("PDF 文件 (*.pdf)"))
        .toStdString();
  };
}

CLandGisDocAttDlg::~CLandGisDocAttDlg() {
  OnDestroy();
}

QComboBox* CLandGisDocAttDlg::Combo(int id) const {
  return findChild<QComboBox*>(QString::number(id));
}

QAction* CLandGisDocAttDlg::MenuAction(int id) const {
  return findChild<QAction*>(QString::number(id));
}

int CLandGisDocAttDlg::DoModal() {
  OnInitDialog();
  const int result = qt::ModalDialog::DoModal();
  OnDestroy();
  return result;
}

void CLandGisDocAttDlg::OnInitDialog() {
  tree_->m_strCatalogPath = m_strCatalogPath;
  tree_->m_nMode = 1;
  LoadDocument();
  Combo(kUnit)->setCurrentIndex(0);
  Combo(kLevel)->setCurrentIndex(3);
  Combo(kScope)->setCurrentIndex(0);
  ArrangeControls();
}

void CLandGisDocAttDlg::LoadDocument() {
  if (!m_strDocPath.empty()) {
    try {
      project_ = gis::CGisXmlPrj::Open(m_strDocPath);
    } catch (const gis::GisError& error) {
      host::AfxMessageBox(error.what());
    }
  } else {
    host::AfxMessageBox("没有给出要查看的项目文件");
  }
  tree_->BuildTree(project_.get(), m_pTitles);
  view_->SetProject(project_.get());
  // The second launcher's code table, made only for a project that opened.
  if (!m_arrCodeFiles.empty() && project_) {
    m_pCode = gis::CreateRuralCode(m_arrCodeFiles.front());
    own_code_ = m_pCode != nullptr;
    if (!own_code_) host::AfxMessageBox("不能读取代码文件 " + m_arrCodeFiles.front());
  }
}

void CLandGisDocAttDlg::OnDestroy() {
  view_->SetProject(nullptr);
  grid_->m_nLayer = 0;
  project_.reset();
  if (own_code_) {
    gis::DeleteRuralCode(m_pCode);
    m_pCode = nullptr;
    own_code_ = false;
  }
}

bool CLandGisDocAttDlg::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::Resize && (watched == across_ || watched == down_)) {
    ArrangeControls();
  }
  return qt::ModalDialog::eventFilter(watched, event);
}

// The tree keeps its share of the width and the map its share of the
// height: all of it while the grid is hidden.
void CLandGisDocAttDlg::ArrangeControls() {
  const int width = across_->width();
  const int height = down_->height();
  const int tree = static_cast<int>(width * m_dRatioX);
  across_->setSizes({tree, width - tree});
  const int map = static_cast<int>(height * m_dRatioY);
  down_->setSizes({map, height - map});
}

void CLandGisDocAttDlg::ShowAttributeGrid(bool show) {
  m_dRatioY = show ? 0.5 : 1.0;
  ArrangeControls();
  view_->update();
}

void CLandGisDocAttDlg::Guarded(const std::function<void()>& command) {
  try {
    command();
  } catch (const std::exception& error) {
    host::AfxMessageBox(error.what());
  }
}

void CLandGisDocAttDlg::StopFlash() {
  view_->StopFlash();
}

void CLandGisDocAttDlg::OpenLayer(const std::string& name) {
  if (!project_) return;
  Guarded([&] {
    grid_->m_nLayer = project_->prjItemGetAi(name);
    ShowAttributeGrid(true);
    grid_->FillAttributeGrid();
  });
}

void CLandGisDocAttDlg::LetLayerGo() {
  grid_->m_nLayer = 0;
}

void CLandGisDocAttDlg::StartHouseModel() {
  if (!project_) {
    host::AfxMessageBox("房屋层工作区不存在！");
    return;
  }
  Guarded([&] { landstat::StartHouseModel(*project_); });
}

void CLandGisDocAttDlg::RunAreaStat(const std::string& database, const std::string& title) {
  Guarded([&] { OutputAreaStat(database, title); });
}

short CLandGisDocAttDlg::OutputAreaStat(const std::string& database, const std::string& title) {
  AreaStatOutput output(fs::path(m_strDocPath).parent_path().string(), m_strCatalogPath,
                        m_strTemplatePath);
  output.choice = {Combo(kUnit)->currentIndex(), Combo(kScope)->currentIndex(),
                   Combo(kLevel)->currentIndex()};
  output.show = false;
  m_nUnit = static_cast<short>(output.choice.unit);
  m_nScope = static_cast<short>(output.choice.scope);
  short result = 0;
  {
    JobScope job(*this);
    result = output.OutputAreaStat(database, title);
  }
  if (result == 1 && viewer_ && !viewer_(output.LastWorkbook())) {
    host::AfxMessageBox("没有能打开 " + output.LastWorkbook() + " 的程序");
  }
  return result;
}

void CLandGisDocAttDlg::OnStatOutput() {
  if (grid_->GetColumnCount() < 2) {
    host::AfxMessageBox("当前无数据可输出!", host::MB_ICONINFORMATION);
    return;
  }
  const fs::path folder = project_ ? fs::path(project_->GetFolder()) : fs::path(host::TempDir());
  const std::string stem =
      SafeFileStem((gis::IsLayerValid(grid_->m_nLayer) ? gis::LayerName(grid_->m_nLayer)
                                                       : std::string("属性浏览")) +
                   "属性");
  const std::string path = NewWorkbookPath(folder, stem);
  if (path.empty()) {
    host::AfxMessageBox("在 " + folder.string() + " 中找不到可用的文件名: " + stem);
    return;
  }
  sheet::PrintComToGrid(grid_->DataColumns(), path);
  grid_workbook_ = path;
  if (viewer_ && !viewer_(path)) host::AfxMessageBox("没有能打开 " + path + " 的程序");
}

void CLandGisDocAttDlg::OnPageSetup() {
  view_->PageSetup();
}

void CLandGisDocAttDlg::OnPrintOut() {
  const std::string path = choose_pdf_ ? choose_pdf_() : std::string();
  if (path.empty()) return;
  view_->PrintToPdf(path);
}

namespace {

void RunBrowser(CLandGisDocAttDlg& dialog, const char* document,
                const std::vector<std::string>* titles, const std::string& template_path,
                const std::string& catalogue) {
  dialog.m_strDocPath = document ? document : "";
  dialog.m_pTitles = titles;
  dialog.m_strTemplatePath = template_path;
  dialog.m_strCatalogPath = catalogue;
  dialog.DoModal();
}

}  // namespace

void LandGisDocAttDlg(const char* document, const std::vector<std::string>* titles,
                      const std::string& template_path, const std::string& catalogue,
                      gis::RuralCode* codes) {
  CLandGisDocAttDlg dialog;
  dialog.m_pCode = codes;
  RunBrowser(dialog, document, titles, template_path, catalogue);
}

void LandGisDocAttDlg(const char* document, const std::vector<std::string>* titles,
                      const std::string& template_path, const std::string& catalogue,
                      const std::vector<std::string>& code_files) {
  CLandGisDocAttDlg dialog;
  dialog.m_arrCodeFiles = code_files;
  RunBrowser(dialog, document, titles, template_path, catalogue);
}

}  // namespace landstat
