#pragma once

#include <QTableView>
#include <memory>
#include <string>
#include <vector>

#include "platform/gis/layers.h"

namespace landstat {

class CGisMapView;

// The attribute grid of the layer browser: the records of one layer, one
// row each. In grid terms (as the browser and its statistics output count)
// row 0 holds the field names and column 0 the record numbers; the grid
// shows them as its headers. An empty grid is the frame of 2 rows and 3
// columns. Values are read when their rows come into sight, so a layer of
// many records fills at once.
class CGisAttGridCtrl : public QTableView {
 public:
  explicit CGisAttGridCtrl(QWidget* parent = nullptr);
  ~CGisAttGridCtrl() override;

  CGisMapView* m_pView = nullptr;  // flashes the entity of a clicked row
  gis::LayerHandle m_nLayer = 0;   // the layer shown; 0 or less is none

  // Fills the grid from the current layer: the records 1 to count that
  // read, the header from the first of them, one empty last row. A layer
  // that is not valid or has no record leaves the empty frame.
  void FillAttributeGrid();

  int GetRowCount() const;
  int GetColumnCount() const;
  std::string GetItemText(int row, int column) const;
  // The record number of a grid row; 0 for the header and the last row.
  long GetItemData(int row) const;
  // Columns 1 to the last, each with its texts from row 0 (the field name)
  // to the last row.
  std::vector<std::vector<std::string>> DataColumns() const;

  // A click on grid row `row`: flashes its entity in the map view.
  void OnRowClicked(int row);

 private:
  class Model;
  std::unique_ptr<Model> model_;
};

}  // namespace landstat
