#include "units/extension_copy.h"

#include <optional>
#include <vector>

#include "engine/database_helpers.h"
#include "engine/run_record.h"
#include "engine/stat_context.h"
#include "platform/db/backend.h"
#include "platform/db/recordset.h"
#include "platform/db/sql_text.h"
#include "units/converted_copies.h"
#include "units/unit_conversion.h"

namespace landstat::units {
namespace {

// The rows whose figures are checked against the grid of the decimals.
constexpr long kSampleRows = 4096;
// The checked figures, at least, that must say which grid the copy is on.
constexpr long kTelling = 20;

// Whether the last run of the context's year and county completed with no
// failure logged: its copies are then filled and balanced.
bool RunCompletedCleanly(CStatContext& context, db::Connection& connection) {
  const std::optional<RunRecordRow> run =
      LastRunRecordOfKind(connection, context.m_strPrefix1, context.m_strPrefix2, "run");
  return run && run->Finished() && run->outcome == RunOutcomeText(RunOutcome::kCompleted) &&
         run->failures == 0;
}

bool SameColumns(const std::vector<db::ColumnInfo>& a, const std::vector<db::ColumnInfo>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i].name != b[i].name || a[i].declared != b[i].declared ||
        a[i].default_text != b[i].default_text) {
      return false;
    }
  }
  return true;
}

long RowCount(db::Connection& connection, const std::string& table) {
  return static_cast<long>(connection.Scalar("select count(*) from " + table).AsInteger());
}

// How a row of the copy is paired with its base row: by the row id on the
// embedded engine, where the copy keeps the base table's order and its
// first rows are those of the lowest ids; by 序号, which numbers the base
// table's rows and which its copies keep, on a server, where each table's
// rows are stored in an order of their own and any rows of the base table
// do (no sort of either table).
struct Pairing {
  std::string key;
  std::string first_rows;
};

Pairing PairingOf(db::Connection& connection) {
  if (connection.Kind() != db::DbKind::kEmbedded) return {"序号", ""};
  const std::string id = connection.backend().RowIdColumn();
  return {id, " order by " + id};
}

// The first rows of the base table, each beside the copy's row of its key
// (nulls where there is none), ordered by the key: the key of each, its
// 序号 of each, then each area column of each. The copy's rows are picked
// by the sample's keys before they are paired: a freshly written copy has
// no statistics yet, and a server joining it whole may sort all of it.
std::string SampleQuery(const std::string& base, const std::string& copy, const Pairing& pairing,
                        const std::vector<std::string>& areas) {
  std::string inner = pairing.key + " as landstat_key,序号";
  std::string pairs = "b.landstat_key,c.landstat_key,b.序号,c.序号";
  for (const std::string& area : areas) {
    inner += "," + area;
    pairs += ",b." + area + ",c." + area;
  }
  return "with b as (select " + inner + " from " + base + pairing.first_rows + " limit " +
         std::to_string(kSampleRows) + "), c as (select " + inner + " from " + copy + " where " +
         pairing.key + " in (select landstat_key from b)) select " + pairs +
         " from b left join c on c.landstat_key=b.landstat_key order by b.landstat_key";
}

// How the checked figures of the copy compare with the base figures
// converted to the grid: a figure tells the grids apart where its rounding
// to the decimals differs from that to one decimal more and, unless the
// decimals are 0, lies off the grid of one decimal less; on a copy of other
// decimals it cannot be the figure of these.
struct GridTally {
  long matches = 0;
  long misses = 0;
};

class GridCheck {
 public:
  GridCheck(const char* factor_text, double factor, short decimals)
      : decimals_(decimals),
        at_(factor_text, factor, decimals),
        finer_(factor_text, factor, static_cast<short>(decimals + 1)),
        coarser_(factor_text, factor, static_cast<short>(decimals > 0 ? decimals - 1 : 0)) {}

  void Add(double base, double copied, GridTally& tally) const {
    const double rounded = at_(base);
    if (rounded == finer_(base) || (decimals_ > 0 && rounded == coarser_(base))) return;
    ++(copied == rounded ? tally.matches : tally.misses);
  }

 private:
  short decimals_;
  AreaConversion at_, finer_, coarser_;
};

// Pairs the first rows of the base table with the copy's rows by the
// pairing key (a row's 序号 must match) and tallies their figures. A row
// without a key or a partner, or a key held twice, fails the check.
bool TallySample(CStatContext& context, db::Connection& connection, const std::string& copy,
                 const GridCheck& check, GridTally& tally) {
  const std::vector<std::string> areas = context.AreaColumns();
  db::Recordset pairs(connection,
                      SampleQuery(context.m_strStatTbl, copy, PairingOf(connection), areas));
  std::optional<db::Value> previous;
  for (; !pairs.IsEOF(); pairs.MoveNext()) {
    const db::Value key = pairs.Field(0);
    if (key.IsNull() || !(key == pairs.Field(1)) || !(pairs.Field(2) == pairs.Field(3)) ||
        (previous && *previous == key)) {
      return false;
    }
    previous = key;
    for (int i = 4; i + 1 < pairs.FieldCount(); i += 2) {
      check.Add(pairs.Field(i).AsDouble(), pairs.Field(i + 1).AsDouble(), tally);
    }
  }
  return true;
}

}  // namespace

std::string RunCopyForExtension(CStatContext& context, short target) {
  return RunCopyForExtension(context, context.m_pConn, target);
}

std::string RunCopyForExtension(CStatContext& context, db::Connection& connection, short target) {
  if (target == context.m_nUnitSrc) return {};
  const std::string copy = context.Names().UnitCopy(target, "statdata");
  if (!IsTblExist(connection, copy) || !RunCompletedCleanly(context, connection)) return {};
  if (!SameColumns(connection.Columns(copy), connection.Columns(context.m_strStatTbl)) ||
      RowCount(connection, copy) != RowCount(connection, context.m_strStatTbl)) {
    return {};
  }
  const GridCheck check(FactorText(context.m_nUnitSrc, target),
                        UnitFactor(context.m_nUnitSrc, target), context.m_nDecSrc);
  GridTally tally;
  if (!TallySample(context, connection, copy, check, tally)) return {};
  const bool on_grid = tally.matches >= kTelling && tally.misses * kTelling <= tally.matches;
  return on_grid ? copy : std::string();
}

void CopyExtensionRows(CStatContext& context, const std::string& extension,
                       const std::string& copy) {
  db::Connection& connection = context.m_pConn;
  if (connection.Kind() == db::DbKind::kEmbedded) {
    // SQLite copies the rows without decoding them.
    connection.Execute("insert into " + extension + " select * from " + copy);
    return;
  }
  // A server makes the new table from the copy with its parallel workers
  // (db::Connection::InsertSelect).
  std::vector<std::string> columns;
  for (const db::ColumnInfo& column : connection.Columns(copy)) columns.push_back(column.name);
  connection.InsertSelect(extension, columns,
                          "select " + db::JoinedColumns(columns) + " from " + copy);
}

}  // namespace landstat::units
