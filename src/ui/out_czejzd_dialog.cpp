#include "ui/out_czejzd_dialog.h"

#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QVBoxLayout>
#include <algorithm>

#include "lots/town_lot_run.h"
#include "platform/gis/gis_error.h"
#include "platform/host/output_folder.h"

namespace landstat {
namespace {

QString Text(const std::string& text) {
  return QString::fromStdString(text);
}

}  // namespace

COutCZEJZDDlg::COutCZEJZDDlg(QWidget* parent) : qt::ModalDialog(kResourceId, parent) {
  setWindowTitle(QString::fromUtf8("城镇宗地二级分类面积表"));
  auto* options = new QGroupBox(QString::fromUtf8("选项"), this);
  auto* grid = new QGridLayout(options);
  const auto add_row = [&](int row, int button_id, const char* label, int edit_id, bool typed) {
    auto* button = new QPushButton(QString::fromUtf8(label), options);
    auto* edit = new QLineEdit(options);
    edit->setReadOnly(!typed);
    edit->setMinimumWidth(320);
    button->setObjectName(QString::number(button_id));
    edit->setObjectName(QString::number(edit_id));
    grid->addWidget(button, row, 0);
    grid->addWidget(edit, row, 1);
    return std::make_pair(button, edit);
  };
  const auto lots = add_row(0, kLotButton, "宗地(&Z)", kLotPath, false);
  const auto dictionary = add_row(1, kDictionaryButton, "数据字典(&C)", kDictionaryPath, false);
  const auto output = add_row(2, kOutputButton, "出表路径(P)", kOutputPath, true);
  lot_path_ = lots.second;
  dictionary_path_ = dictionary.second;
  output_path_ = output.second;
  paged_box_ = new QCheckBox(QString::fromUtf8("分页"), this);
  paged_box_->setObjectName(QString::number(kPaged));
  output_button_ = new QPushButton(QString::fromUtf8("出表(&O)"), this);
  output_button_->setObjectName(QString::number(kOutput));
  auto* quit = new QPushButton(QString::fromUtf8("退出(&Q)"), this);
  quit->setObjectName(QString::number(kQuit));

  auto* buttons = new QHBoxLayout();
  buttons->addWidget(paged_box_);
  buttons->addStretch();
  buttons->addWidget(output_button_);
  buttons->addWidget(quit);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(options);
  layout->addLayout(buttons);

  connect(lots.first, &QPushButton::clicked, this, [this] { OnSelectLotLayer(); });
  connect(dictionary.first, &QPushButton::clicked, this, [this] { OnSelectDictionary(); });
  connect(output.first, &QPushButton::clicked, this, [this] { OnSelectOutputPath(); });
  connect(output_path_, &QLineEdit::textChanged, this, [this] { ShowOutputState(); });
  connect(output_button_, &QPushButton::clicked, this, [this] { OnOutput(); });
  connect(quit, &QPushButton::clicked, this, [this] { OnCancel(); });
  DoDataExchange(false);
}

COutCZEJZDDlg::~COutCZEJZDDlg() {
  OnDestroy();
}

QWidget* COutCZEJZDDlg::Control(int id) const {
  return findChild<QWidget*>(QString::number(id));
}

void COutCZEJZDDlg::DoDataExchange(bool save) {
  if (save) {
    m_strOutPath = output_path_->text().trimmed().toStdString();
    m_bPaged = paged_box_->isChecked();
  } else {
    lot_path_->setText(Text(m_strZdPath));
    output_path_->setText(Text(m_strOutPath));
    dictionary_path_->setText(Text(m_strDictPath));
    paged_box_->setChecked(m_bPaged);
  }
  ShowOutputState();
}

void COutCZEJZDDlg::ShowOutputState() {
  output_button_->setEnabled(m_aiZd > 0 && m_pCode != nullptr &&
                             !output_path_->text().trimmed().isEmpty());
}

// A pick that is cancelled, or whose file cannot be read, keeps the choice
// before it (the path shown is always the one in use). Only the control of
// the pick is refreshed, so a folder typed meanwhile stays.
void COutCZEJZDDlg::OnSelectLotLayer() {
  std::string source, layer;
  if (ChooseLotLayer(source, layer)) UseLotLayer(source, layer);
}

void COutCZEJZDDlg::OnSelectDictionary() {
  std::string path;
  if (ChooseDictionary(path)) UseDictionary(path);
}

void COutCZEJZDDlg::UseLotLayer(const std::string& source, const std::string& layer) {
  gis::LayerHandle opened = 0;
  try {
    opened = OpenTownLotLayer(source, layer);
  } catch (const gis::GisError& error) {
    ShowMessage(Text(error.what()));
    return;
  }
  ReleaseLotLayer();
  m_aiZd = opened;
  m_strZdPath = source + ":" + gis::LayerName(opened);
  lot_path_->setText(Text(m_strZdPath));
  ShowOutputState();
}

void COutCZEJZDDlg::UseDictionary(const std::string& path) {
  gis::RuralCode* codes = nullptr;
  try {
    codes = gis::RuralCode::Load(path);
  } catch (const gis::GisError& error) {
    ShowMessage(Text(error.what()));
    return;
  }
  ReleaseCodes();
  m_pCode = codes;
  m_strDictPath = path;
  dictionary_path_->setText(Text(m_strDictPath));
  ShowOutputState();
}

void COutCZEJZDDlg::StartFrom(const gis::CGisXmlPrj& project, const std::string& folder) {
  // The lot layer the town-lot run takes.
  for (const char* name : kTownLotLayerNames) {
    if (!project.HasLayer(name)) continue;
    UseLotLayer(project.SourceOf(name), project.TableOf(name));
    break;
  }
  if (!project.GetCodeFile().empty()) UseDictionary(project.GetCodeFile());
  m_strOutPath = folder;
  output_path_->setText(Text(m_strOutPath));
}

void COutCZEJZDDlg::OnSelectOutputPath() {
  std::string folder;
  if (!ChooseFolder(folder)) return;
  m_strOutPath = folder;
  output_path_->setText(Text(m_strOutPath));
}

void COutCZEJZDDlg::OnOutput() {
  if (InJob()) return;
  DoDataExchange(true);
  if (m_aiZd <= 0 || m_pCode == nullptr || m_strOutPath.empty()) return;
  // The folder is made now that the output is asked for, never by opening
  // the dialog.
  if (const std::string problem = host::OutputFolderProblem(m_strOutPath); !problem.empty()) {
    ShowMessage(Text(problem));
    return;
  }
  {
    const JobScope job(*this);
    last_outcome_ =
        OutputTownSecondLevel({m_aiZd, m_pCode, m_strOutPath, m_bPaged, false, m_strTemplatePath});
  }
  ShowMessage(Text(last_outcome_.message));
}

void COutCZEJZDDlg::done(int result) {
  qt::ModalDialog::done(result);
  OnDestroy();
}

void COutCZEJZDDlg::OnDestroy() {
  ReleaseCodes();
  ReleaseLotLayer();
  ShowOutputState();
}

void COutCZEJZDDlg::ReleaseLotLayer() {
  if (m_aiZd > 0) gis::CloseLayer(m_aiZd);
  m_aiZd = 0;
}

void COutCZEJZDDlg::ReleaseCodes() {
  if (m_pCode != nullptr) gis::DeleteRuralCode(m_pCode);
  m_pCode = nullptr;
}

bool COutCZEJZDDlg::ChooseLotLayer(std::string& source, std::string& layer) {
  if (choose_lots_) return choose_lots_(source, layer);
  const QString file =
      QFileDialog::getOpenFileName(this, QString::fromUtf8("选择宗地图层"), QString(),
                                   QString::fromUtf8("图层 (*.gpkg *.shp);;所有文件 (*)"));
  if (file.isEmpty()) return false;
  source = file.toStdString();
  std::vector<std::string> names;
  try {
    names = gis::SourceLayerNames(source);
  } catch (const gis::GisError& error) {
    ShowMessage(Text(error.what()));
    return false;
  }
  if (names.size() <= 1) return true;  // the source's own layer
  QStringList items;
  for (const std::string& name : names) items << Text(name);
  // The town-lot run's lot layer first offered, as it looks for it.
  int current = 0;
  for (const char* wanted : {kTownLotLayerNames[1], kTownLotLayerNames[0]}) {
    const auto found = std::find(names.begin(), names.end(), wanted);
    if (found != names.end()) current = static_cast<int>(found - names.begin());
  }
  bool chosen = false;
  const QString name =
      QInputDialog::getItem(this, QString::fromUtf8("选择宗地图层"), QString::fromUtf8("图层:"),
                            items, current, false, &chosen);
  layer = name.toStdString();
  return chosen;
}

bool COutCZEJZDDlg::ChooseDictionary(std::string& path) {
  if (choose_dictionary_) return choose_dictionary_(path);
  const QString file =
      QFileDialog::getOpenFileName(this, QString::fromUtf8("选择数据字典"), QString(),
                                   QString::fromUtf8("代码文件 (*.tsv *.txt);;所有文件 (*)"));
  path = file.toStdString();
  return !file.isEmpty();
}

bool COutCZEJZDDlg::ChooseFolder(std::string& path) {
  if (choose_folder_) return choose_folder_(path);
  const QString folder = QFileDialog::getExistingDirectory(
      this, QString::fromUtf8("选择新建汇总数据路径"), Text(m_strOutPath));
  path = folder.toStdString();
  return !folder.isEmpty();
}

short OutCZEJZDDlg(const gis::CGisXmlPrj* project, const std::string& folder) {
  COutCZEJZDDlg dialog;
  if (project != nullptr) dialog.StartFrom(*project, folder);
  dialog.DoModal();
  return 1;
}

}  // namespace landstat
