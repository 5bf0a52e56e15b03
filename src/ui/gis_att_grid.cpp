#include "ui/gis_att_grid.h"

#include <QAbstractTableModel>
#include <QColor>
#include <QHeaderView>
#include <algorithm>

#include "platform/gis/gis_error.h"
#include "platform/host/notifier.h"
#include "platform/host/trace.h"
#include "ui/gis_map_view.h"

namespace landstat {
namespace {

// Rows read at once when a row out of the cached block comes into sight.
constexpr long kBlockRows = 256;

}  // namespace

// The records of the grid: their numbers are found when the grid fills,
// their values read by blocks when the view asks for them.
class CGisAttGridCtrl::Model : public QAbstractTableModel {
 public:
  void Reset(gis::LayerHandle layer, std::vector<std::string> fields, std::vector<long> records) {
    beginResetModel();
    filled_ = true;
    layer_ = layer;
    fields_ = std::move(fields);
    records_ = std::move(records);
    block_first_ = -1;
    block_.clear();
    endResetModel();
  }

  // Grid rows and columns: the header row and the number column included,
  // one empty last row; the empty frame is 2 by 3; nothing before the
  // first fill.
  int GridRows() const { return filled_ ? static_cast<int>(records_.size()) + 2 : 0; }
  int GridColumns() const {
    if (!filled_) return 0;
    return fields_.empty() ? 3 : static_cast<int>(fields_.size()) + 1;
  }
  long RecordOf(int row) const {
    return row >= 1 && row <= static_cast<int>(records_.size()) ? records_[row - 1] : 0;
  }
  std::string Text(int row, int column) const {
    if (column < 1 || column > static_cast<int>(fields_.size())) return {};
    if (row == 0) return fields_[column - 1];
    if (RecordOf(row) == 0) return {};
    const std::vector<std::string>& values = Values(row - 1);
    return column - 1 < static_cast<int>(values.size()) ? values[column - 1] : std::string();
  }

  int rowCount(const QModelIndex& parent) const override {
    return parent.isValid() ? 0 : std::max(GridRows() - 1, 0);
  }
  int columnCount(const QModelIndex& parent) const override {
    return parent.isValid() ? 0 : std::max(GridColumns() - 1, 0);
  }
  QVariant data(const QModelIndex& index, int role) const override {
    const int row = index.row() + 1;
    if (RecordOf(row) == 0) return {};
    if (role == Qt::DisplayRole) return QString::fromStdString(Text(row, index.column() + 1));
    if (role == Qt::BackgroundRole) return QColor(132, 190, 163);
    if (role == Qt::ForegroundRole) return QColor(255, 0, 0);
    return {};
  }
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
    if (role != Qt::DisplayRole) return {};
    if (orientation == Qt::Horizontal) return QString::fromStdString(Text(0, section + 1));
    const long record = RecordOf(section + 1);
    return record > 0 ? QVariant(static_cast<qlonglong>(record)) : QVariant(QString());
  }

 private:
  // The values of data row `index` (from 0), read with their block.
  const std::vector<std::string>& Values(long index) const {
    if (block_first_ < 0 || index < block_first_ ||
        index >= block_first_ + static_cast<long>(block_.size())) {
      ReadBlock(index - index % kBlockRows);
    }
    static const std::vector<std::string> kNone;
    const long at = index - block_first_;
    return at >= 0 && at < static_cast<long>(block_.size()) ? block_[at] : kNone;
  }

  void ReadBlock(long first) const {
    block_first_ = first;
    block_.clear();
    const long last = std::min<long>(first + kBlockRows, static_cast<long>(records_.size()));
    try {
      gis::Record record;
      for (long i = first; i < last; ++i) {
        std::vector<std::string>& values = block_.emplace_back();
        if (!gis::ReadRecord(layer_, gis::EntityKind::kTable, records_[i], record)) continue;
        for (std::size_t f = 0; f < fields_.size(); ++f) {
          values.push_back(record.Text(static_cast<int>(f)));
        }
      }
    } catch (const gis::GisError& error) {
      // The layer closed under the grid: its rows stay empty.
      host::yDebugStr(std::string("属性浏览: ") + error.what());
    }
  }

  bool filled_ = false;
  gis::LayerHandle layer_ = 0;
  std::vector<std::string> fields_;
  std::vector<long> records_;
  mutable long block_first_ = -1;
  mutable std::vector<std::vector<std::string>> block_;
};

CGisAttGridCtrl::CGisAttGridCtrl(QWidget* parent)
    : QTableView(parent), model_(std::make_unique<Model>()) {
  setObjectName("77");
  setModel(model_.get());
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
  setStyleSheet("QTableView { background-color: rgb(255, 255, 224); }");
  connect(this, &QTableView::clicked, this,
          [this](const QModelIndex& index) { OnRowClicked(index.row() + 1); });
}

CGisAttGridCtrl::~CGisAttGridCtrl() {
  setModel(nullptr);
}

void CGisAttGridCtrl::FillAttributeGrid() {
  model_->Reset(0, {}, {});
  try {
    if (!gis::IsLayerValid(m_nLayer)) return;
    const gis::EntityKind kind = gis::LayerKind(m_nLayer);
    const long count = gis::RecordCount(m_nLayer, kind);
    // Records 1 to count; one that does not read is left out.
    std::vector<long> records;
    gis::Record record;
    for (long number = 1; number <= count; ++number) {
      if (gis::ReadRecord(m_nLayer, kind, number, record)) records.push_back(number);
    }
    if (records.empty()) return;
    std::vector<std::string> fields;
    for (const gis::FieldDef& field : gis::LayerFields(m_nLayer)) fields.push_back(field.name);
    model_->Reset(m_nLayer, std::move(fields), std::move(records));
  } catch (const gis::GisError& error) {
    host::AfxMessageBox(error.what());
  }
}

int CGisAttGridCtrl::GetRowCount() const {
  return model_->GridRows();
}

int CGisAttGridCtrl::GetColumnCount() const {
  return model_->GridColumns();
}

std::string CGisAttGridCtrl::GetItemText(int row, int column) const {
  return model_->Text(row, column);
}

long CGisAttGridCtrl::GetItemData(int row) const {
  return model_->RecordOf(row);
}

std::vector<std::vector<std::string>> CGisAttGridCtrl::DataColumns() const {
  std::vector<std::vector<std::string>> columns;
  for (int column = 1; column < GetColumnCount(); ++column) {
    std::vector<std::string>& texts = columns.emplace_back();
    for (int row = 0; row < GetRowCount(); ++row) texts.push_back(GetItemText(row, column));
  }
  return columns;
}

void CGisAttGridCtrl::OnRowClicked(int row) {
  if (m_pView == nullptr || m_nLayer <= 0) return;
  m_pView->StopFlash();
  const long number = GetItemData(row);
  if (number > 0) m_pView->Flash(m_nLayer, number);
}

}  // namespace landstat
