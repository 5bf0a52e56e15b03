#pragma once

#include <QTreeWidget>
#include <string>
#include <vector>

#include "platform/gis/project.h"

namespace landstat {

// What a double click on a tree item does, decided by the text of the
// item's parent.
enum class TreeAction {
  kNothing,
  kOpenLayer,             // the item names a layer whose records fill the grid
  kAreaStat,              // the item is a title of the area statistics catalogue
  kAreaStatWithoutLayer,  // the same, after the grid's layer is let go
  kHouseModel,            // the external 3D house-model program starts
};
// Mode 1 is browse mode; every other mode is range mode.
TreeAction DecideTreeAction(int mode, const std::string& parent_text);

// The project tree of the layer browser: the project with its layers, the
// node "面积统计" with the catalogue's titles, and "三维模型" / "房屋模型"
// when the project has the layer "房屋层". A double click is decided by
// DecideTreeAction and carried out by the browser, through Actions.
class CGisAttDocTree : public QTreeWidget {
 public:
  // What the tree asks of the browser.
  class Actions {
   public:
    virtual ~Actions() = default;
    virtual void StopFlash() = 0;
    virtual void OpenLayer(const std::string& name) = 0;
    virtual void LetLayerGo() = 0;
    virtual void RunAreaStat(const std::string& database, const std::string& title) = 0;
    virtual void StartHouseModel() = 0;
  };

  explicit CGisAttDocTree(QWidget* parent = nullptr);

  std::string m_strCatalogPath;  // the area statistics catalogue
  int m_nMode = 0;

  // Builds the tree: the project's node when `project` is not null, then
  // "面积统计" when titles are given, then the 3D model node; all expanded.
  void BuildTree(const gis::CGisXmlPrj* project, const std::vector<std::string>* titles);
  void SetActions(Actions* actions) { actions_ = actions; }

  // A double click on `item`.
  void OnDoubleClick(QTreeWidgetItem* item);
  // The item of that text (the first in tree order); null when none.
  QTreeWidgetItem* FindItem(const std::string& text) const;

 private:
  Actions* actions_ = nullptr;
};

}  // namespace landstat
