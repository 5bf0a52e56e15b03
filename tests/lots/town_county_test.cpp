// The town-lot run of a generated county after its general run, on both
// engines: the per-unit copies add up to the county, the summaries by level
// add up, and a second run gives the same tables.

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/rounding.h"
#include "landuse/generated_county_run.h"
#include "lots/town_lot_run.h"
#include "platform/gis/project.h"
#include "platform/text/ascii_text.h"
#include "support/test_databases.h"

namespace landstat {
namespace {

using testing::BothEngines;
using testing::Rows;
using Strings = std::vector<std::string>;

class TownCountyTest : public BothEngines {
 protected:
  RunReport RunTown(testing::GeneratedCountyRun& county, std::optional<bool> in_place = {}) {
    std::unique_ptr<gis::CGisXmlPrj> project = gis::CGisXmlPrj::Open(county.files.project);
    TownLotRequest request;
    request.project = project.get();
    request.codes = county.codes.get();
    request.connection = database().ConnectionString();
    request.year = "2009";
    request.county = county.options.county_code;
    request.db_mode = Mode();
    request.log_path = county.log;
    request.in_place = in_place;
    return RunTownLots(request);
  }

  // Every row of every town table, for comparing two runs.
  std::map<std::string, Strings> TownTables(db::Connection& conn) {
    std::map<std::string, Strings> tables;
    for (const std::string& table : conn.ListTables()) {
      const std::string lower = text::ToLowerAscii(table);
      if (lower.find("czzd") == std::string::npos && lower.find("cztdly") == std::string::npos &&
          lower.find("czfwxxtj") == std::string::npos) {
        continue;
      }
      Strings rows = Rows(conn, "select * from " + table);
      std::sort(rows.begin(), rows.end());
      tables[table] = rows;
    }
    return tables;
  }

  testing::ScopedProgramDir home_;
};

TEST_P(TownCountyTest, CopiesAndSummariesAddUpAndRepeat) {
  testing::WriteStatConfig(testing::kThreeUnits);
  testing::GeneratedCountyRun county(home_, 31, 600);
  ASSERT_EQ(county.Run("通用农村", database().ConnectionString(), IsServer()), 1);
  const RunReport first = RunTown(county, true);
  ASSERT_EQ(first.outcome, RunOutcome::kCompleted) << testing::ReadFileBytes(county.log);

  db::Connection conn(database().ConnectionString());
  const std::string code = county.options.county_code;
  const TableNames names(Mode(), "2009", code);
  // The naming modes give these names.
  EXPECT_EQ(names.UnitCopy(kHectare, "statdata_czzd"),
            IsServer() ? "GQ2009330102statdata_czzd" : "GQstatdata_czzd");
  const double total =
      conn.Scalar("select sum(宗地总面积) from " + names.UnitCopy(kSquareMetre, "statdata_czzd"))
          .AsDouble();
  ASSERT_GT(total, 0);
  const struct {
    short unit;
    double factor;
    int decimals;
  } kCopies[] = {{kHectare, 0.0001, 4}, {kMu, 0.0015, 2}};
  for (const auto& copy : kCopies) {
    const std::string table = names.UnitCopy(copy.unit, "statdata_czzd");
    SCOPED_TRACE(table);
    EXPECT_NEAR(conn.Scalar("select sum(宗地总面积) from " + table).AsDouble(),
                RoundToDecimals(total * copy.factor, copy.decimals), 1e-6);
    // Each lot's classes of either level (BM051, BM05) add up to its total.
    for (const std::size_t length : {5u, 4u}) {
      std::string sum = "0";
      for (const db::ColumnInfo& column : conn.Columns(table)) {
        const std::string name = text::ToLowerAscii(column.name);
        if (name.rfind("bm", 0) == 0 && name.size() == length) sum += "+" + column.name;
      }
      EXPECT_EQ(
          conn.Scalar("select count(*) from " + table + " where abs(宗地总面积-(" + sum + "))>1e-9")
              .AsInteger(),
          0)
          << length;
    }
  }
  // In every unit the streets add up to the county and the blocks to their
  // street, and the county is the copy's total.
  for (short unit : {kSquareMetre, kHectare, kMu}) {
    const double copy_total =
        conn.Scalar("select sum(宗地总面积) from " + names.UnitCopy(unit, "statdata_czzd"))
            .AsDouble();
    for (const char* base : {"CZTDLY_YJFLZD", "CZTDLY_EJFLZD", "CZTDLY_SYQZD"}) {
      const std::string table = names.Summary('Z', unit, base);
      SCOPED_TRACE(table);
      std::map<std::string, double> area, below;
      for (const std::string& row : Rows(conn, "select XZQDM, XZQZMJ from " + table)) {
        const std::size_t bar = row.find('|');
        const std::string level = row.substr(0, bar);
        area[level] = std::stod(row.substr(bar + 1));
        if (level.size() > 6) below[level.substr(0, level.size() - 3)] += area[level];
      }
      EXPECT_NEAR(area[code], copy_total, 1e-6);
      for (const auto& [parent, sum] : below) EXPECT_NEAR(area[parent], sum, 1e-6) << parent;
    }
    // The sums are stored on the decimals of their unit.
    const int decimals = unit == kHectare ? 4 : 2;
    for (const auto& [base, columns] : {std::pair{"CZTDLY_YJFLZD", "*"},
                                        {"CZTDLY_EJFLZD", "*"},
                                        {"CZTDLY_SYQZD", "*"},
                                        {"CZZDMJHZ", "ZDMJ"},
                                        {"CZTDLY_QDDC", "JCQZMJ,JZZMJ,JZZDZMJ"}}) {
      const std::string table = names.Summary('Z', unit, base);
      EXPECT_EQ(testing::CellsOffTheGrid(conn, std::string("select ") + columns + " from " + table,
                                         decimals),
                0)
          << table;
    }
    // The land-use table holds square metres in every unit.
    const std::string land_use = names.Summary('Z', unit, "CZZD_TDYT");
    EXPECT_EQ(
        testing::CellsOffTheGrid(conn, "select 宗地总面积,占地面积,建筑面积 from " + land_use, 2),
        0)
        << land_use;
  }
  // A second run gives the same tables, in a copy of the file as on the
  // file itself.
  const std::map<std::string, Strings> before = TownTables(conn);
  conn.Close();
  ASSERT_EQ(RunTown(county, false).outcome, RunOutcome::kCompleted);
  db::Connection again(database().ConnectionString());
  EXPECT_EQ(TownTables(again), before);
}

LANDSTAT_BOTH_ENGINES(TownCountyTest);

}  // namespace
}  // namespace landstat
