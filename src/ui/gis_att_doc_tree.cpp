#include "ui/gis_att_doc_tree.h"

#include <filesystem>

#include "engine/text_helpers.h"
#include "platform/host/trace.h"

namespace landstat {
namespace {

constexpr char kAreaStatNode[] = "面积统计";
constexpr char kModelNode[] = "三维模型";
constexpr char kHouseModel[] = "房屋模型";
constexpr char kHouseLayer[] = "房屋层";
constexpr char kImportedRange[] = "导入范围";

bool Contains(const std::string& text, const char* word) {
  return text.find(word) != std::string::npos;
}

QTreeWidgetItem* AddItem(QTreeWidgetItem* parent, const std::string& text) {
  auto* item = new QTreeWidgetItem(parent, QStringList(QString::fromStdString(text)));
  return item;
}

std::string TextOf(const QTreeWidgetItem* item) {
  return item ? item->text(0).toStdString() : std::string();
}

}  // namespace

TreeAction DecideTreeAction(int mode, const std::string& parent_text) {
  // Browse mode: titles give their area statistics, everything else is
  // taken for a layer.
  if (mode == 1) {
    return Contains(parent_text, kAreaStatNode) ? TreeAction::kAreaStat : TreeAction::kOpenLayer;
  }
  // Range mode, tested in this order.
  const struct {
    const char* word;
    TreeAction action;
  } kRangeRows[] = {{kImportedRange, TreeAction::kOpenLayer},
                    {kAreaStatNode, TreeAction::kAreaStatWithoutLayer},
                    {kModelNode, TreeAction::kHouseModel}};
  for (const auto& row : kRangeRows) {
    if (Contains(parent_text, row.word)) return row.action;
  }
  return TreeAction::kNothing;
}

CGisAttDocTree::CGisAttDocTree(QWidget* parent) : QTreeWidget(parent) {
  setObjectName("1");
  setHeaderHidden(true);
  connect(this, &QTreeWidget::itemDoubleClicked, this,
          [this](QTreeWidgetItem* item, int) { OnDoubleClick(item); });
}

void CGisAttDocTree::BuildTree(const gis::CGisXmlPrj* project,
                               const std::vector<std::string>* titles) {
  clear();
  if (project != nullptr) {
    auto* root = new QTreeWidgetItem(
        this, QStringList(QString::fromStdString(
                  std::filesystem::path(project->GetFilePath()).filename().string())));
    for (const std::string& name : project->LayerNames()) AddItem(root, name);
  }
  if (titles != nullptr && !titles->empty()) {
    auto* node = new QTreeWidgetItem(this, QStringList(QString::fromUtf8(kAreaStatNode)));
    for (const std::string& title : *titles) AddItem(node, title);
  }
  if (project != nullptr && project->HasLayer(kHouseLayer)) {
    auto* node = new QTreeWidgetItem(this, QStringList(QString::fromUtf8(kModelNode)));
    AddItem(node, kHouseModel);
  }
  expandAll();
}

QTreeWidgetItem* CGisAttDocTree::FindItem(const std::string& text) const {
  const QList<QTreeWidgetItem*> found =
      findItems(QString::fromStdString(text), Qt::MatchExactly | Qt::MatchRecursive);
  return found.isEmpty() ? nullptr : found.front();
}

void CGisAttDocTree::OnDoubleClick(QTreeWidgetItem* item) {
  if (item == nullptr || actions_ == nullptr) return;
  actions_->StopFlash();
  const std::string text = TextOf(item);
  switch (DecideTreeAction(m_nMode, TextOf(item->parent()))) {
    case TreeAction::kOpenLayer:
      actions_->OpenLayer(text);
      return;
    case TreeAction::kAreaStatWithoutLayer:
      actions_->LetLayerGo();
      [[fallthrough]];
    case TreeAction::kAreaStat: {
      std::string database;
      if (GetXmlValueEx(m_strCatalogPath.c_str(), "tDemo", text, "database", database) > 0) {
        actions_->RunAreaStat(database, text);
      } else {
        host::yDebugStr("面积统计: 目录 " + m_strCatalogPath + " 中没有 " + text);
      }
      return;
    }
    case TreeAction::kHouseModel:
      actions_->StartHouseModel();
      return;
    case TreeAction::kNothing:
      return;
  }
}

}  // namespace landstat
