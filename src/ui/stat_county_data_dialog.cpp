#include "ui/stat_county_data_dialog.h"

#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QVBoxLayout>

#include "engine/stat_config.h"
#include "operator/county_batch.h"
#include "operator/county_catalogue.h"
#include "platform/db/db_error.h"
#include "platform/host/host_settings.h"
#include "platform/host/ini_file.h"
#include "platform/host/notifier.h"
#include "ui/year_box.h"

namespace landstat {
namespace {

QString Q(const std::string& text) {
  return QString::fromStdString(text);
}

QPushButton* Button(QWidget* parent, const char* text, int id) {
  auto* button = new QPushButton(Q(text), parent);
  button->setObjectName(QString::number(id));
  button->setAutoDefault(false);
  return button;
}

// A server is configured: the data source is a server's and has a name.
bool ServerConfigured() {
  return !IsStandAloneMode() && !host::_ZRK_GetProfileString("数据源", "名称", "").empty();
}

}  // namespace

CStatCountyDataDlg::CStatCountyDataDlg(const std::string& catalogue, QWidget* parent)
    : qt::ModalDialog(kResourceId, parent) {
  setWindowTitle(Q("数据汇总"));
  tree_ = new QTreeWidget(this);
  tree_->setObjectName("17048");
  tree_->setHeaderHidden(true);
  year_box_ = new QComboBox(this);
  year_box_->setObjectName("17002");
  year_box_->setEditable(true);
  for (int year = 2005; year <= 2014; ++year) year_box_->addItem(QString::number(year));
  qt::ShowYear(year_box_, "");
  // The network is offered only where a server is configured; elsewhere the
  // counties go to files in a chosen folder.
  const bool server = ServerConfigured();
  network_radio_ = new QRadioButton(Q("汇总到网络"), this);
  network_radio_->setObjectName("17025");
  network_radio_->setEnabled(server);
  local_radio_ = new QRadioButton(Q("汇总到本地"), this);
  local_radio_->setObjectName("17026");
  (server ? network_radio_ : local_radio_)->setChecked(true);
  path_button_ = Button(this, "选择路径(&S)", 17052);
  path_button_->setEnabled(!server);
  QPushButton* all = Button(this, "全选(&A)", 17049);
  QPushButton* none = Button(this, "清空(&C)", 17050);
  QPushButton* children = Button(this, "选择下级(&N)", 17051);
  ok_button_ = Button(this, "汇总(&S)", 1);
  QPushButton* quit = Button(this, "退出(&Q)", 2);

  auto* regions = new QGroupBox(Q("行政区域"), this);
  (new QVBoxLayout(regions))->addWidget(tree_);
  auto* years = new QGroupBox(Q("年度"), this);
  (new QVBoxLayout(years))->addWidget(year_box_);
  auto* options = new QGroupBox(Q("选项"), this);
  auto* option_layout = new QVBoxLayout(options);
  option_layout->addWidget(network_radio_);
  option_layout->addWidget(local_radio_);
  auto* side = new QVBoxLayout();
  side->addWidget(years);
  side->addWidget(options);
  for (QPushButton* button : {path_button_, all, none, children, ok_button_, quit}) {
    side->addWidget(button);
  }
  side->addStretch();
  auto* layout = new QHBoxLayout(this);
  layout->addWidget(regions, 1);
  layout->addLayout(side);

  connect(all, &QPushButton::clicked, this, [this] { OnSelectAll(); });
  connect(none, &QPushButton::clicked, this, [this] { OnClearAll(); });
  connect(children, &QPushButton::clicked, this, [this] { OnSelectChildren(); });
  connect(path_button_, &QPushButton::clicked, this, [this] { OnSelectPath(); });
  connect(ok_button_, &QPushButton::clicked, this, [this] { OnOK(); });
  connect(quit, &QPushButton::clicked, this, &QDialog::reject);
  connect(network_radio_, &QRadioButton::toggled, this, [this](bool on) {
    if (!on) return;
    path_button_->setEnabled(false);
    m_strFolder.clear();
  });
  connect(local_radio_, &QRadioButton::toggled, this,
          [this](bool on) { path_button_->setEnabled(on); });
  // The root's box ticks or clears the whole tree; another item's box
  // changes that item alone.
  connect(tree_, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem* item, int) {
    if (propagating_ || item != tree_->topLevelItem(0)) return;
    SetChecked(item, item->checkState(0) == Qt::Checked, true);
  });
  m_chooseFolder = [this] {
    return QFileDialog::getExistingDirectory(this, Q("选择目录")).toStdString();
  };
  FillTree(catalogue);
}

void CStatCountyDataDlg::FillTree(const std::string& catalogue) {
  CountyCatalogue read;
  try {
    read = ReadCountyCatalogue(catalogue);
  } catch (const db::DbError& error) {
    ShowMessage(Q(error.what()));
    return;
  }
  std::map<std::string, QTreeWidgetItem*> items;
  // Parents come first: the catalogue lists districts by code, and a code
  // begins with its parent's.
  for (const CatalogueRegion& region : read.regions) {
    const auto parent = items.find(region.parent);
    const QStringList text{Q(region.code + " " + region.name)};
    auto* item = parent == items.end() ? new QTreeWidgetItem(tree_, text)
                                       : new QTreeWidgetItem(parent->second, text);
    item->setCheckState(0, Qt::Unchecked);
    items[region.code] = item;
    codes_[item] = region.code;
  }
  if (tree_->topLevelItemCount() > 0) tree_->topLevelItem(0)->setExpanded(true);
}

void CStatCountyDataDlg::SetChecked(QTreeWidgetItem* item, bool checked, bool descendants) {
  propagating_ = true;
  item->setCheckState(0, checked ? Qt::Checked : Qt::Unchecked);
  propagating_ = false;
  if (!descendants) return;
  for (int i = 0; i < item->childCount(); ++i) SetChecked(item->child(i), checked, true);
}

void CStatCountyDataDlg::OnSelectAll() {
  for (int i = 0; i < tree_->topLevelItemCount(); ++i)
    SetChecked(tree_->topLevelItem(i), true, true);
}

void CStatCountyDataDlg::OnClearAll() {
  for (int i = 0; i < tree_->topLevelItemCount(); ++i) {
    SetChecked(tree_->topLevelItem(i), false, true);
  }
}

void CStatCountyDataDlg::OnSelectChildren() {
  if (QTreeWidgetItem* item = tree_->currentItem()) SetChecked(item, true, true);
}

void CStatCountyDataDlg::OnSelectPath() {
  const std::string folder = m_chooseFolder();
  if (!folder.empty()) m_strFolder = folder;
}

void CStatCountyDataDlg::OnOK() {
  m_arrCodes.clear();
  // Depth first, parents before their children, siblings in tree order.
  QTreeWidgetItemIterator walk(tree_);
  for (; *walk; ++walk) {
    if ((*walk)->checkState(0) == Qt::Checked) m_arrCodes.push_back(codes_[*walk]);
  }
  if (m_arrCodes.empty()) {
    ShowMessage(Q("请选择行政区!"));
    return;
  }
  m_strYear = year_box_->currentText().toStdString();
  if (m_strYear.empty()) {
    ShowMessage(Q("请选择年度!"));
    return;
  }
  // Without a folder the batch would go to the network, which 汇总到本地 is not.
  if (local_radio_->isChecked() && m_strFolder.empty()) {
    ShowMessage(Q("请选择汇总数据的存放路径!"));
    return;
  }
  accept();
}

short StatCountyData(const std::string& start_year) {
  CStatCountyDataDlg dialog(DefaultCountyCatalogue());
  if (!start_year.empty()) qt::ShowYear(dialog.YearBox(), start_year);
  if (dialog.DoModal() != host::IDOK) return 0;
  CountyBatchRequest request;
  request.catalogue = DefaultCountyCatalogue();
  request.year = dialog.m_strYear;
  request.codes = dialog.m_arrCodes;
  request.folder = dialog.m_strFolder;
  if (request.folder.empty()) {
    // The network: the configured data source.
    const std::string name = host::_ZRK_GetProfileString("数据源", "名称", "");
    if (name.empty()) {
      host::AfxMessageBox("数据源为空");
      return 1;
    }
    request.server = host::_AdoGetConnectionString(name);
  }
  const CountyBatchResult result = StatCountyDataBatch(request);
  host::AfxMessageBox(CountyBatchMessage(result));
  return 1;
}

}  // namespace landstat
