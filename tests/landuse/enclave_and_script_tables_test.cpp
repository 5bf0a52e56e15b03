#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "engine/shared_code_tables.h"
#include "engine/stat_context.h"
#include "platform/gis/rural_code.h"
#include "support/program_dir.h"
#include "support/test_databases.h"

namespace landstat {
namespace {

using testing::BothEngines;
using testing::Numbers;
using testing::Texts;
using Strings = std::vector<std::string>;

std::unique_ptr<gis::RuralCode> Codes() {
  return std::unique_ptr<gis::RuralCode>(gis::RuralCode::FromEntries({
      {"地类代码", "01", "耕地"},
      {"地类代码", "011", "水田"},
      {"地类代码", "20", "城镇村及工矿用地"},
      {"地类代码", "05", "商服用地"},
      {"地类代码", "051", "批发零售用地"},
      {"县行政代码", "330102", "上城区"},
      {"乡行政代码", "330102001", "清波街道"},
      {"乡行政代码", "330102002", "湖滨街道"},
      {"村行政代码", "330102001001", "劳动路社区"},
      {"村行政代码", "330102001002", "定安路社区"},
      {"村行政代码", "330102002001", "东坡路社区"},
      {"组行政代码", "3301020010010010000", "一组"},
  }));
}

// One row of a unit copy: location group, owner, nature, then BM01 (all
// of it 011) and BM05 (all of it 051).
struct Piece {
  const char* location;
  const char* owner;
  const char* nature;
  double cultivated, commercial;
};

// A: owned by the neighbouring village; B: own land; C: state land;
// D: owned by a village of the other township; E: a group owning itself.
const Piece kPieces[] = {
    {"3301020010010010000", "3301020010020000000", "30", 6, 4},
    {"3301020010010010000", "3301020010010010000", "30", 5, 0},
    {"3301020010010010000", "3301020010020000000", "10", 7, 0},
    {"3301020010010010000", "3301020020010000000", "40", 3, 0},
    {"3301020010010010000", "3301020010010010000", "", 2, 0},
};

class EnclaveAndScriptTablesTest : public BothEngines {
 protected:
  void SetUpDatabase() override {
    codes_ = Codes();
    context_ = std::make_unique<CStatContext>(0, 0, 0, 0, 0, 0, 0, 0, 0, 0, codes_.get(), "2024",
                                              "330102", "", 1, version_);
    ASSERT_EQ(context_->InitUnits(database().ConnectionString(), Mode()), 1);
    ASSERT_EQ(context_->LoadCodes(), 1);
    MakeCopy("PMcopy");
  }

  void MakeCopy(const std::string& table) {
    conn().Execute("create table " + table +
                   " (县级代码 varchar(60),县名称 varchar(60),乡级代码 varchar(60),乡名称 "
                   "varchar(60),村级代码 varchar(60),村名称 varchar(60),座落单位代码 "
                   "varchar(60),座落单位名称 varchar(60),权属单位代码 varchar(60),权属单位名称 "
                   "varchar(60),权属性质 varchar(60),土地总面积 double precision,BM01 double "
                   "precision,BM011 double precision,BM20 double precision,BM05 double "
                   "precision,BM051 double precision)");
    for (const Piece& piece : kPieces) {
      const std::string loc = piece.location, own = piece.owner;
      conn().Execute(
          "insert into " + table + " values ('330102','上城区','" + loc.substr(0, 9) + "','乡','" +
          loc.substr(0, 12) + "','村','" + loc + "','一组','" + own + "','主','" + piece.nature +
          "'," + std::to_string(piece.cultivated + piece.commercial) + "," +
          std::to_string(piece.cultivated) + "," + std::to_string(piece.cultivated) + ",0," +
          std::to_string(piece.commercial) + "," + std::to_string(piece.commercial) + ")");
    }
  }

  // A plain table's name: year and county in front on a server.
  std::string Plain(const std::string& base) const {
    return IsServer() ? "D2024330102" + base : base;
  }

  std::unique_ptr<gis::RuralCode> codes_;
  std::unique_ptr<CStatContext> context_;
  std::string version_ = "福建农村";
  testing::ScopedProgramDir home_;
};

TEST_P(EnclaveAndScriptTablesTest, EnclaveRowsByUnitPairAndByLevel) {
  ASSERT_EQ(context_->CreateQsdmbTable(), 1);
  ASSERT_EQ(context_->FillQsdmbTable(), 1);
  ASSERT_EQ(context_->CreateFrdTdlyYjflTable("T1"), 1);
  ASSERT_EQ(context_->SumFrdTdly(1, "T1", "PMcopy"), 1);
  // A and D only: equal codes and state land add nothing.
  EXPECT_EQ(Texts(conn(), "select SSXZQDM from T1 order by SSXZQDM"),
            (Strings{"3301020010020000000", "3301020020010000000"}));
  // The total counts class 05, its column stays 0.
  EXPECT_EQ(Numbers(conn(), "select FRDMJ from T1 order by SSXZQDM"), (std::vector<double>{10, 3}));
  EXPECT_EQ(Numbers(conn(), "select BM01 + BM05 from T1 order by SSXZQDM"),
            (std::vector<double>{6, 3}));

  // By level: no county row (one county), D in a township row, A and D in
  // village rows, named from the ownership code table.
  ASSERT_EQ(context_->CreateFrdTdlyEjflTable("T2"), 1);
  ASSERT_EQ(context_->SumFrdTdlyByLevel(2, "T2", "PMcopy"), 1);
  EXPECT_EQ(Texts(conn(),
                  "select SZXZQDM || '>' || SSXZQDM || ' ' || SSXZQMC from T2 where "
                  "length(SSXZQDM) < 19 order by SSXZQDM"),
            (Strings{"330102001001>330102001002 定安路社区", "330102001>330102002 湖滨街道",
                     "330102001001>330102002001 东坡路社区"}));
  EXPECT_EQ(Numbers(conn(), "select count(*) from T2"), (std::vector<double>{5}));
  EXPECT_EQ(Numbers(conn(), "select BM011 from T2 where SSXZQDM = '330102001002'"),
            (std::vector<double>{6}));
}

TEST_P(EnclaveAndScriptTablesTest, EnclaveRebuildLeavesOutConstructionLandAndFailuresAreLogged) {
  MakeCopy(Plain("statdataex"));
  for (const char* column : {"BM06", "BM07", "BM08", "BM09"}) {
    conn().Execute("alter table " + Plain("statdataex") + " add column " + column +
                   " double precision default 0");
  }
  ASSERT_EQ(context_->CreateFrdTdlyYjflConvertedTable(), 1);
  ASSERT_EQ(context_->SumFrdTdlyConverted(1), 1);
  // A has area in class 05: the rebuild drops the whole row.
  EXPECT_EQ(Numbers(conn(), "select FRDMJ from " + Plain("FRDTDLY_YJFL")),
            (std::vector<double>{3}));

  // No ownership code table: the county statement fails, logged, and no
  // later level is built.
  ASSERT_EQ(context_->CreateFrdTdlyYjflTable("T3"), 1);
  const long errors = context_->m_nErrCount;
  EXPECT_EQ(context_->SumFrdTdlyByLevel(1, "T3", "PMcopy"), 0);
  EXPECT_EQ(context_->m_nErrCount, errors + 1);
  EXPECT_EQ(context_->m_strLogTitle, "县汇总飞入地");
  EXPECT_EQ(Numbers(conn(), "select count(*) from T3"), (std::vector<double>{0}));
}

TEST_P(EnclaveAndScriptTablesTest, OwnershipScriptTableSplitsStateAndCollectiveLand) {
  namespace fs = std::filesystem;
  const fs::path config = fs::path(host::ConfigDir());
  fs::create_directories(config);
  fs::copy(fs::path(LANDSTAT_SOURCE_DIR) / "src/resources/config" / (IsServer() ? "SQL" : "Access"),
           config / (IsServer() ? "SQL" : "Access"));
  EXPECT_EQ(context_->MakeNcTdlyQsSjfl("T4", "PMcopy", "NCTDLYQS", 1), 0) << "no code table yet";
  ASSERT_EQ(context_->BuildNcTdlyQsCodeTable(), 1);
  EXPECT_EQ(context_->m_strCodeTblSql, CountyRowsOf(kNcTdlyQsTable, "330102"));
  EXPECT_EQ(Numbers(conn(), "select count(*) from NCTDLYQS"), (std::vector<double>{7}));
  // Built again: the rows of its codes are replaced, another code's stays.
  conn().Execute("update NCTDLYQS set 代码名称 = '旧' where 代码 = '330102'");
  conn().Execute("insert into NCTDLYQS values ('330103', '他县', '县行政代码')");
  ASSERT_EQ(context_->BuildNcTdlyQsCodeTable(), 1);
  EXPECT_EQ(Numbers(conn(), "select count(*) from NCTDLYQS"), (std::vector<double>{8}));
  EXPECT_EQ(Texts(conn(),
                  "select 代码名称 from NCTDLYQS where 代码 in ('330102', '330103') "
                  "order by 代码"),
            (Strings{"上城区", "他县"}));

  // A partial table an earlier run left in the database goes too.
  if (!IsServer()) conn().Execute("create table tempeji (XZQDM text)");
  for (int run = 0; run < 2; ++run) {  // the second run replaces the first
    ASSERT_EQ(context_->MakeNcTdlyQsSjfl("T4", "PMcopy", "NCTDLYQS", 1), 1);
    ASSERT_EQ(context_->MakeNcTdlyQsSjfl("T5", "PMcopy", "NCTDLYQS", 0), 1);
  }
  // By location: one group holds all; a null nature counts in the total only.
  EXPECT_EQ(Numbers(conn(), "select BM011HJ from T4 where XZQDM = '3301020010010010000'"),
            (std::vector<double>{23}));
  EXPECT_EQ(Numbers(conn(), "select BM011G from T4 where XZQDM = '330102'"),
            (std::vector<double>{7}));
  EXPECT_EQ(Numbers(conn(), "select BM011J from T4 where XZQDM = '330102001'"),
            (std::vector<double>{14}));
  EXPECT_EQ(Texts(conn(), "select XZQMC from T4 where XZQDM = '330102001001'"),
            (Strings{"劳动路社区"}));
  // No columns for classes 05 to 09.
  for (const db::ColumnInfo& column : conn().Columns("T4")) {
    EXPECT_EQ(column.name.find("BM05"), std::string::npos) << column.name;
  }
  // By ownership the owners' villages get their land.
  EXPECT_EQ(Numbers(conn(), "select BM011HJ from T5 where XZQDM = '330102002001'"),
            (std::vector<double>{3}));
  EXPECT_EQ(Numbers(conn(), "select BM011J from T5 where XZQDM = '330102001002'"),
            (std::vector<double>{6}));
  EXPECT_FALSE(conn().TableExists("tempyji"));
  EXPECT_FALSE(conn().TableExists("tempeji"));
  if (!IsServer()) {
    EXPECT_EQ(Numbers(conn(), "select count(*) from sqlite_temp_master where name like 'temp_ji%'"),
              (std::vector<double>{0}));
  }
}

// A statement script is read from the configuration root, else from the
// program's built-in copy; one missing without a built-in copy, or empty,
// is one failure naming the file, and the ownership script tables are not
// begun without their scripts.
TEST_P(EnclaveAndScriptTablesTest, MissingOrEmptyStatementScriptsAreFailuresNamingTheFile) {
  namespace fs = std::filesystem;
  const fs::path folder = fs::path(host::ConfigDir()) / (IsServer() ? "SQL" : "Access");
  const struct {
    const char* name;
    int resource;
    std::optional<std::string> file;  // the file's text; none: no file
    const char* failure;              // none: the script is read
  } kCases[] = {
      {"NCQSYJFL", 0, std::nullopt, "不存在"},  {"NCQSYJFL", 0, "", "为空"},
      {"NCGDEJFL", 17064, " \n", "为空"},       {"NCGDEJFL", 17064, std::nullopt, nullptr},
      {"NCGDEJFL", 17064, "select 1", nullptr},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::string(c.name) + " " + c.file.value_or("(none)"));
    const fs::path file = folder / ("STAT_" + std::string(c.name) + ".sql");
    fs::remove_all(folder);
    fs::create_directories(folder);
    if (c.file) testing::WriteFileBytes(file.string(), *c.file);
    const long before = context_->m_nErrCount;
    const std::optional<std::string> script = context_->StatementScript(c.name, c.resource, "T");
    EXPECT_EQ(context_->m_nErrCount, before + (c.failure ? 1 : 0));
    if (c.failure) {
      EXPECT_FALSE(script);
      EXPECT_NE(context_->m_strLogMsg.find("语句脚本 " + file.string() + " " + c.failure),
                std::string::npos)
          << context_->m_strLogMsg;
    } else {
      ASSERT_TRUE(script);
      EXPECT_EQ(script->rfind("select 1", 0) == 0, c.file.has_value()) << *script;
    }
  }
  fs::remove_all(folder);
  const long before = context_->m_nErrCount;
  EXPECT_EQ(context_->CreateNcTdlyQsSjflTables(), 0);
  EXPECT_EQ(context_->m_nErrCount, before + 1);
  EXPECT_FALSE(conn().TableExists("NCTDLYQS"));
}

TEST_P(EnclaveAndScriptTablesTest, CopiesWithoutIslandsKeepListedUnmarkedVillagesOnly) {
  const std::string square_metres = IsServer() ? "PM2024330102statdata" : "PMstatdata";
  const std::string hectares = IsServer() ? "GQ2024330102statdata" : "GQstatdata";
  MakeCopy(square_metres);
  // A piece in the island village and one in a village the table lacks.
  conn().Execute("insert into " + square_metres +
                 " (村级代码,土地总面积) values ('330102001002',1),('330102002001',2)");
  ASSERT_EQ(context_->CreateXzxqTable(), 1);
  conn().Execute("insert into " + Plain("ZB_XZXQ") +
                 " values ('330102001001',''),('330102001002','01')");
  // An old copy of a unit without a base copy is gone afterwards.
  conn().Execute("create table " + hectares + "NOHD (a int)");
  EXPECT_EQ(context_->CreateStatDataNohd(), 1);
  EXPECT_EQ(Numbers(conn(), "select count(*) from " + square_metres + "NOHD"),
            (std::vector<double>{5}));
  EXPECT_EQ(Texts(conn(), "select distinct 村级代码 from " + square_metres + "NOHD"),
            (Strings{"330102001001"}));
  EXPECT_FALSE(conn().TableExists(hectares + "NOHD"));
}

LANDSTAT_BOTH_ENGINES(EnclaveAndScriptTablesTest);

}  // namespace
}  // namespace landstat
