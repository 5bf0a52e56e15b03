#include "platform/sheet/bat_print_excel.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "platform/db/db_error.h"
#include "platform/db/recordset.h"
#include "platform/gis/layers.h"
#include "platform/sheet/workbook_package.h"
#include "sample_template.h"
#include "support/test_databases.h"

namespace landstat::sheet {
namespace {

namespace fs = std::filesystem;
using db::Value;
using testing::BothEngines;
using ::testing::HasSubstr;
using testing::TempDir;

const std::vector<SWhiteParam> kPairs{{"年度", "2023"}, {"单位", "公顷"}, {"填表人", "张三"}};

// Rows held in memory; the two area columns share a name, as a join's do.
class VectorRows : public SheetRows {
 public:
  explicit VectorRows(std::vector<std::vector<Value>> rows,
                      std::vector<std::string> names = {"代码", "名称", "面积", "面积"})
      : rows_(std::move(rows)), names_(std::move(names)) {}
  const std::vector<std::string>& ColumnNames() const override { return names_; }
  bool Next(std::vector<Value>& row) override {
    if (next_ == rows_.size()) return false;
    row = rows_[next_++];
    return true;
  }

 private:
  std::vector<std::vector<Value>> rows_;
  std::vector<std::string> names_;
  std::size_t next_ = 0;
};

std::vector<std::vector<Value>> SampleRows() {
  return {{"330102", "东村 <&>", 12.5, 3}, {"330103", Value(), 0.25, 0}, {"330104", "南村", -1, 7}};
}

std::string RunText(const std::string& command) {
  std::string text;
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
  char buffer[4096];
  while (pipe && fgets(buffer, sizeof buffer, pipe.get()) != nullptr) text += buffer;
  return text;
}

std::string Python() {
  return fs::exists("/usr/bin/python3") ? "/usr/bin/python3" : "python3";
}

// The workbook as openpyxl reads it, one line per fact, after checking that
// the file is a zip whose XML parts all parse. Values: n:number, s:text.
constexpr const char* kReadBack = R"PY(
import sys, zipfile, xml.dom.minidom, openpyxl
path = sys.argv[1]
with zipfile.ZipFile(path) as z:
    assert z.testzip() is None
    for name in z.namelist():
        if name.endswith('.xml') or name.endswith('.rels'):
            xml.dom.minidom.parseString(z.read(name))
book = openpyxl.load_workbook(path)
for ws in book.worksheets:
    print('sheet', ws.title)
    print('titles', ws.print_title_rows, ws.print_title_cols)
    print('breaks', [b.id for b in ws.row_breaks.brk])
    print('merged', sorted(str(r) for r in ws.merged_cells.ranges))
    for row in ws.iter_rows(values_only=True):
        cells = ['' if v is None else ('s:' + v if isinstance(v, str) else 'n:' + repr(v)) for v in row]
        print('row', '|'.join(cells).rstrip('|'))
)PY";

std::string ReadBack(const std::string& path) {
  // One script per test process (tests run side by side), gone with it.
  static const TempDir folder;
  static const std::string script = [] {
    const std::string file = folder.File("read_back.py");
    std::ofstream(file) << kReadBack;
    return file;
  }();
  return RunText(Python() + " -W ignore " + script + " '" + path + "' 2>&1");
}

class SheetTest : public ::testing::Test {
 protected:
  std::string Copy(const std::string& name) {
    const std::string path = dir_.File(name);
    WriteSampleTemplate(path);
    return path;
  }
  TempDir dir_;
};

TEST_F(SheetTest, FillsRowsAndKeysWithBreaksOnlyWhenPaged) {
  const std::string kHead =
      "row s:2023年 报表甲\nrow s:单位：公顷\nrow s:代码|s:名称|s:面积|s:面积\n";
  const std::string kRows =
      "row s:330102|s:东村 <&>|n:12.5|n:3\nrow s:330103||n:0.25|n:0\n"
      "row s:330104|s:南村|n:-1|n:7\nrow s:填表人：张三\n";
  const struct {
    Paging paging;
    std::string expected;
  } cases[] = {
      {Paging::kPaged,
       "sheet 报表甲\ntitles $1:$3 $A:$A\nbreaks [5]\nmerged ['A1:D1', 'A7:D7']\n" + kHead + kRows},
      {Paging::kUnpaged,
       "sheet 报表甲\ntitles $1:$3 $A:$A\nbreaks []\nmerged ['A1:D1', 'A7:D7']\n" + kHead + kRows},
  };
  for (const auto& c : cases) {
    const std::string path = Copy("report.xlsx");
    BatPrintExcel book(path);
    VectorRows rows(SampleRows());
    EXPECT_EQ(book.FillSheet(rows, "报表甲", kPairs, c.paging), 1);
    book.PrintOut(1, 1);
    // The other reports of the template are gone; keys and rows are in place.
    EXPECT_EQ(ReadBack(path), c.expected);
  }
}

TEST_F(SheetTest, EmptySourceKeepsHeadingsAndFooter) {
  const std::string path = Copy("empty.xlsx");
  BatPrintExcel book(path);
  VectorRows rows({});
  book.FillSheet(rows, "报表乙", {}, Paging::kPaged);
  book.PrintOut(1, 1);
  EXPECT_EQ(ReadBack(path),
            "sheet 报表乙\ntitles $3:$3 None\nbreaks []\nmerged ['A1:D1', 'A4:D4']\n"
            "row s:{年度}年 报表乙\nrow s:单位：{单位}\nrow s:代码|s:名称|s:面积|s:面积\n"
            "row s:填表人：{填表人}\n");
}

// What of a filled sheet is printed: its heading rows from the template's
// first title row, its print area over the filled rows, its page header and
// footer with their keys filled (a value's '&' doubled, as a lone one starts
// a code there); a copy's print names name the copy.
TEST_F(SheetTest, PrintedPagesFollowTheFilledRows) {
  const std::vector<SWhiteParam> ampersands{{"年度", "A&B"}, {"填表人", "&P"}};
  const struct {
    std::string sheet;  // 报表乙, or a copy of it
    std::size_t rows;
    std::vector<SWhiteParam> pairs;
    std::string names;          // the print names of the workbook
    std::string header_footer;  // the page header and footer of the sheet
  } cases[] = {
      {"报表乙", 3, kPairs, "'报表乙'!$3:$3 '报表乙'!$A$3:$D$6",
       "&C2023年 报表乙 &P|&L填表人：张三"},
      {"报表乙", 0, ampersands, "'报表乙'!$3:$3 '报表乙'!$A$3:$D$3",
       "&CA&&B年 报表乙 &P|&L填表人：&&P"},
      {"村甲", 1, kPairs, "'村甲'!$3:$3 '村甲'!$A$3:$D$4", "&C2023年 报表乙 &P|&L填表人：张三"},
  };
  const auto matches = [](const std::string& xml, const std::string& pattern) {
    std::string found;
    const std::regex expression(pattern);
    for (auto it = std::sregex_iterator(xml.begin(), xml.end(), expression);
         it != std::sregex_iterator(); ++it) {
      found +=
          (found.empty() ? "" : "|") + std::regex_replace((*it)[1].str(), std::regex("&amp;"), "&");
    }
    return found;
  };
  for (const auto& c : cases) {
    const std::string path = Copy("printed.xlsx");
    {
      BatPrintExcel book(path);
      if (c.sheet != "报表乙") book.CopyAddModifySheet("报表乙", {c.sheet}, 1);
      VectorRows rows(std::vector<std::vector<Value>>(c.rows, {"330102", "东村", 1.5, 2}));
      book.FillSheet(rows, c.sheet, c.pairs);
      book.PrintOut(1, 1);
    }
    WorkbookPackage package(path);
    const std::string workbook = package.ReadPart("xl/workbook.xml");
    EXPECT_EQ(
        std::regex_replace(matches(workbook, "<definedName [^>]*>([^<]*)<"), std::regex("\\|"), " "),
        c.names)
        << c.sheet << " " << c.rows;
    EXPECT_EQ(
        matches(package.ReadPart(package.Sheets().at(0).part), "<odd(?:Header|Footer)>([^<]*)<"),
        c.header_footer)
        << c.sheet << " " << c.rows;
  }
}

// Filled by the field row (row 3 of the sample names 代码, 名称, 面积, 面积),
// each sheet column takes the source column of its name, whatever the
// source's order; a name the source lacks is refused, naming it.
TEST_F(SheetTest, FillsColumnsByTheFieldRow) {
  const std::string path = Copy("fields.xlsx");
  {
    BatPrintExcel book(path);
    VectorRows rows({{12.5, "东村", "330102", "x"}}, {"面积", "名称", "代码", "备注"});
    book.FillSheet(rows, "报表甲", kPairs, Paging::kUnpaged, Columns::kByFieldRow);
    book.PrintOut(1, 1);
  }
  EXPECT_THAT(ReadBack(path), HasSubstr("row s:代码|s:名称|s:面积|s:面积\n"
                                        "row s:330102|s:东村|n:12.5|n:12.5\nrow s:填表人"));
  const std::string refused = Copy("refused.xlsx");
  BatPrintExcel book(refused);
  VectorRows rows({}, {"面积", "代码"});
  try {
    book.FillSheet(rows, "报表甲", kPairs, Paging::kUnpaged, Columns::kByFieldRow);
    ADD_FAILURE() << "a field the source lacks was accepted";
  } catch (const SheetError& error) {
    EXPECT_THAT(error.what(), HasSubstr("\"名称\" (cell B3)"));
  }
}

// A filled sheet waits for the save in a file without a name: nothing of
// it shows in the temporary folder, so nothing can be left there or be
// reached through a link planted in advance.
TEST_F(SheetTest, WorkFilesHaveNoName) {
  const std::string tmp = dir_.File("tmp");
  fs::create_directories(tmp);
  const char* previous = std::getenv("TMPDIR");
  const std::string kept = previous ? previous : "";
  setenv("TMPDIR", tmp.c_str(), 1);
  {
    BatPrintExcel book(Copy("nameless.xlsx"));
    VectorRows rows(SampleRows());
    book.FillSheet(rows, "报表甲", kPairs);
    EXPECT_TRUE(fs::is_empty(tmp));
    book.PrintOut(1, 1);
  }
  previous ? setenv("TMPDIR", kept.c_str(), 1) : unsetenv("TMPDIR");
  EXPECT_TRUE(fs::is_empty(tmp));
}

TEST(SheetNames, MadeValidAndUnique) {
  const std::vector<std::string> taken{"东村", "Sheet", "ab(2)"};
  const struct {
    std::string requested;
    std::string expected;
  } cases[] = {
      {"a[b]c:d*e?f/g\\h", "a_b_c_d_e_f_g_h"},
      {"'引号'", "引号"},
      {"", "Sheet(2)"},
      {"东村", "东村(2)"},
      {"AB", "AB"},
      {"ab(2)", "ab(2)(2)"},
      {std::string(40, 'x'), std::string(31, 'x')},
      {"一二三四五六七八九十一二三四五六七八九十一二三四五六七八九十一二三",
       "一二三四五六七八九十一二三四五六七八九十一二三四五六七八九十一"},
      {"sheet", "sheet(2)"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(MakeSheetName(c.requested, taken), c.expected) << c.requested;
  const std::string long_name(31, 'y');
  EXPECT_EQ(MakeSheetName(long_name, {long_name}), std::string(28, 'y') + "(2)");
}

TEST_F(SheetTest, CopiesFillsAndMergesPieces) {
  const std::string first = Copy("piece1.xlsx");
  const std::string second = Copy("piece2.xlsx");
  const std::vector<std::vector<std::string>> pieces{{"村/甲", "村/甲"}, {"村/甲", "报表甲"}};
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    BatPrintExcel book(i == 0 ? first : second);
    EXPECT_EQ(book.CopyAddModifySheet("报表甲", pieces[i], 1), 2);
    for (const auto& name : pieces[i]) {
      VectorRows rows({{name, "x", static_cast<long>(i), 1}});
      book.FillSheet(rows, name, std::vector<SWhiteParam>{{"年度", name}});
    }
    book.PrintOut(1, 1);
  }
  MergeExcelEx(first, second);
  const std::string text = ReadBack(first);
  std::string sheets;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("sheet ", 0) == 0 || line.rfind("row s:村", 0) == 0 ||
        line.rfind("row s:报表", 0) == 0 || line.rfind("titles", 0) == 0) {
      sheets += line + "\n";
    }
  }
  EXPECT_EQ(
      sheets,
      "sheet 村_甲\ntitles $1:$3 $A:$A\nrow s:村/甲年 报表甲\nrow s:村/甲|s:x|n:0|n:1\n"
      "sheet 村_甲(2)\ntitles $1:$3 $A:$A\nrow s:村/甲年 报表甲\nrow s:村/甲|s:x|n:0|n:1\n"
      "sheet 村_甲(3)\ntitles $1:$3 $A:$A\nrow s:村/甲年 报表甲\nrow s:村/甲|s:x|n:1|n:1\n"
      "sheet 报表甲(2)\ntitles $1:$3 $A:$A\nrow s:报表甲年 报表甲\nrow s:报表甲|s:x|n:1|n:1\n")
      << text;
}

TEST_F(SheetTest, NothingFilledKeepsTheCopiedSheet) {
  const std::string path = Copy("nothing.xlsx");
  BatPrintExcel book(path);
  book.CopyAddModifySheet("报表乙", {}, 1);
  book.PrintOut(1, 1);
  EXPECT_THAT(ReadBack(path), ::testing::StartsWith("sheet 报表乙\n"));
  EXPECT_EQ(ReadBack(path).find("sheet 报表甲"), std::string::npos);
}

TEST_F(SheetTest, PrintOutShowsOnlyForViewZero) {
  std::vector<std::string> shown;
  SetFileOpener([&](const std::string& path) { shown.push_back(path); });
  for (short view : {0, 1}) {
    const std::string path = Copy("view" + std::to_string(view) + ".xlsx");
    BatPrintExcel book(path);
    VectorRows rows(SampleRows());
    book.FillSheet(rows, "报表甲", kPairs);
    book.PrintOut(view, 1);
  }
  SetFileOpener(nullptr);
  EXPECT_EQ(shown, std::vector<std::string>{dir_.File("view0.xlsx")});
}

// A source longer than a sheet, counted without holding it.
class CountingRows : public SheetRows {
 public:
  explicit CountingRows(long count) : count_(count) {}
  const std::vector<std::string>& ColumnNames() const override { return names_; }
  bool Next(std::vector<Value>& row) override {
    row.assign(1, Value(1));
    return done_++ < count_;
  }

 private:
  long count_;
  long done_ = 0;
  std::vector<std::string> names_{"n"};
};

// A copy of `path` whose worksheet parts claim 4 GB in both their local
// and their central headers, as a damaged or hostile archive may.
std::string ClaimingHugeParts(const std::string& path, const std::string& copy) {
  std::ifstream in(path, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const auto patch = [&](const std::string& signature, std::size_t name_at, std::size_t size_at) {
    for (auto at = bytes.find(signature); at != std::string::npos;
         at = bytes.find(signature, at + 4)) {
      if (bytes.compare(at + name_at, 14, "xl/worksheets/") == 0) {
        bytes.replace(at + size_at, 4, "\xF0\xFF\xFF\xFF");
      }
    }
  };
  patch(std::string("PK\x03\x04", 4), 30, 22);
  patch(std::string("PK\x01\x02", 4), 46, 24);
  std::ofstream(copy, std::ios::binary) << bytes;
  return copy;
}

TEST_F(SheetTest, FailuresNameFileAndSheetAndWriteNothing) {
  const std::string path = Copy("bad.xlsx");
  const auto before = fs::file_size(path);
  const std::string other = dir_.File("other.xlsx");
  std::ofstream(other) << "not a zip";
  const std::string huge = ClaimingHugeParts(path, dir_.File("huge.xlsx"));
  const struct {
    std::string name;
    std::function<void()> act;
    std::vector<std::string> message;
  } cases[] = {
      {"missing sheet",
       [&] {
         BatPrintExcel book(path);
         VectorRows rows({});
         book.FillSheet(rows, "无此表", kPairs);
       },
       {path, "无此表"}},
      {"no data row",
       [&] {
         BatPrintExcel book(path);
         VectorRows rows({});
         book.FillSheet(rows, "其他", kPairs);
       },
       {path, "\"其他\"", "{数据}"}},
      {"too many rows",
       [&] {
         BatPrintExcel book(path);
         CountingRows rows(kMaxSheetRows);
         try {
           book.FillSheet(rows, "报表甲", kPairs);
         } catch (const SheetError&) {
           book.PrintOut(1, 1);  // refused too: the sheet was not filled
         }
       },
       {path, "\"报表甲\"", "1048576 rows", "not saved"}},
      {"not a workbook", [&] { BatPrintExcel book(other); }, {other}},
      {"part claiming 4 GB, named as the template",
       [&] {
         BatPrintExcel book(huge, "模板.xlsx");
         VectorRows rows({});
         book.FillSheet(rows, "报表甲", kPairs);
       },
       {"template workbook 模板.xlsx", "4294967280 bytes"}},
      {"merge of another template", [&] { MergeExcelEx(path, other); }, {other}},
      {"page header too long once its keys are filled",
       [&] {
         BatPrintExcel book(path);
         VectorRows rows({});
         book.FillSheet(rows, "报表乙", std::vector<SWhiteParam>{{"年度", std::string(250, 'x')}});
       },
       {path, "\"报表乙\"", "page header", "255"}},
  };
  for (const auto& c : cases) {
    try {
      c.act();
      ADD_FAILURE() << c.name << ": no error";
    } catch (const SheetError& error) {
      for (const auto& part : c.message) EXPECT_THAT(error.what(), HasSubstr(part)) << c.name;
    }
    EXPECT_EQ(fs::file_size(path), before) << c.name;
  }
}

TEST_F(SheetTest, FillsFromAttributeTable) {
  using namespace gis;
  const LayerHandle table = CreateTable("平衡表", {{"代码", FieldType::kText, 12, 0},
                                                   {"面积", FieldType::kDouble, 0, 2},
                                                   {"个数", FieldType::kInteger, 0, 0}});
  for (const char* code : {"01", "02"}) {
    Record record;
    ASSERT_TRUE(ReadRecord(table, EntityKind::kTable, AddRecord(table), record));
    record.SetText("代码", code);
    record.SetText("面积", "1.5");
    record.SetText("个数", "4");
    WriteRecord(table, record);
  }
  const std::string path = Copy("balance.xlsx");
  BatPrintExcel book(path);
  book.FillSheet1(table, 7, "报表甲", kPairs);
  book.PrintOut(1, 1);
  CloseLayer(table);
  EXPECT_THAT(ReadBack(path), HasSubstr("row s:01|n:1.5|n:4\nrow s:02|n:1.5|n:4\nrow s:填表人"));
}

class SheetFromDatabaseTest : public BothEngines {};

TEST_P(SheetFromDatabaseTest, FillsFromRecordsetAndScanWithRepeatedNames) {
  conn().Execute("CREATE TABLE a (code varchar(12), area double precision, n int)");
  conn().Execute("INSERT INTO a VALUES ('330102', 2.5, 3); INSERT INTO a VALUES ('330103', 4, 0)");
  const std::string query =
      "select a.code, a.code, a.area, b.n from a, a b where a.code = b.code "
      "order by a.code";
  TempDir dir;
  const std::string expected =
      "row s:330102|s:330102|n:2.5|n:3\nrow s:330103|s:330103|n:4|n:0\n"
      "row s:填表人：张三";
  for (int way = 0; way < 2; ++way) {
    const std::string path = dir.File("db" + std::to_string(way) + ".xlsx");
    WriteSampleTemplate(path);
    BatPrintExcel book(path);
    if (way == 0) {
      db::Recordset recordset(conn(), query);
      book.FillSheet(recordset, "报表甲", kPairs);
    } else {
      ScanRows rows(conn().Scan(query));
      book.FillSheet(rows, "报表甲", kPairs);
    }
    book.PrintOut(1, 1);
    EXPECT_THAT(ReadBack(path), HasSubstr(expected)) << way;
  }
  // A query that fails reaches the caller before any workbook is touched.
  EXPECT_THROW(db::Recordset(conn(), "select * from missing"), db::DbError);
}

LANDSTAT_BOTH_ENGINES(SheetFromDatabaseTest);

// LibreOffice opens what the engine writes: a batch of reports converted to
// CSV at once, each CSV equal to its rows.
TEST_F(SheetTest, LibreOfficeReadsWrittenReports) {
  if (RunText("command -v libreoffice").empty()) {
    GTEST_SKIP() << "libreoffice is not installed; scripts/setup installs it";
  }
  std::string files;
  for (int i = 0; i < 3; ++i) {
    const std::string path = Copy("lo" + std::to_string(i) + ".xlsx");
    BatPrintExcel book(path);
    auto sample = SampleRows();
    sample.resize(i + 1);
    VectorRows rows(sample);
    book.FillSheet(rows, "报表甲", kPairs, i == 1 ? Paging::kUnpaged : Paging::kPaged);
    book.PrintOut(1, 1);
    files += " '" + path + "'";
  }
  const std::string profile = "file://" + dir_.File("lo-profile");
  RunText("libreoffice -env:UserInstallation=" + profile +
          " --headless --convert-to 'csv:Text - txt - csv (StarCalc):44,34,76' --outdir '" +
          dir_.path().string() + "'" + files + " 2>&1");
  const std::string head = "2023年 报表甲,,,\n单位：公顷,,,\n代码,名称,面积,面积\n";
  const std::string data[] = {"330102,东村 <&>,12.50,3.00\n", "330103,,0.25,0.00\n",
                              "330104,南村,-1.00,7.00\n"};
  std::string expected_rows;
  for (int i = 0; i < 3; ++i) {
    expected_rows += data[i];
    std::ifstream csv(dir_.File("lo" + std::to_string(i) + ".csv"));
    std::stringstream text;
    text << csv.rdbuf();
    EXPECT_EQ(text.str(), head + expected_rows + "填表人：张三,,,\n") << i;
  }
}

}  // namespace
}  // namespace landstat::sheet
