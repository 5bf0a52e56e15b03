#include "ui/merge_stat_dialog.h"

#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QVBoxLayout>

#include "platform/gis/gis_error.h"
#include "platform/gis/rural_code.h"
#include "platform/host/notifier.h"

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

QLineEdit* ShownPath(QWidget* parent, int id) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(QString::number(id));
  edit->setEnabled(false);
  return edit;
}

// A frame holding a path and its choose button.
QGroupBox* PathGroup(QWidget* parent, const char* title, QLineEdit* edit, QPushButton* button) {
  auto* group = new QGroupBox(Q(title), parent);
  auto* layout = new QHBoxLayout(group);
  layout->addWidget(edit, 1);
  layout->addWidget(button);
  return group;
}

}  // namespace

CMergeStatDlg::CMergeStatDlg(gis::RuralCode* codes, QWidget* parent)
    : qt::ModalDialog(kResourceId, parent), host_codes_(codes) {
  setWindowTitle(Q("合并汇总数据"));
  rural_edit_ = ShownPath(this, 17018);
  town_edit_ = ShownPath(this, 17019);
  dictionary_edit_ = ShownPath(this, 17021);
  output_edit_ = ShownPath(this, 17031);
  QPushButton* rural = Button(this, "选 择", 17016);
  QPushButton* town = Button(this, "选 择", 17020);
  QPushButton* dictionary = Button(this, "选 择", 17022);
  path_button_ = Button(this, "路径(&P)", 17029);
  path_button_->setEnabled(false);
  merge_button_ = Button(this, "合并(&M)", 17023);
  QPushButton* quit = Button(this, "退 出(&Q)", 2);
  const char* const captions[] = {"合并到农村", "合并到城镇", "新建"};
  const int ids[] = {17025, 17026, 17028};
  auto* options = new QGroupBox(Q("合并选项"), this);
  auto* option_layout = new QGridLayout(options);
  for (int i = 0; i < 3; ++i) {
    options_[i] = new QRadioButton(Q(captions[i]), options);
    options_[i]->setObjectName(QString::number(ids[i]));
    option_layout->addWidget(options_[i], 0, i);
  }
  options_[0]->setChecked(true);
  option_layout->addWidget(output_edit_, 1, 0, 1, 2);
  option_layout->addWidget(path_button_, 1, 2);
  auto* buttons = new QHBoxLayout();
  buttons->addStretch();
  buttons->addWidget(merge_button_);
  buttons->addWidget(quit);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(PathGroup(this, "农村汇总数据", rural_edit_, rural));
  layout->addWidget(PathGroup(this, "城镇汇总数据", town_edit_, town));
  layout->addWidget(PathGroup(this, "数据字典", dictionary_edit_, dictionary));
  layout->addWidget(options);
  layout->addLayout(buttons);
  resize(560, 360);

  connect(rural, &QPushButton::clicked, this, [this] { OnSelectRuralData(); });
  connect(town, &QPushButton::clicked, this, [this] { OnSelectTownData(); });
  connect(dictionary, &QPushButton::clicked, this, [this] { OnSelectDictionary(); });
  connect(merge_button_, &QPushButton::clicked, this, [this] { OnMerge(); });
  connect(path_button_, &QPushButton::clicked, this, [this] { OnSelectOutputPath(); });
  connect(options_[2], &QRadioButton::clicked, this, [this] { OnMergeToNew(); });
  for (int i : {0, 1}) {
    connect(options_[i], &QRadioButton::clicked, this, [this] { OnMergeInPlace(); });
  }
  connect(quit, &QPushButton::clicked, this, &QDialog::reject);
  m_chooseFile = [this](const std::string& title, const std::string& filter) {
    return QFileDialog::getOpenFileName(this, Q(title), {}, Q(filter)).toStdString();
  };
  m_chooseFolder = [this](const std::string& title) {
    return QFileDialog::getExistingDirectory(this, Q(title)).toStdString();
  };
  if (host_codes_) dictionary_ = host_codes_->Path();
  ShowMembers();
}

CMergeStatDlg::~CMergeStatDlg() = default;

void CMergeStatDlg::ShowMembers() {
  rural_edit_->setText(Q(rural_));
  town_edit_->setText(Q(town_));
  dictionary_edit_->setText(Q(dictionary_));
  output_edit_->setText(Q(output_));
}

void CMergeStatDlg::OnSelectRuralData() {
  const std::string path = m_chooseFile("农村汇总数据", "统计数据库 (*.sqlite)");
  if (!path.empty()) rural_ = path;
  ShowMembers();
}

void CMergeStatDlg::OnSelectTownData() {
  const std::string path = m_chooseFile("城镇汇总数据", "统计数据库 (*.sqlite)");
  if (!path.empty()) town_ = path;
  ShowMembers();
}

void CMergeStatDlg::OnSelectDictionary() {
  if (host_codes_ && ask_ &&
      host::AfxMessageBox("不使用当前工程的数据字典吗？", host::MB_YESNO) != host::IDYES) {
    return;
  }
  const std::string path = m_chooseFile("数据字典", "代码文件 (*.tsv *.txt);;所有文件 (*)");
  if (path.empty()) return;
  ask_ = false;
  try {
    own_codes_.reset(gis::RuralCode::Load(path));
    dictionary_ = path;
  } catch (const gis::GisError& error) {
    ShowMessage(Q(error.what()));
  }
  ShowMembers();
}

void CMergeStatDlg::OnMergeToNew() {
  path_button_->setEnabled(true);
}

void CMergeStatDlg::OnMergeInPlace() {
  path_button_->setEnabled(false);
  output_.clear();
  ShowMembers();
}

void CMergeStatDlg::OnSelectOutputPath() {
  const std::string folder = m_chooseFolder("选择新建汇总数据路径");
  if (!folder.empty()) output_ = folder;
  ShowMembers();
}

void CMergeStatDlg::OnMerge() {
  if (rural_.empty() || town_.empty()) {
    ShowMessage(Q("请选择数据！"));
    return;
  }
  if (rural_ == town_) {
    ShowMessage(Q("选择的数据相同！"));
    return;
  }
  const int option = options_[2]->isChecked() ? 2 : options_[1]->isChecked() ? 1 : 0;
  if (option == 2 && output_.empty()) {
    ShowMessage(Q("选择输出数据路径！"));
    return;
  }
  MergeRequest request;
  request.rural = rural_;
  request.town = town_;
  request.output_folder = output_;
  request.codes = own_codes_ ? own_codes_.get() : host_codes_;
  request.mode = static_cast<short>(option + 1);
  JobScope job(*this);
  m_lastResult = MergeStatistics(request);
  std::string text = m_lastResult.message;
  for (std::size_t i = 0; i < m_lastResult.report.messages.size() && i < 5; ++i) {
    text += "\n" + m_lastResult.report.messages[i];
  }
  if (m_lastResult.report.Completed()) text += "\n" + m_lastResult.target;
  ShowMessage(Q(text));
}

short MergeStatDlg(gis::RuralCode* codes) {
  CMergeStatDlg dialog(codes);
  dialog.DoModal();
  return 1;
}

}  // namespace landstat
