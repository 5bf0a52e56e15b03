#pragma once

// What a balanced unit copy of a base table holds, checked against the
// figures it was converted to.

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <future>
#include <map>
#include <string>
#include <vector>

#include "engine/rounding.h"
#include "platform/db/connection.h"
#include "platform/db/recordset.h"
#include "platform/text/number_text.h"

namespace landstat::testing {

// The class columns of a field list: leaves, each parent with its leaves,
// and each extended five-character column with its six-character columns.
struct ClassLayout {
  std::vector<std::string> leaves;
  std::map<std::string, std::vector<std::string>> parents, extensions;

  explicit ClassLayout(const std::vector<std::string>& fields) {
    std::vector<std::string> classes;
    for (const std::string& field : fields) {
      if (field.rfind("BM", 0) != 0) continue;
      if (field.size() == 6) {
        extensions[field.substr(0, 5)].push_back(field);
      } else {
        classes.push_back(field);
      }
    }
    for (const std::string& column : classes) {
      bool extended = false;
      for (const std::string& other : classes) {
        extended = extended || (other != column && other.rfind(column, 0) == 0);
      }
      if (!extended) leaves.push_back(column);
    }
    for (const std::string& column : classes) {
      for (const std::string& leaf : leaves) {
        if (leaf != column && leaf.rfind(column, 0) == 0) parents[column].push_back(leaf);
      }
    }
  }

  std::vector<std::string> AreaColumns() const {
    std::vector<std::string> columns = {"土地总面积"};
    columns.insert(columns.end(), leaves.begin(), leaves.end());
    for (const auto& [parent, parts] : parents) columns.push_back(parent);
    for (const auto& [parent, parts] : extensions) {
      columns.insert(columns.end(), parts.begin(), parts.end());
    }
    return columns;
  }
};

// A small deterministic source of numbers.
class Draws {
 public:
  explicit Draws(unsigned seed) : state_(seed) {}
  long Below(long n) {
    state_ = state_ * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<long>((state_ >> 33) % static_cast<unsigned long long>(n));
  }

 private:
  unsigned long long state_;
};

struct AreaRow {
  std::string village, location;
  std::map<std::string, double> areas;
};
// Rows by their number 序号.
using AreaTable = std::map<std::string, AreaRow>;

inline AreaTable ReadAreas(db::Connection& conn, const std::string& table,
                           const ClassLayout& layout) {
  AreaTable rows;
  for (db::Recordset rs(conn, "select * from " + table); !rs.IsEOF(); rs.MoveNext()) {
    AreaRow& row = rows[rs.Text("序号")];
    row.village = rs.Text("村级代码");
    row.location = rs.Text("座落单位代码");
    for (const std::string& column : layout.AreaColumns()) row.areas[column] = rs.Number(column);
  }
  return rows;
}

// The source rows converted by `factor` and kept to `decimals`.
inline AreaTable Converted(AreaTable rows, double factor, short decimals) {
  for (auto& [number, row] : rows) {
    for (auto& [column, value] : row.areas) {
      value *= factor;
      xcKeepPoint(&value, decimals);
    }
  }
  return rows;
}

inline long long Steps(double value, int decimals) {
  return std::llround(value * std::pow(10.0, decimals));
}

inline long long SumSteps(const AreaRow& row, const std::vector<std::string>& columns,
                          int decimals) {
  long long sum = 0;
  for (const std::string& column : columns) sum += Steps(row.areas.at(column), decimals);
  return sum;
}

// The region's rows after balancing against the same rows converted:
// every figure on the grid and not below 0 (unless it was), classes adding
// up to their rows and parents, rows to the region total, and nothing moved
// further than that needs. Rows with a negative total are left to the log.
// Returns how many rows had their total and how many their classes moved.
struct Moves {
  int totals = 0, classes = 0;
};
inline Moves ExpectBalanced(const AreaTable& converted, const AreaTable& balanced,
                            const ClassLayout& layout, const std::string& region, int decimals,
                            long long region_total, long long row_moves = 3) {
  EXPECT_EQ(balanced.size(), converted.size());
  Moves moves;
  long long total = 0, moved = 0, moved_apart = 0;
  for (const auto& [number, row] : balanced) {
    SCOPED_TRACE("序号 " + number + " of " + row.location);
    if (!converted.count(number)) {
      ADD_FAILURE() << "a row that was not converted";
      continue;
    }
    const AreaRow& before = converted.at(number);
    for (const auto& [column, value] : row.areas) {
      EXPECT_EQ(value, text::RoundDecimal(value, decimals)) << column << " off the grid";
      EXPECT_TRUE(value >= 0 || before.areas.at(column) < 0) << column << " below 0";
    }
    if (row.location.rfind(region, 0) != 0 || row.areas.at("土地总面积") < 0) continue;
    const long long row_total = Steps(row.areas.at("土地总面积"), decimals);
    total += row_total;
    const long long row_move = row_total - Steps(before.areas.at("土地总面积"), decimals);
    moved += row_move;
    moved_apart += std::llabs(row_move);
    EXPECT_LE(std::llabs(row_move), row_moves);
    moves.totals += row_move != 0;

    EXPECT_EQ(SumSteps(row, layout.leaves, decimals), row_total);
    long long leaf_moves = 0;
    for (const std::string& leaf : layout.leaves) {
      leaf_moves +=
          std::llabs(Steps(row.areas.at(leaf), decimals) - Steps(before.areas.at(leaf), decimals));
    }
    moves.classes += leaf_moves != 0;
    EXPECT_LE(leaf_moves, std::llabs(row_total - SumSteps(before, layout.leaves, decimals)));
    for (const auto& [parent, parts] : layout.parents) {
      EXPECT_EQ(Steps(row.areas.at(parent), decimals), SumSteps(row, parts, decimals)) << parent;
    }
    for (const auto& [parent, parts] : layout.extensions) {
      EXPECT_EQ(Steps(row.areas.at(parent), decimals), SumSteps(row, parts, decimals)) << parent;
    }
  }
  EXPECT_EQ(total, region_total);
  // Row totals move one way only, as far as the region total needs.
  EXPECT_EQ(moved_apart, std::llabs(moved));
  return moves;
}

// Runs `body` and aborts the whole run when it has not finished within
// `seconds`: a balancing that never ends must not hang the tests.
inline void FinishesWithin(int seconds, const std::function<void()>& body) {
  std::future<void> done = std::async(std::launch::async, body);
  if (done.wait_for(std::chrono::seconds(seconds)) != std::future_status::ready) {
    std::fprintf(stderr, "%s: still running after %d s; a balancing runs without end\n",
                 ::testing::UnitTest::GetInstance()->current_test_info()->name(), seconds);
    std::abort();
  }
  done.get();
}

}  // namespace landstat::testing
