// The balancing of the unit-less town tables CZTDLY_YJFLZD, CZTDLY_EJFLZD
// and CZTDLY_SYQZD after a unit conversion: within the county row the class
// columns are stepped to its total, the block rows to the county row column
// by column, each block's total becomes the sum of its columns and every
// street row the sum of its blocks. The rows are read once, balanced in
// memory and only the changed ones written back.

#include <cmath>

#include "engine/rounding.h"
#include "lots/zd_stat_context.h"
#include "platform/db/db_error.h"
#include "platform/host/trace.h"
#include "platform/text/number_text.h"
#include "units/step_rule.h"
#include "units/summary_rows.h"

namespace landstat {
namespace {

using Columns = std::vector<std::string>;
using units::SummaryRows;

constexpr char kTotal[] = "XZQZMJ";

// What one table balances: its class columns of the first level and, for a
// table of two levels, of the second, each second-level column under the
// first-level column named by its first four characters.
struct TownBalance {
  const char* base;
  const char* title;  // of its logged lines
  Columns first, second;
};

Columns WithPrefix(const std::vector<std::string>& codes) {
  Columns columns;
  for (const std::string& code : codes) columns.push_back("BM" + code);
  return columns;
}

Columns OfLength(const Columns& columns, std::size_t length) {
  Columns picked;
  for (const std::string& column : columns) {
    if (column.size() == length) picked.push_back(column);
  }
  return picked;
}

Columns Children(const Columns& second, const std::string& first) {
  Columns children;
  for (const std::string& column : second) {
    if (column.compare(0, first.size(), first) == 0) children.push_back(column);
  }
  return children;
}

class TownBalancer {
 public:
  TownBalancer(CZdStatContext& context, const TownBalance& balance)
      : context_(context),
        balance_(balance),
        table_(context.Names().Plain(balance.base)),
        county_(context.m_strPrefix2),
        size_(units::StepFor(context.m_nDecSrc)) {
    // Values at or below one step never move; the slack keeps a stored step
    // (0.01 read back as a double) at one step.
    rule_.eligible = [step = size_.step, slack = size_.tolerance / 100](double value) {
      return value > step + slack;
    };
    rule_.whole_steps = true;
  }

  short Run() {
    Columns read = balance_.first;
    read.insert(read.end(), balance_.second.begin(), balance_.second.end());
    read.push_back(kTotal);
    try {
      SummaryRows rows(context_.m_pConn, table_, {"XZQDM"}, read, {"XZQMC"});
      if (!rows.Has(county_)) {
        context_.LogFailure(balance_.title, table_ + " 没有县级行 " + county_ + ", 未平差");
        return 0;
      }
      StepCounty(rows[county_]);
      StepBlocks(rows);
      // Each street is the sum of its blocks, whatever it held.
      for (const std::string& street : rows.Under(county_, 3)) {
        rows.SetToSum(street, rows.Under(street, 3), read, size_.decimals);
      }
      rows.Save(size_.decimals);
      return stalled_ ? 0 : 1;
    } catch (const db::DbError& error) {
      context_.LogFailure(balance_.title, table_ + " 平差失败", error);
      return 0;
    }
  }

 private:
  // The county row: its first-level columns to its total (which never
  // changes), then each first-level column's second-level columns to it.
  void StepCounty(SummaryRows::Row& county) {
    StepRow(county, kTotal, balance_.first);
    if (balance_.second.empty()) return;
    for (const std::string& first : balance_.first) {
      StepRow(county, first, Children(balance_.second, first));
    }
  }

  // The blocks to the county row, column by column (the second-level
  // columns of a table of two levels), in code order; then their sums.
  void StepBlocks(SummaryRows& rows) {
    const Columns& stepped = balance_.second.empty() ? balance_.first : balance_.second;
    const std::vector<std::string> blocks = rows.Under(county_, 6);
    const SummaryRows::Row& county = rows[county_];
    for (const std::string& column : stepped) {
      std::vector<double*> values;
      for (const std::string& block : blocks) values.push_back(&rows[block].at(column));
      Step(county_ + " " + column, values, county.at(column), false);
    }
    for (const std::string& block : blocks) SumBlock(rows[block]);
  }

  // Steps the columns of one row, each taken on the grid, to the row's
  // `parent` column taken the same way.
  void StepRow(SummaryRows::Row& row, const std::string& parent, const Columns& columns) {
    std::vector<double*> values;
    for (const std::string& column : columns) values.push_back(&row.at(column));
    Step(county_ + " " + parent, values, RoundToDecimals(row.at(parent), size_.decimals), true);
  }

  // Steps `values` until they add up to `target`, one step at a time, in
  // list order; only the values that took a step are written. A difference
  // that cannot be spread (no value can take a step, or less than a step is
  // left) stays and is traced, and the balancing then answers 0.
  void Step(const std::string& what, const std::vector<double*>& values, double target,
            bool on_grid) {
    std::vector<double> taken;
    double sum = 0;
    for (const double* value : values) {
      taken.push_back(on_grid ? RoundToDecimals(*value, size_.decimals) : *value);
      sum += taken.back();
    }
    std::vector<bool> touched;
    const units::Distribution result =
        units::Distribute(taken, target - sum, size_, rule_, &touched);
    for (std::size_t i = 0; i < values.size(); ++i) {
      if (touched[i]) *values[i] = taken[i];
    }
    if (!result.stalled) return;
    stalled_ = true;
    host::yDebugStr(table_ + " " + what + " 平差余差 " + text::DoubleToText(result.remaining) +
                    ", 结果 0");
  }

  // A block's first-level columns from its second-level columns (a table of
  // two levels), then its total from its first-level columns.
  void SumBlock(SummaryRows::Row& block) const {
    for (const std::string& first : balance_.first) {
      if (balance_.second.empty()) break;
      block[first] = SumOf(block, Children(balance_.second, first));
    }
    block[kTotal] = SumOf(block, balance_.first);
  }

  double SumOf(const SummaryRows::Row& row, const Columns& columns) const {
    return RoundToDecimals(SummaryRows::SumOf(row, columns), size_.decimals);
  }

  CZdStatContext& context_;
  const TownBalance& balance_;
  std::string table_, county_;
  units::StepSize size_;
  units::StepRule rule_;
  bool stalled_ = false;
};

}  // namespace

short CZdStatContext::BalanceYjflzd() {
  const TownBalance balance{
      "CZTDLY_YJFLZD", "平差城镇宗地一级分类", WithPrefix(m_arrClass1Codes), {}};
  return TownBalancer(*this, balance).Run();
}

short CZdStatContext::BalanceEjflzd() {
  const Columns all = WithPrefix(m_arrAllClassCodes);
  const TownBalance balance{"CZTDLY_EJFLZD", "平差城镇宗地二级分类", OfLength(all, 4),
                            OfLength(all, 5)};
  return TownBalancer(*this, balance).Run();
}

short CZdStatContext::BalanceSyqzd() {
  const TownBalance balance{
      "CZTDLY_SYQZD",
      "平差使用权类型",
      {"BM11", "BM12", "BM13", "BM14", "BM15", "BM21", "BM22", "BM23", "BM24", "BM25", "BM99"},
      {}};
  return TownBalancer(*this, balance).Run();
}

}  // namespace landstat
