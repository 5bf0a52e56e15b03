#include "engine/stat_config.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "engine/survey_fixture.h"
#include "engine/text_helpers.h"
#include "platform/host/ini_file.h"
#include "platform/host/paths.h"
#include "support/program_dir.h"

namespace landstat {
namespace {

using testing::WriteStatConfig;

using testing::kGbkSquareMetre;
using testing::ScopedProgramDir;
using testing::WriteFileBytes;

void WriteDataSource(const std::string& text) {
  WriteFileBytes(host::DataSourceIniPath(), text);
}

struct Units {
  std::string unit1, unit2, unit3;
  bool operator==(const Units&) const = default;
};

void PrintTo(const Units& units, std::ostream* out) {
  *out << "(" << units.unit1 << ", " << units.unit2 << ", " << units.unit3 << ")";
}

Units ReadUnits() {
  Units units{"stale", "stale", "stale"};
  GetUnit(units.unit1, units.unit2, units.unit3);
  return units;
}

TEST(AreaUnits, DefaultsWithoutAFile) {
  ScopedProgramDir home;
  EXPECT_EQ(ReadUnits(), (Units{"平方米", "", ""}));
  WriteStatConfig("[TYPE]\nType=1\n");
  EXPECT_EQ(ReadUnits(), (Units{"平方米", "", ""}));
}

TEST(AreaUnits, RepeatedUnitsAreDropped) {
  ScopedProgramDir home;
  WriteStatConfig("[AreaUnit]\nUnit1=亩\nUnit2=亩\nUnit3=公顷\n");
  EXPECT_EQ(ReadUnits(), (Units{"亩", "", "公顷"}));
  WriteStatConfig("[AreaUnit]\nUnit1=公顷\nUnit2=亩\nUnit3=公顷\n");
  EXPECT_EQ(ReadUnits(), (Units{"公顷", "亩", ""}));
  WriteStatConfig("[AreaUnit]\nUnit1=平方米\nUnit2=亩\nUnit3=亩\n");
  EXPECT_EQ(ReadUnits(), (Units{"平方米", "亩", ""}));
  WriteStatConfig("[AreaUnit]\nUnit1=平方米\nUnit2=平方米\nUnit3=平方米\n");
  EXPECT_EQ(ReadUnits(), (Units{"平方米", "", ""}));
  WriteStatConfig("[AreaUnit]\nUnit1=平方米\nUnit2=公顷\nUnit3=亩\n");
  EXPECT_EQ(ReadUnits(), (Units{"平方米", "公顷", "亩"}));
}

TEST(AreaUnits, GbkFileOfAnOlderProgram) {
  ScopedProgramDir home;
  // Unit1=平方米, Unit2=公顷 in GBK.
  WriteStatConfig("[AreaUnit]\r\nUnit1=" + kGbkSquareMetre + "\r\nUnit2=\xB9\xAB\xC7\xEA\r\n");
  EXPECT_EQ(ReadUnits(), (Units{"平方米", "公顷", ""}));
}

TEST(AreaUnits, SetThenGetKeepsTheOtherSettings) {
  ScopedProgramDir home;
  WriteStatConfig("[PointLen]\nLen1=3\n[HD]\nMSSM=1\n");
  ASSERT_TRUE(SetUnit("公顷", "亩", "平方米"));
  EXPECT_EQ(ReadUnits(), (Units{"公顷", "亩", "平方米"}));
  int len1 = 0, len2 = 0, len3 = 0;
  GetPointLen(len1, len2, len3);
  EXPECT_EQ(len1, 3);
  EXPECT_TRUE(IsExistHDMSSM());
}

TEST(AreaUnits, SetCreatesTheConfigurationFolder) {
  ScopedProgramDir home;
  ASSERT_FALSE(std::filesystem::exists(host::ConfigDir()));
  ASSERT_TRUE(SetUnit("亩", "", ""));
  EXPECT_TRUE(std::filesystem::exists(host::StatConfigPath()));
  EXPECT_EQ(ReadUnits(), (Units{"亩", "", ""}));
}

TEST(Decimals, DefaultsAndBadValues) {
  ScopedProgramDir home;
  int len1 = -7, len2 = -7, len3 = -7;
  GetPointLen(len1, len2, len3);
  EXPECT_EQ(len1, 2);
  EXPECT_EQ(len2, 2);
  EXPECT_EQ(len3, 2);

  for (const char* bad : {"x", "-1", "99", "", "2.5", "1x", "100", "11"}) {
    WriteStatConfig(std::string("[PointLen]\nLen1=") + bad + "\nLen2=" + bad + "\nLen3=4\n");
    len1 = len2 = len3 = -7;
    GetPointLen(len1, len2, len3);
    EXPECT_EQ(len1, 2) << bad;
    EXPECT_EQ(len2, 2) << bad;
    EXPECT_EQ(len3, 4) << bad;
  }
  WriteStatConfig("[PointLen]\nLen1=0\nLen2=10\nLen3=03\n");
  GetPointLen(len1, len2, len3);
  EXPECT_EQ(len1, 0);
  EXPECT_EQ(len2, 10);
  EXPECT_EQ(len3, 3);
}

TEST(Decimals, SetThenGet) {
  ScopedProgramDir home;
  ASSERT_TRUE(SetPointLen(0, 4, 6));
  int len1 = -1, len2 = -1, len3 = -1;
  GetPointLen(len1, len2, len3);
  EXPECT_EQ(len1, 0);
  EXPECT_EQ(len2, 4);
  EXPECT_EQ(len3, 6);
}

TEST(StatScope, DefaultAndValues) {
  ScopedProgramDir home;
  int type = -1;
  GetStatType(type);
  EXPECT_EQ(type, 2);
  const std::pair<const char*, int> cases[] = {{"0", 0}, {"1", 1}, {"2", 2},
                                               {"3", 2}, {"x", 2}, {"", 2}};
  for (const auto& [text, expected] : cases) {
    WriteStatConfig(std::string("[TYPE]\nType=") + text + "\n");
    type = -1;
    GetStatType(type);
    EXPECT_EQ(type, expected) << text;
  }
  ASSERT_TRUE(SetStatType(1));
  GetStatType(type);
  EXPECT_EQ(type, 1);
}

// Each setting replaced by a default gives one warning naming the file, the
// section and key and the value found; sound settings give none.
TEST(StatConfigWarningsTest, NameFileSectionAndKey) {
  ScopedProgramDir home;
  std::vector<std::string> warnings = StatConfigWarnings();
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_NE(warnings[0].find(host::StatConfigPath() + " is missing"), std::string::npos);

  WriteStatConfig(
      "[AreaUnit]\nUnit1=平方米\nUnit2=公顷\nUnit3=\n[PointLen]\nLen1=0\nLen2=10\n"
      "[TYPE]\nType=1\n");
  EXPECT_EQ(StatConfigWarnings(), std::vector<std::string>());

  const std::pair<const char*, const char*> cases[] = {
      {"[PointLen]\nLen2=-1\n", "[PointLen] Len2=-1"},
      {"[PointLen]\nLen1=20\n", "[PointLen] Len1=20"},
      {"[PointLen]\nLen3=x\n", "[PointLen] Len3=x"},
      {"[TYPE]\nType=7\n", "[TYPE] Type=7"},
      {"stray line\n[TYPE]\nType=1\n", "line 1 is not a setting"},
  };
  for (const auto& [text, named] : cases) {
    WriteStatConfig(text);
    warnings = StatConfigWarnings();
    ASSERT_EQ(warnings.size(), 1u) << text;
    EXPECT_NE(warnings[0].find(host::StatConfigPath()), std::string::npos) << warnings[0];
    EXPECT_NE(warnings[0].find(named), std::string::npos) << warnings[0];
  }
  // A file that was not read whole is not written over.
  EXPECT_FALSE(SetStatType(0));
  EXPECT_EQ(testing::ReadFileBytes(host::StatConfigPath()), "stray line\n[TYPE]\nType=1\n");
}

// Area units a job refuses: a key that names no unit (naming file, key and
// value), a unit repeated (naming both keys). Missing keys, a missing file
// and empty target units are no errors.
TEST(StatConfigErrorsTest, NameFileKeyAndValue) {
  ScopedProgramDir home;
  EXPECT_EQ(StatConfigErrors(), std::vector<std::string>());
  EXPECT_FALSE(StatConfigRead());
  const std::pair<const char*, std::vector<std::string>> cases[] = {
      {"[AreaUnit]\nUnit1=平方米\nUnit2=公顷\nUnit3=\n", {}},
      {"[TYPE]\nType=1\n", {}},
      {"[AreaUnit]\nUnit1=平方米\nUnit3=foo\n",
       {"[AreaUnit] Unit3=foo: no area unit (平方米, 公顷 or 亩)"}},
      {"[AreaUnit]\nUnit1=hectare\n",
       {"[AreaUnit] Unit1=hectare: no area unit (平方米, 公顷 or 亩)"}},
      {"[AreaUnit]\nUnit1=\n", {"[AreaUnit] Unit1=: no area unit (平方米, 公顷 or 亩)"}},
      {"[AreaUnit]\nUnit1=亩\nUnit2=亩\nUnit3=亩\n",
       {"[AreaUnit] Unit2=亩 repeats Unit1=亩", "[AreaUnit] Unit3=亩 repeats Unit1=亩",
        "[AreaUnit] Unit3=亩 repeats Unit2=亩"}},
      {"[AreaUnit]\nUnit2=平方米\nUnit3=平方米\n",
       {"[AreaUnit] Unit3=平方米 repeats Unit2=平方米"}},
  };
  for (const auto& [text, named] : cases) {
    WriteStatConfig(text);
    EXPECT_TRUE(StatConfigRead());
    const std::vector<std::string> errors = StatConfigErrors();
    ASSERT_EQ(errors.size(), named.size()) << text << ::testing::PrintToString(errors);
    for (std::size_t i = 0; i < named.size(); ++i) {
      EXPECT_EQ(errors[i], host::StatConfigPath() + " " + named[i]) << text;
    }
  }
}

TEST(StatSwitches, DescriptionAndExtensionColumns) {
  ScopedProgramDir home;
  EXPECT_FALSE(IsExistHDMSSM());
  EXPECT_FALSE(IsExistKZDLBM());
  WriteStatConfig("[HD]\nMSSM=1\n[KZ]\nDLBM=0\n");
  EXPECT_TRUE(IsExistHDMSSM());
  EXPECT_FALSE(IsExistKZDLBM());
  WriteStatConfig("[HD]\nMSSM=0\n[KZ]\nDLBM=1\n");
  EXPECT_FALSE(IsExistHDMSSM());
  EXPECT_TRUE(IsExistKZDLBM());
}

TEST(CountyConnection, StandAloneFile) {
  ScopedProgramDir home;
  const std::string expected =
      "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=/data/stats/2009330102.sqlite";
  EXPECT_TRUE(IsStandAloneMode());
  EXPECT_EQ(GetCnnstr("/data/stats", "2009", "330102"), expected);
  EXPECT_EQ(GetCnnstr("/data/stats/", "2009", "330102"), expected);
  WriteDataSource("[数据源]\n模式=单机\n名称=host=127.0.0.1 dbname=x\n");
  EXPECT_TRUE(IsStandAloneMode());
  EXPECT_EQ(GetCnnstr("/data/stats", "2009", "330102"), expected);
}

TEST(CountyConnection, ServerSource) {
  ScopedProgramDir home;
  WriteDataSource("[数据源]\n模式=网络\n名称=host=127.0.0.1 dbname=x\n");
  EXPECT_FALSE(IsStandAloneMode());
  EXPECT_EQ(GetCnnstr("/data/stats", "2009", "330102"), "host=127.0.0.1 dbname=x");
  WriteDataSource("[数据源]\n模式=网络\n名称=landstat\n");
  EXPECT_EQ(GetCnnstr("/data/stats", "2009", "330102"), "service=landstat");
  // 模式=网络 as an older program wrote it, in GBK.
  WriteDataSource(
      "[\xCA\xFD\xBE\xDD\xD4\xB4]\r\n\xC4\xA3\xCA\xBD=\xCD\xF8\xC2\xE7\r\n"
      "\xC3\xFB\xB3\xC6=landstat\r\n");
  EXPECT_FALSE(IsStandAloneMode());
  EXPECT_EQ(GetCnnstr("/data/stats", "2009", "330102"), "service=landstat");
}

TEST(YearText, FourDigitsOnly) {
  EXPECT_EQ(IsYear("2009"), 1);
  EXPECT_EQ(IsYear("0000"), 1);
  for (const char* text : {"209", "20a9", "20091", "", " 2009", "2009 ", "-200", "２００９"}) {
    EXPECT_EQ(IsYear(text), 0) << text;
  }
}

}  // namespace
}  // namespace landstat
