#pragma once

// What the intensity table CZTDLY_QDDC sums of a lot table, level by level
// (county, street, block): the building floor area and footprint of each
// code and name, and the number of lots with an area of each code. Fed row
// by row, from a scan of the table or from its rows as they are written.

#include <map>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/db/backend.h"
#include "platform/db/value_row.h"

namespace landstat {

class IntensityLevels {
 public:
  // A level's row: a code and name, with the floor area and footprint of
  // their lots.
  struct Row {
    std::string code, name;
    double building, footprint;
  };
  // A level's rows, in the order of their texts, and its lot counts by code.
  struct Level {
    std::vector<Row> rows;
    std::unordered_map<std::string, double> counts;
  };

  // The columns the levels read: each level's code and name, then the
  // floor area, the footprint and the lot's total area.
  static std::vector<std::string> Columns();
  // Levels fed rows whose columns are `columns` (names as Columns gives
  // them); DbError when one they read is missing.
  explicit IntensityLevels(const std::vector<std::string>& columns);

  // Adds a lot row. A null figure adds nothing, as it adds nothing to a
  // sum; a row without a level's code is not of that level, one without
  // its name counts there but adds no area.
  void Add(const db::RowSource& row);
  void Add(const std::vector<db::Value>& row) { Add(db::ValueRow(row)); }
  // Every level's rows and counts, county first.
  std::vector<Level> Levels() const;

 private:
  std::vector<int> places_;  // of Columns() among the rows' columns
  std::vector<std::map<std::pair<std::string, std::string>, std::pair<double, double>>> sums_;
  std::vector<std::unordered_map<std::string, double>> counts_;
};

}  // namespace landstat
