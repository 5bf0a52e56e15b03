#include "sample_template.h"

#include <zip.h>

#include <list>
#include <stdexcept>
#include <utility>

namespace landstat::sheet {
namespace {

constexpr const char* kContentTypes =
    R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types"><Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/><Default Extension="xml" ContentType="application/xml"/><Override PartName="/xl/workbook.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml"/><Override PartName="/xl/worksheets/sheet1.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml"/><Override PartName="/xl/worksheets/sheet2.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml"/><Override PartName="/xl/worksheets/sheet3.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml"/><Override PartName="/xl/styles.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.styles+xml"/><Override PartName="/xl/sharedStrings.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sharedStrings+xml"/></Types>)";

constexpr const char* kRootRels =
    R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships"><Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument" Target="xl/workbook.xml"/></Relationships>)";

constexpr const char* kWorkbook =
    R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<workbook xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships"><bookViews><workbookView activeTab="2"/></bookViews><sheets><sheet name="报表甲" sheetId="1" r:id="rId1"/><sheet name="报表乙" sheetId="2" r:id="rId2"/><sheet name="其他" sheetId="3" r:id="rId3"/></sheets><definedNames><definedName name="_xlnm.Print_Titles" localSheetId="0">'报表甲'!A:A</definedName><definedName name="_xlnm.Print_Titles" localSheetId="1">'报表乙'!$3:$3</definedName><definedName name="_xlnm.Print_Area" localSheetId="1">'报表乙'!$A$3:$D$4</definedName><definedName name="_xlnm.Print_Titles" localSheetId="2">'其他'!$1:$1</definedName></definedNames></workbook>)";

constexpr const char* kWorkbookRels =
    R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships"><Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet" Target="worksheets/sheet1.xml"/><Relationship Id="rId2" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet" Target="worksheets/sheet2.xml"/><Relationship Id="rId3" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet" Target="worksheets/sheet3.xml"/><Relationship Id="rId4" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/styles" Target="styles.xml"/><Relationship Id="rId5" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/sharedStrings" Target="sharedStrings.xml"/></Relationships>)";

constexpr const char* kStyles =
    R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<styleSheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"><numFmts count="1"><numFmt numFmtId="164" formatCode="0.00"/></numFmts><fonts count="1"><font><sz val="11"/><name val="Calibri"/></font></fonts><fills count="2"><fill><patternFill patternType="none"/></fill><fill><patternFill patternType="gray125"/></fill></fills><borders count="2"><border><left/><right/><top/><bottom/><diagonal/></border><border><left style="thin"/><right style="thin"/><top style="thin"/><bottom style="thin"/><diagonal/></border></borders><cellStyleXfs count="1"><xf numFmtId="0" fontId="0" fillId="0" borderId="0"/></cellStyleXfs><cellXfs count="3"><xf numFmtId="0" fontId="0" fillId="0" borderId="0" xfId="0"/><xf numFmtId="49" fontId="0" fillId="0" borderId="1" xfId="0" applyNumberFormat="1" applyBorder="1"/><xf numFmtId="164" fontId="0" fillId="0" borderId="1" xfId="0" applyNumberFormat="1" applyBorder="1"/></cellXfs><cellStyles count="1"><cellStyle name="Normal" xfId="0" builtinId="0"/></cellStyles></styleSheet>)";

constexpr const char* kSharedStrings =
    R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<sst xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" count="6" uniqueCount="6"><si><t>{年度}年 报表甲</t></si><si><t>{年度}年 报表乙</t></si><si><t>代码</t></si><si><t>名称</t></si><si><r><t>面</t></r><r><t>积</t></r></si><si><t>其他</t></si></sst>)";

// `printed`: with a page header and footer holding keys.
std::string ReportSheet(int title, bool printed) {
  const std::string inline_text = R"( t="inlineStr"><is><t>)";
  return std::string(R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships"><dimension ref="A1:D5"/><sheetViews><sheetView tabSelected="1" workbookViewId="0"/></sheetViews><cols><col min="1" max="4" width="14" customWidth="1"/></cols><sheetData>)") +
         R"(<row r="1"><c r="A1" t="s"><v>)" + std::to_string(title) + "</v></c></row>" +
         R"(<row r="2"><c r="A2")" + inline_text + "单位：{单位}</t></is></c></row>" +
         R"(<row r="3"><c r="A3" t="s"><v>2</v></c><c r="B3" t="s"><v>3</v></c><c r="C3" t="s"><v>4</v></c><c r="D3" t="s"><v>4</v></c></row>)" +
         R"(<row r="4" ht="18" customHeight="1"><c r="A4" s="1")" + inline_text +
         R"({数据:2}</t></is></c><c r="B4" s="1"/><c r="C4" s="2"/><c r="D4" s="2"/></row>)" +
         R"(<row r="5"><c r="A5")" + inline_text + "填表人：{填表人}</t></is></c></row>" +
         R"(</sheetData><mergeCells count="2"><mergeCell ref="A1:D1"/><mergeCell ref="A5:D5"/></mergeCells><pageMargins left="0.7" right="0.7" top="0.75" bottom="0.75" header="0.3" footer="0.3"/>)" +
         (printed ? "<headerFooter><oddHeader>&amp;C{年度}年 报表乙 &amp;P</oddHeader>"
                    "<oddFooter>&amp;L填表人：{填表人}</oddFooter></headerFooter>"
                  : "") +
         "</worksheet>";
}

constexpr const char* kOtherSheet =
    R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"><sheetData><row r="1"><c r="A1" t="s"><v>5</v></c></row></sheetData></worksheet>)";

}  // namespace

void WriteSampleTemplate(const std::string& path) {
  int code = 0;
  zip_t* archive = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &code);
  if (archive == nullptr) throw std::runtime_error("cannot create " + path);
  std::list<std::string> texts;  // alive until the archive is written
  const std::pair<const char*, std::string> parts[] = {
      {"[Content_Types].xml", kContentTypes},
      {"_rels/.rels", kRootRels},
      {"xl/workbook.xml", kWorkbook},
      {"xl/_rels/workbook.xml.rels", kWorkbookRels},
      {"xl/styles.xml", kStyles},
      {"xl/sharedStrings.xml", kSharedStrings},
      {"xl/worksheets/sheet1.xml", ReportSheet(0, false)},
      {"xl/worksheets/sheet2.xml", ReportSheet(1, true)},
      {"xl/worksheets/sheet3.xml", kOtherSheet}};
  for (const auto& [name, text] : parts) {
    texts.push_back(text);
    zip_source_t* source = zip_source_buffer(archive, texts.back().data(), texts.back().size(), 0);
    if (source == nullptr || zip_file_add(archive, name, source, ZIP_FL_ENC_UTF_8) < 0) {
      zip_source_free(source);
      zip_discard(archive);
      throw std::runtime_error("cannot write " + path);
    }
  }
  if (zip_close(archive) != 0) {
    zip_discard(archive);
    throw std::runtime_error("cannot write " + path);
  }
}

}  // namespace landstat::sheet
