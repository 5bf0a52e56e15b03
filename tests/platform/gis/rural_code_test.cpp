#include "platform/gis/rural_code.h"

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "platform/gis/gis_error.h"
#include "platform/gis/gis_fixtures.h"
#include "support/test_databases.h"

namespace landstat::gis {
namespace {
using ::landstat::testing::GisErrorOf;
using ::landstat::testing::Names;
using ::landstat::testing::TempDir;

struct CodesDeleter {
  void operator()(RuralCode* codes) const { DeleteRuralCode(codes); }
};
using Codes = std::unique_ptr<RuralCode, CodesDeleter>;

// As saved by a Windows editor: a BOM, CRLF line ends, comments and blank
// lines. The land class 11 and the province 11 share a code.
const char kCodeFile[] =
    "\xEF\xBB\xBF地类代码\t01\t耕地\r\n"
    "地类代码\t011\t水田\r\n"
    "地类代码\t11\t水域及水利设施用地\r\n"
    "# 行政区划\r\n"
    "\r\n"
    "省行政代码\t11\t示例省\r\n"
    "市行政代码\t1101\t示例市\r\n"
    "县行政代码\t110101\t示例县\r\n"
    "乡行政代码\t110101001\t城关镇\r\n"
    "村行政代码\t110101001001\t东湖村\r\n"
    "村行政代码\t110101001002\t西山村\r\n"
    "组行政代码\t1101010010010010000\t一组\r\n"
    "\r\n"
    "房屋结构\t1\t钢结构\r\n";

class RuralCodeTest : public ::testing::Test {
 protected:
  std::string Write(const std::string& name, const std::string& text) {
    const std::string path = dir_.File(name);
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }

  Codes Load() { return Codes(RuralCode::Load(Write("codes.tsv", kCodeFile))); }

  TempDir dir_;
};

TEST_F(RuralCodeTest, LoadsEveryEntryInFileOrder) {
  Codes codes = Load();
  EXPECT_EQ(codes->Path(), dir_.File("codes.tsv"));
  EXPECT_EQ(codes->GetLibNum(), 11);
  std::vector<CODESTRUCT> all;
  ASSERT_EQ(codes->GetCode(nullptr, &all, 0, ""), 11);
  ASSERT_EQ(all.size(), 11u);
  EXPECT_EQ(all[0].type, "地类代码");  // no BOM left on it
  EXPECT_EQ(all[0].code, "01");
  EXPECT_EQ(all[0].name, "耕地");
  EXPECT_EQ(all[3].type, "省行政代码");
  EXPECT_EQ(all[10].name, "钢结构");  // no carriage return left on it
  EXPECT_EQ(codes->GetCode(nullptr, nullptr, 0, nullptr), 11);
}

TEST_F(RuralCodeTest, SelectsEntriesByCondition) {
  Codes codes = Load();
  std::vector<CODESTRUCT> found = {{"stale", "stale", "stale"}};
  ASSERT_EQ(codes->GetCode(nullptr, &found, 0, "代码类型 = '村行政代码'"), 2);
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[0].code, "110101001001");
  EXPECT_EQ(found[0].name, "东湖村");
  EXPECT_EQ(found[1].code, "110101001002");
  EXPECT_EQ(found[1].type, "村行政代码");

  EXPECT_EQ(codes->GetCode("11", &found, 0, "代码类型 = '地类代码'"), 1);
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].name, "水域及水利设施用地");
  EXPECT_EQ(codes->GetCode("11", nullptr, 0, ""), 2);
  EXPECT_EQ(codes->GetCode(nullptr, &found, 0, "代码类型 = '权属性质'"), 0);
  EXPECT_TRUE(found.empty());
}

// The code library's expression syntax selects what the SQL form selects.
TEST_F(RuralCodeTest, BothConditionFormsSelectAlike) {
  Codes codes = Load();
  const std::pair<const char*, long> cases[] = {
      {"代码类型 = '组行政代码'", 1},
      {"代码类型 == \"组行政代码\"", 1},
      {"\"代码类型\" == \"村行政代码\"", 2},
      {"代码名称 == \"王'家\"", 0},
      {"代码名称 = '=='", 0},
  };
  for (const auto& [condition, count] : cases) {
    EXPECT_EQ(codes->GetCode(nullptr, nullptr, 0, condition), count) << condition;
  }
}

TEST_F(RuralCodeTest, NamesAdministrativeCodes) {
  Codes codes = Load();
  std::string value = "unchanged";
  EXPECT_GT(codes->GetCode("行政代码", "110101001002", "代码名称", value), 0);
  EXPECT_EQ(value, "西山村");
  EXPECT_GT(codes->GetCode("行政代码", "11", "代码名称", value), 0);
  EXPECT_EQ(value, "示例省");  // not the land class of that code
  EXPECT_GT(codes->GetCode("行政代码", "1101010010010010000", "代码类型", value), 0);
  EXPECT_EQ(value, "组行政代码");
  EXPECT_GT(codes->GetCode("地类代码", "11", "代码名称", value), 0);
  EXPECT_EQ(value, "水域及水利设施用地");
  value = "unchanged";
  EXPECT_EQ(codes->GetCode("行政代码", "011", "代码名称", value), 0);
  EXPECT_EQ(codes->GetCode("行政代码", "110101001003", "代码名称", value), 0);
  EXPECT_EQ(value, "unchanged");
}

TEST_F(RuralCodeTest, GivesTheAdministrativeLevelOfACode) {
  Codes codes = Load();
  const char* const by_level[] = {"11",        "1101",         "110101",
                                  "110101001", "110101001001", "1101010010010010000"};
  for (short expected = 1; expected <= 6; ++expected) {
    short level = 0;
    EXPECT_GT(codes->GetAdmiCodeLevel(by_level[expected - 1], level), 0) << by_level[expected - 1];
    EXPECT_EQ(level, expected) << by_level[expected - 1];
  }
  for (const char* unknown : {"011", "01", "1", "999", ""}) {
    short level = 0;
    EXPECT_EQ(codes->GetAdmiCodeLevel(unknown, level), 0) << unknown;
  }
}

TEST_F(RuralCodeTest, TableIsWalkedLikeALayer) {
  Codes codes = Load();
  const LayerHandle table = codes->m_ai;
  ASSERT_TRUE(IsLayerValid(table));
  EXPECT_EQ(LayerKind(table), EntityKind::kTable);
  ASSERT_EQ(RecordCount(table, EntityKind::kTable), 12);
  std::vector<CODESTRUCT> all;
  codes->GetCode(nullptr, &all, 0, "");
  for (long i = 1; i < RecordCount(table, EntityKind::kTable); ++i) {
    Record record;
    ASSERT_TRUE(ReadRecord(table, EntityKind::kTable, i, record)) << i;
    EXPECT_EQ(record.Text("代码类型"), all[i - 1].type);
    EXPECT_EQ(record.Text("代码"), all[i - 1].code);
    EXPECT_EQ(record.Text("代码名称"), all[i - 1].name);
  }
  codes.reset();
  EXPECT_FALSE(IsLayerValid(table));
}

TEST_F(RuralCodeTest, MalformedLinesAreNamed) {
  const std::string path =
      Write("bad.tsv", "# codes\n地类代码\t011\t水田\n\n地类代码 012 水浇地\n");
  const std::string message = GisErrorOf([&] { RuralCode::Load(path); });
  EXPECT_TRUE(Names(message, path));
  EXPECT_TRUE(Names(message, "line 4"));

  for (const char* line :
       {"地类代码\t011\n", "\t011\t水田\n", "地类代码\t\t水田\n", "地类代码\t011\t水田\textra\n"}) {
    const std::string other = Write("other.tsv", line);
    EXPECT_TRUE(Names(GisErrorOf([&] { RuralCode::Load(other); }), "line 1")) << line;
    EXPECT_EQ(CreateRuralCode(other), nullptr);
  }
}

// Codes that would break the tables built from them are refused on load,
// naming the file, the line and the code.
TEST_F(RuralCodeTest, UnsoundCodesAreRefusedByLine) {
  struct Case {
    const char* text;
    std::vector<std::string> named;
  };
  const Case cases[] = {
      {"地类代码\t011\t水田\n地类代码\t012\t水浇地\n地类代码\t011\t旱地\n",
       {"line 3", "011", "line 1"}},
      {"地类代码\t011\t水田\n村行政代码\t110101001001\t东湖村\n"
       "村行政代码\t110101001001\t东湖村\n",
       {"line 3", "110101001001"}},
      {"地类代码\t01'1\t水田\n", {"line 1", "01'1"}},
      {"地类代码\t011\t水田\n乡行政代码\t11010100A\t城关镇\n", {"line 2", "11010100A"}},
      {"村行政代码\t110101001001\t东湖村\n", {"地类代码"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const std::string path = Write("codes.tsv", c.text);
    const std::string message = GisErrorOf([&] { RuralCode::Load(path); });
    EXPECT_TRUE(Names(message, path));
    for (const std::string& part : c.named) EXPECT_TRUE(Names(message, part));
  }
}

TEST_F(RuralCodeTest, GbkFileIsConverted) {
  // 地类代码 011 水田, 村行政代码 110101001001 东湖村 as an older program wrote them.
  Codes codes(RuralCode::Load(Write(
      "gbk.tsv",
      "\xB5\xD8\xC0\xE0\xB4\xFA\xC2\xEB\t011\t\xCB\xAE\xCC\xEF\r\n"
      "\xB4\xE5\xD0\xD0\xD5\xFE\xB4\xFA\xC2\xEB\t110101001001\t\xB6\xAB\xBA\xFE\xB4\xE5\r\n")));
  std::string name;
  EXPECT_EQ(codes->GetCode("地类代码", "011", "代码名称", name), 1);
  EXPECT_EQ(name, "水田");
  EXPECT_EQ(codes->GetCode("行政代码", "110101001001", "代码名称", name), 1);
  EXPECT_EQ(name, "东湖村");
}

TEST_F(RuralCodeTest, MissingFileGivesNoCodes) {
  const std::string missing = dir_.File("missing.tsv");
  EXPECT_EQ(CreateRuralCode(missing), nullptr);
  EXPECT_TRUE(Names(GisErrorOf([&] { RuralCode::Load(missing); }), missing));
  EXPECT_TRUE(Names(GisErrorOf([&] { RuralCode::Load(dir_.path().string()); }), "cannot read"));
  Codes codes(CreateRuralCode(Write("codes.tsv", kCodeFile)));
  ASSERT_NE(codes, nullptr);
  EXPECT_EQ(codes->GetLibNum(), 11);
}

}  // namespace
}  // namespace landstat::gis
