#include "engine/text_helpers.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/program_dir.h"

namespace landstat {
namespace {

using testing::TempDir;
using testing::WriteFileBytes;
using Names = std::vector<std::string>;

Names Sorted(Names names, int order) {
  CSortStringArray array(names.begin(), names.end());
  array.Sort(order);
  return Names(array.begin(), array.end());
}

TEST(SortStringArray, AscendingIgnoresCaseAndKeepsEqualNamesInOrder) {
  EXPECT_EQ(Sorted({"ZGQ", "dltb", "a", "DLTB", "B", "Dltb", "ab"}, 1),
            (Names{"a", "ab", "B", "dltb", "DLTB", "Dltb", "ZGQ"}));
  EXPECT_EQ(Sorted({"b_", "B", "b"}, 1), (Names{"B", "b", "b_"}));
}

TEST(SortStringArray, DescendingIgnoresCaseAndKeepsEqualNamesInOrder) {
  EXPECT_EQ(Sorted({"ZGQ", "dltb", "a", "DLTB", "B", "Dltb", "ab"}, 2),
            (Names{"ZGQ", "dltb", "DLTB", "Dltb", "B", "ab", "a"}));
}

TEST(SortStringArray, OtherOrdersLeaveTheList) {
  const Names names{"c", "A", "b"};
  for (int order : {0, 3, -1}) EXPECT_EQ(Sorted(names, order), names) << order;
  EXPECT_TRUE(Sorted({}, 1).empty());
}

class XmlLookup : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFileBytes(path_,
                   "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                   "<Tables>\n"
                   "  <!-- rows by name -->\n"
                   "  <Row name=\"地类图斑\" alias=\"DLTB\" kind=\"region\"/>\n"
                   "  <Row name=\"线状地物\" alias=\"XZDW\"/>\n"
                   "  <Row name=\"地类图斑\" alias=\"DLTB2\"/>\n"
                   "  <Row name=\"dltb\" alias=\"lower\"/>\n"
                   "  <Set version=\"广东农村\"/>\n"
                   "</Tables>\n");
  }
  const char* file() const { return path_.c_str(); }

  TempDir dir_;
  std::string path_ = dir_.File("tables.xml");
};

TEST_F(XmlLookup, LaterMatchWins) {
  std::string value = "old";
  EXPECT_EQ(GetXmlValueEx(file(), "name", "地类图斑", "alias", value), 1);
  EXPECT_EQ(value, "DLTB2");
  EXPECT_EQ(GetXmlValueEx(file(), "name", "线状地物", "alias", value), 1);
  EXPECT_EQ(value, "XZDW");
}

TEST_F(XmlLookup, MatchIsByteForByte) {
  std::string value = "old";
  EXPECT_EQ(GetXmlValueEx(file(), "name", "DLTB", "alias", value), 0);
  EXPECT_EQ(GetXmlValueEx(file(), "name", "地类图斑 ", "alias", value), 0);
  EXPECT_EQ(GetXmlValueEx(file(), "Name", "地类图斑", "alias", value), 0);
  EXPECT_EQ(value, "old");
  EXPECT_EQ(GetXmlValueEx(file(), "name", "dltb", "alias", value), 1);
  EXPECT_EQ(value, "lower");
}

TEST_F(XmlLookup, NoMatchOrNoFileLeavesTheValue) {
  std::string value = "old";
  EXPECT_EQ(GetXmlValueEx(file(), "name", "权属区域", "alias", value), 0);
  EXPECT_EQ(value, "old");
  EXPECT_EQ(GetXmlValueEx(dir_.File("missing.xml").c_str(), "name", "地类图斑", "alias", value), 0);
  EXPECT_EQ(GetXmlValueEx(nullptr, "name", "地类图斑", "alias", value), 0);
  WriteFileBytes(dir_.File("broken.xml"), "<Tables><Row name=\"地类图斑\" alias=\"x\"");
  EXPECT_EQ(GetXmlValueEx(dir_.File("broken.xml").c_str(), "name", "地类图斑", "alias", value), 0);
  EXPECT_EQ(value, "old");
}

TEST(XmlLookupGbk, FileOfAnOlderProgram) {
  TempDir dir;
  // <Row name="地类图斑" alias="DLTB" kind="区域"/>, written in GBK.
  WriteFileBytes(dir.File("gbk.xml"),
                 "<?xml version=\"1.0\" encoding=\"GB2312\"?>\r\n<Tables>\r\n"
                 "<Row name=\"\xB5\xD8\xC0\xE0\xCD\xBC\xB0\xDF\" alias=\"DLTB\" "
                 "kind=\"\xC7\xF8\xD3\xF2\"/>\r\n</Tables>\r\n");
  std::string value = "old";
  EXPECT_EQ(GetXmlValueEx(dir.File("gbk.xml").c_str(), "name", "地类图斑", "alias", value), 1);
  EXPECT_EQ(value, "DLTB");
  EXPECT_EQ(GetXmlValueEx(dir.File("gbk.xml").c_str(), "alias", "DLTB", "kind", value), 1);
  EXPECT_EQ(value, "区域");
}

TEST_F(XmlLookup, SectionAttribute) {
  std::string value = "old";
  EXPECT_EQ(GetXmlValue(file(), "Set", "version", value), 1);
  EXPECT_EQ(value, "广东农村");
  value = "old";
  EXPECT_EQ(GetXmlValue(file(), "Set", "missing", value), 0);
  EXPECT_EQ(GetXmlValue(file(), "Missing", "version", value), 0);
  EXPECT_EQ(GetXmlValue(dir_.File("missing.xml").c_str(), "Set", "version", value), 0);
  EXPECT_EQ(GetXmlValue(nullptr, "Set", "version", value), 0);
  EXPECT_EQ(value, "old");
}

}  // namespace
}  // namespace landstat
