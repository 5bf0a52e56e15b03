#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/db/backend.h"
#include "platform/db/connection.h"
#include "platform/db/recordset.h"
#include "platform/db/value.h"
#include "platform/gis/layers.h"

namespace landstat::sheet {

// The rows a sheet is filled from: column names, then rows of typed values
// (integers and doubles become numbers in the sheet, text stays text, null
// leaves the cell empty). Column i goes into the sheet's data column i, so
// names may repeat, as the columns of a joined query do.
class SheetRows {
 public:
  virtual ~SheetRows() = default;
  virtual const std::vector<std::string>& ColumnNames() const = 0;
  // Fills `row` with the next row, one value per column; false at the end.
  virtual bool Next(std::vector<db::Value>& row) = 0;
};

// The rows of an open recordset from its current row on, as a report writer
// hands it over after opening it on its query.
class RecordsetRows : public SheetRows {
 public:
  explicit RecordsetRows(db::Recordset& recordset);
  const std::vector<std::string>& ColumnNames() const override { return names_; }
  bool Next(std::vector<db::Value>& row) override;

 private:
  db::Recordset& recordset_;
  std::vector<std::string> names_;
  bool started_ = false;
};

// The rows of a query read by Connection::Scan: the fast way through many rows.
class ScanRows : public SheetRows {
 public:
  explicit ScanRows(std::unique_ptr<db::RowSource> source);
  const std::vector<std::string>& ColumnNames() const override { return names_; }
  bool Next(std::vector<db::Value>& row) override;

 private:
  std::unique_ptr<db::RowSource> source_;
  std::vector<std::string> names_;
};

// The attribute records (kind 7) of a table or layer in record-number order; fields
// of the table's whole-number and double types become numbers.
class AttributeTableRows : public SheetRows {
 public:
  explicit AttributeTableRows(gis::LayerHandle table);
  const std::vector<std::string>& ColumnNames() const override { return names_; }
  bool Next(std::vector<db::Value>& row) override;

 private:
  gis::LayerHandle table_;
  std::vector<gis::FieldDef> fields_;
  std::vector<std::string> names_;
  long next_ = 1;
  long count_ = 0;
};

}  // namespace landstat::sheet
