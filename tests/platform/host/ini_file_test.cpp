#include "platform/host/ini_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/program_dir.h"

namespace landstat {
namespace {

namespace fs = std::filesystem;
using host::IniFile;
using testing::kGbkSquareMetre;
using testing::ReadFileBytes;
using testing::ScopedProgramDir;
using testing::ScopedTraceCapture;
using testing::TempDir;
using testing::WriteFileBytes;

bool HasLeftovers(const fs::path& folder) {
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    if (entry.path().extension() == ".tmp") return true;
  }
  return false;
}

TEST(IniFileRead, SectionsAndKeysIgnoreCase) {
  TempDir dir;
  WriteFileBytes(dir.File("a.ini"), "[AreaUnit]\nUnit1=公顷\n[pointlen]\nLEN2=4\n");
  const IniFile ini = IniFile::Load(dir.File("a.ini"));
  EXPECT_EQ(ini.Get("areaunit", "unit1"), "公顷");
  EXPECT_EQ(ini.Get("AREAUNIT", "UNIT1"), "公顷");
  EXPECT_EQ(ini.Get("PointLen", "Len2"), "4");
  EXPECT_TRUE(ini.Has("POINTLEN", "len2"));
  EXPECT_FALSE(ini.Has("PointLen", "Len1"));
  // A key belongs to its own section only.
  EXPECT_EQ(ini.Get("PointLen", "Unit1", "none"), "none");
}

TEST(IniFileRead, DefaultsForMissingFileSectionAndKey) {
  TempDir dir;
  const IniFile missing = IniFile::Load(dir.File("missing.ini"));
  EXPECT_EQ(missing.Get("AreaUnit", "Unit1", "平方米"), "平方米");
  EXPECT_EQ(missing.Get("AreaUnit", "Unit1"), "");
  EXPECT_FALSE(fs::exists(dir.File("missing.ini")));

  WriteFileBytes(dir.File("a.ini"), "[AreaUnit]\nUnit1=亩\nUnit2=\n");
  const IniFile ini = IniFile::Load(dir.File("a.ini"));
  EXPECT_EQ(ini.Get("TYPE", "Type", "2"), "2");
  EXPECT_EQ(ini.Get("AreaUnit", "Unit3", "x"), "x");
  // A key that is there with an empty value is empty, not the default.
  EXPECT_EQ(ini.Get("AreaUnit", "Unit2", "x"), "");
  EXPECT_TRUE(ini.Has("AreaUnit", "Unit2"));
}

TEST(IniFileRead, ValuesCommentsAndWhitespace) {
  TempDir dir;
  WriteFileBytes(dir.File("a.ini"),
                 "; a comment before any section\n"
                 "# another\n"
                 "\n"
                 "[数据源]\n"
                 "名称=host=127.0.0.1 dbname=x\n"
                 ";模式=网络\n"
                 "#名称2=y\n"
                 "  模式  =  单机  \n"
                 "\t[ Spaced ]\t\n"
                 "k=v\n");
  const IniFile ini = IniFile::Load(dir.File("a.ini"));
  // Only the first '=' separates the key.
  EXPECT_EQ(ini.Get("数据源", "名称"), "host=127.0.0.1 dbname=x");
  EXPECT_EQ(ini.Get("数据源", "模式"), "单机");
  EXPECT_FALSE(ini.Has("数据源", ";模式"));
  EXPECT_FALSE(ini.Has("数据源", "#名称2"));
  EXPECT_EQ(ini.Get("Spaced", "k"), "v");
}

TEST(IniFileRead, ByteOrderMarkAndCrLf) {
  TempDir dir;
  WriteFileBytes(dir.File("a.ini"), "\xEF\xBB\xBF[AreaUnit]\r\nUnit1=公顷\r\nUnit2=亩\r\n");
  const IniFile ini = IniFile::Load(dir.File("a.ini"));
  EXPECT_EQ(ini.Get("AreaUnit", "Unit1"), "公顷");
  EXPECT_EQ(ini.Get("AreaUnit", "Unit2"), "亩");
}

TEST(IniFileRead, GbkFileReadsAsUtf8) {
  TempDir dir;
  // "[AreaUnit]\r\nUnit1=平方米\r\n[数据源]\r\n模式=网络\r\n" as an older program wrote it.
  WriteFileBytes(dir.File("a.ini"), "[AreaUnit]\r\nUnit1=" + kGbkSquareMetre +
                                        "\r\n[\xCA\xFD\xBE\xDD\xD4\xB4]\r\n"
                                        "\xC4\xA3\xCA\xBD=\xCD\xF8\xC2\xE7\r\n");
  const IniFile ini = IniFile::Load(dir.File("a.ini"));
  EXPECT_EQ(ini.Get("AreaUnit", "Unit1"), "平方米");
  EXPECT_EQ(ini.Get("数据源", "模式"), "网络");
}

TEST(IniFileRead, GbkWordsWhoseBytesResembleUtf8) {
  TempDir dir;
  // "来源" in GBK is C0 B4 D4 B4: C0 can never start a UTF-8 character, so
  // the file is GBK.
  WriteFileBytes(dir.File("a.ini"), "[S]\r\nk=\xC0\xB4\xD4\xB4\r\n");
  EXPECT_EQ(IniFile::Load(dir.File("a.ini")).Get("S", "k"), "来源");
  // "量" (C1 BF) likewise.
  WriteFileBytes(dir.File("b.ini"), "[S]\r\nk=\xC1\xBF\r\n");
  EXPECT_EQ(IniFile::Load(dir.File("b.ini")).Get("S", "k"), "量");
}

TEST(IniFileRead, MalformedLinesAreSkippedAndReportedOnce) {
  TempDir dir;
  WriteFileBytes(dir.File("a.ini"),
                 "orphan=before any section\n"
                 "[A]\n"
                 "no equals sign\n"
                 "k1=v1\n"
                 "[unclosed\n"
                 "k2=v2\n");
  ScopedTraceCapture trace;
  const IniFile ini = IniFile::Load(dir.File("a.ini"));
  EXPECT_EQ(ini.Get("A", "k1"), "v1");
  EXPECT_EQ(ini.Get("A", "k2"), "v2");
  EXPECT_FALSE(ini.Has("A", "orphan"));
  ASSERT_EQ(trace.lines.size(), 1u);
  EXPECT_NE(trace.lines[0].find(dir.File("a.ini")), std::string::npos) << trace.lines[0];
}

TEST(IniFileRead, MissingFileIsReportedToTheTrace) {
  TempDir dir;
  ScopedTraceCapture trace;
  IniFile::Load(dir.File("missing.ini"));
  ASSERT_EQ(trace.lines.size(), 1u);
  EXPECT_NE(trace.lines[0].find("missing.ini"), std::string::npos);
}

TEST(IniFileWrite, SetAndSaveRoundTrip) {
  TempDir dir;
  WriteFileBytes(dir.File("a.ini"), "[AreaUnit]\nUnit1=平方米\nUnit2=公顷\n[TYPE]\nType=2\n");
  IniFile ini = IniFile::Load(dir.File("a.ini"));
  ini.Set("areaunit", "UNIT2", "亩");  // replaces the key, whatever its case
  ini.Set("PointLen", "Len1", "3");
  ini.Set("数据源", "名称", "host=a dbname=b");
  ASSERT_TRUE(ini.Save());
  EXPECT_FALSE(HasLeftovers(dir.path()));

  const IniFile back = IniFile::Load(dir.File("a.ini"));
  EXPECT_EQ(back.Get("AreaUnit", "Unit1"), "平方米");
  EXPECT_EQ(back.Get("AreaUnit", "Unit2"), "亩");
  EXPECT_EQ(back.Get("TYPE", "Type"), "2");
  EXPECT_EQ(back.Get("PointLen", "Len1"), "3");
  EXPECT_EQ(back.Get("数据源", "名称"), "host=a dbname=b");
  const std::string text = ReadFileBytes(dir.File("a.ini"));
  EXPECT_EQ(text.find("公顷"), std::string::npos) << text;
  EXPECT_EQ(text.find("Unit2", text.find("Unit2") + 1), std::string::npos) << text;
}

TEST(IniFileWrite, SaveCreatesTheFolder) {
  TempDir dir;
  const std::string path = (dir.path() / "new" / "deeper" / "a.ini").string();
  IniFile ini = IniFile::Load(path);
  ini.Set("S", "k", "v");
  ASSERT_TRUE(ini.Save());
  EXPECT_EQ(IniFile::Load(path).Get("S", "k"), "v");
  EXPECT_FALSE(HasLeftovers(dir.path()));
}

TEST(IniFileWrite, SaveReplacesTheWholeOldText) {
  TempDir dir;
  WriteFileBytes(dir.File("a.ini"), "[New]\n");
  IniFile ini = IniFile::Load(dir.File("a.ini"));
  ini.Set("New", "k", "v");
  // Meanwhile the file grew longer: nothing of it may stay behind the new text.
  std::string old_text = "[Old]\n";
  for (int i = 0; i < 200; ++i) old_text += "key" + std::to_string(i) + "=a long old value\n";
  WriteFileBytes(dir.File("a.ini"), old_text);
  ASSERT_TRUE(ini.Save());
  EXPECT_EQ(ReadFileBytes(dir.File("a.ini")), "[New]\nk=v\n");
  EXPECT_FALSE(HasLeftovers(dir.path()));
}

TEST(IniFileWrite, FailedSaveLeavesNothingBehind) {
  TempDir dir;
  // The target's place is held by a folder: the file cannot be put there.
  fs::create_directories(dir.path() / "a.ini" / "inside");
  IniFile ini = IniFile::Load(dir.File("a.ini"));
  ini.Set("S", "k", "v");
  EXPECT_FALSE(ini.Save());
  EXPECT_TRUE(fs::is_directory(dir.path() / "a.ini" / "inside"));
  EXPECT_FALSE(HasLeftovers(dir.path()));

  // A folder that cannot be made, because a file stands in its way.
  WriteFileBytes(dir.File("plain"), "x");
  IniFile below = IniFile::Load((dir.path() / "plain" / "a.ini").string());
  below.Set("S", "k", "v");
  EXPECT_FALSE(below.Save());
  EXPECT_EQ(ReadFileBytes(dir.File("plain")), "x");
}

TEST(IniFileWrite, SetRefusesWhatWouldNotReadBack) {
  TempDir dir;
  const std::string path = dir.File("a.ini");
  WriteFileBytes(path, "[S]\nk=old\n");
  struct Case {
    std::string section, key, value;
  };
  const Case refused[] = {
      {"S", "k", "new\n[Other]\nx=1"},
      {"S", "k", "a\rb"},
      {"S", "k", std::string("a\0b", 3)},
      {"S", "k", "tab\there"},
      {"S", "k", "del\x7f"},
      {"S\n", "k", "v"},
      {"S", "k\nx", "v"},
      {"S", "k=x", "v"},
      {"S", "", "v"},
  };
  for (const Case& c : refused) {
    IniFile ini = IniFile::Load(path);
    EXPECT_FALSE(ini.Set(c.section, c.key, c.value)) << c.value;
    EXPECT_EQ(ini.Get("S", "k"), "old") << c.value;
    EXPECT_FALSE(host::WritePrivateProfileString(c.section, c.key, c.value, path)) << c.value;
  }
  EXPECT_EQ(ReadFileBytes(path), "[S]\nk=old\n");
}

TEST(ProfileFunctions, ReadAndWriteByPath) {
  TempDir dir;
  const std::string path = dir.File("p.ini");
  EXPECT_EQ(host::GetPrivateProfileString("S", "k", "fallback", path), "fallback");
  ASSERT_TRUE(host::WritePrivateProfileString("S", "k", "one", path));
  ASSERT_TRUE(host::WritePrivateProfileString("S", "other", "two", path));
  ASSERT_TRUE(host::WritePrivateProfileString("s", "K", "three", path));
  EXPECT_EQ(host::GetPrivateProfileString("S", "k", "", path), "three");
  EXPECT_EQ(host::GetPrivateProfileString("S", "other", "", path), "two");
  EXPECT_EQ(host::GetPrivateProfileString("T", "k", "fallback", path), "fallback");
}

TEST(ProfileFunctions, WritingAGbkFileKeepsItsOtherValues) {
  TempDir dir;
  const std::string path = dir.File("p.ini");
  WriteFileBytes(path, "[AreaUnit]\r\nUnit1=" + kGbkSquareMetre + "\r\n");
  ASSERT_TRUE(host::WritePrivateProfileString("AreaUnit", "Unit2", "公顷", path));
  EXPECT_EQ(host::GetPrivateProfileString("AreaUnit", "Unit1", "", path), "平方米");
  EXPECT_EQ(host::GetPrivateProfileString("AreaUnit", "Unit2", "", path), "公顷");
  EXPECT_NE(ReadFileBytes(path).find("平方米"), std::string::npos);
}

TEST(ProfileFunctions, DataSourceFileLiesInTheProgramDirectory) {
  ScopedProgramDir home;
  EXPECT_EQ(host::_ZRK_GetProfileString("数据源", "模式", "单机"), "单机");
  WriteFileBytes(home.File("rivadoverid.ini"), "[数据源]\n模式=网络\n名称=landstat\n");
  EXPECT_EQ(host::_ZRK_GetProfileString("数据源", "模式", "单机"), "网络");
  EXPECT_EQ(host::_ZRK_GetProfileString("数据源", "名称", ""), "landstat");

  ASSERT_TRUE(host::_ZRK_WriteProfileString("数据源", "模式", "单机"));
  EXPECT_EQ(IniFile::Load(home.File("rivadoverid.ini")).Get("数据源", "模式"), "单机");
  EXPECT_EQ(IniFile::Load(home.File("rivadoverid.ini")).Get("数据源", "名称"), "landstat");

  // Other files by relative name, and an absolute path as it is.
  WriteFileBytes(home.File("sub/other.ini"), "[S]\nk=relative\n");
  EXPECT_EQ(host::_ZRK_GetProfileString("S", "k", "", "sub/other.ini"), "relative");
  TempDir elsewhere;
  WriteFileBytes(elsewhere.File("x.ini"), "[S]\nk=absolute\n");
  EXPECT_EQ(host::_ZRK_GetProfileString("S", "k", "", elsewhere.File("x.ini")), "absolute");
}

TEST(ProfileFunctions, HostIniLiesInTheProgramDirectory) {
  ScopedProgramDir home;
  EXPECT_EQ(host::LindoReadINI("Stat", "LastCounty", "none"), "none");
  ASSERT_TRUE(host::LindoWriteINI("Stat", "LastCounty", "330102"));
  EXPECT_EQ(host::LindoReadINI("Stat", "LastCounty"), "330102");
  EXPECT_EQ(IniFile::Load(home.File("host.ini")).Get("Stat", "LastCounty"), "330102");
}

}  // namespace
}  // namespace landstat
