#include "platform/sheet/sheet_rows.h"

#include <utility>

namespace landstat::sheet {

RecordsetRows::RecordsetRows(db::Recordset& recordset) : recordset_(recordset) {
  for (int i = 0; i < recordset_.FieldCount(); ++i) names_.push_back(recordset_.FieldName(i));
}

bool RecordsetRows::Next(std::vector<db::Value>& row) {
  // The first row is the one the recordset stands on; each later call moves on.
  if (started_ && !recordset_.IsEOF()) recordset_.MoveNext();
  started_ = true;
  if (recordset_.IsEOF()) return false;
  row.resize(names_.size());
  for (int i = 0; i < static_cast<int>(names_.size()); ++i) row[i] = recordset_.Field(i);
  return true;
}

ScanRows::ScanRows(std::unique_ptr<db::RowSource> source) : source_(std::move(source)) {
  for (const auto& column : source_->Columns()) names_.push_back(column.name);
}

bool ScanRows::Next(std::vector<db::Value>& row) {
  return source_->Fetch(row);
}

AttributeTableRows::AttributeTableRows(gis::LayerHandle table)
    : table_(table),
      fields_(gis::LayerFields(table)),
      count_(gis::RecordCount(table, gis::EntityKind::kTable)) {
  for (const auto& field : fields_) names_.push_back(field.name);
}

bool AttributeTableRows::Next(std::vector<db::Value>& row) {
  gis::Record record;
  // Deleted records leave gaps in the numbering; they are passed over.
  for (; next_ < count_; ++next_) {
    if (!gis::ReadRecord(table_, gis::EntityKind::kTable, next_, record)) continue;
    ++next_;
    row.resize(fields_.size());
    for (std::size_t i = 0; i < fields_.size(); ++i) {
      const int index = static_cast<int>(i);
      switch (fields_[i].type) {
        case gis::FieldType::kInteger:
          row[i] = static_cast<long long>(record.Number(index));
          break;
        case gis::FieldType::kDouble:
          row[i] = record.Number(index);
          break;
        case gis::FieldType::kText:
          row[i] = record.Text(index);
          break;
      }
    }
    return true;
  }
  return false;
}

}  // namespace landstat::sheet
