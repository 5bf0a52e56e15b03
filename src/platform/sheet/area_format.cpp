#include "platform/sheet/area_format.h"

#include <algorithm>
#include <pugixml.hpp>
#include <set>

#include "platform/sheet/sheet_error.h"
#include "platform/sheet/workbook_package.h"

namespace landstat::sheet {
namespace {

constexpr long kBuiltinTwoDecimals = 2;  // "0.00"
constexpr long kFirstCustomFormat = 164;
constexpr int kMaxDecimals = 10;

}  // namespace

bool IsAreaFormat(const std::string& code) {
  if (code.size() < 3 || code.compare(0, 2, "0.") != 0) return false;
  return std::all_of(code.begin() + 2, code.end(), [](char c) { return c == '0'; });
}

std::string WithAreaDecimals(const std::string& styles_xml, int decimals) {
  pugi::xml_document doc;
  if (!doc.load_buffer(styles_xml.data(), styles_xml.size())) {
    throw SheetError("the styles part is no valid XML");
  }
  auto style_sheet = doc.child("styleSheet");
  auto formats = style_sheet.child("numFmts");
  std::set<long> area_ids = {kBuiltinTwoDecimals};
  long free_id = kFirstCustomFormat;
  for (auto format : formats.children("numFmt")) {
    const long id = format.attribute("numFmtId").as_llong();
    free_id = std::max(free_id, id + 1);
    if (IsAreaFormat(format.attribute("formatCode").value())) area_ids.insert(id);
  }
  bool any = false;
  for (auto xf : style_sheet.child("cellXfs").children("xf")) {
    auto id = xf.attribute("numFmtId");
    if (!id || area_ids.count(id.as_llong()) == 0) continue;
    id.set_value(static_cast<long long>(free_id));
    any = true;
  }
  if (!any) return styles_xml;
  if (!formats) formats = style_sheet.prepend_child("numFmts");
  const int places = std::clamp(decimals, 0, kMaxDecimals);
  const std::string code = places == 0 ? "0" : "0." + std::string(places, '0');
  auto format = formats.append_child("numFmt");
  format.append_attribute("numFmtId") = static_cast<long long>(free_id);
  format.append_attribute("formatCode") = code.c_str();
  long count = 0;
  for ([[maybe_unused]] auto node : formats.children("numFmt")) ++count;
  if (!formats.attribute("count")) formats.append_attribute("count");
  formats.attribute("count").set_value(static_cast<long long>(count));
  return SavePart(doc);
}

}  // namespace landstat::sheet
