#include "platform/sheet/sheet_fill.h"

#include <fmt/format.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <optional>
#include <pugixml.hpp>

#include "platform/sheet/workbook_package.h"
#include "platform/text/ascii_text.h"
#include "platform/text/text_encoding.h"

namespace landstat::sheet {
namespace {

constexpr const char* kRowsMark = "landstat-data-rows";
constexpr const char* kBreaksMark = "landstat-row-breaks";
constexpr int kDefaultPageLength = 30;
constexpr std::size_t kFlushBytes = 1 << 20;
// The characters a page header or footer holds, its codes included.
constexpr std::size_t kMaxHeaderFooterUnits = 255;

// Elements that follow rowBreaks in a worksheet, in the order the format fixes.
constexpr const char* kAfterRowBreaks[] = {
    "colBreaks",  "customProperties", "cellWatches",     "ignoredErrors", "smartTags",
    "drawing",    "legacyDrawing",    "legacyDrawingHF", "drawingHF",     "picture",
    "oleObjects", "controls",         "webPublishItems", "tableParts",    "extLst"};
constexpr const char* kRelationElements[] = {"drawing",   "legacyDrawing", "legacyDrawingHF",
                                             "drawingHF", "picture",       "oleObjects",
                                             "controls",  "tableParts"};

std::string ColumnLetters(int column) {
  std::string letters;
  for (int n = column + 1; n > 0; n = (n - 1) / 26) {
    letters.insert(letters.begin(), static_cast<char>('A' + (n - 1) % 26));
  }
  return letters;
}

// A reference without its '$' marks: "$A$4" as "A4".
std::string Bare(const std::string& reference) {
  std::string bare;
  for (char c : reference) {
    if (c != '$') bare += c;
  }
  return bare;
}

// A value as a page header or footer shows it: a lone '&' there starts a code.
std::string HeaderFooterText(std::string_view value) {
  std::string text;
  for (char c : value) {
    text += c;
    if (c == '&') text += '&';
  }
  return text;
}

// "AB12" into column 27 (from 0) and row 12; false for anything else.
bool ParseRef(std::string_view ref, int& column, long& row) {
  std::size_t i = 0;
  column = 0;
  while (i < ref.size() && ref[i] >= 'A' && ref[i] <= 'Z' && i < 4) {
    column = column * 26 + (ref[i] - 'A' + 1);
    ++i;
  }
  if (i == 0 || i == ref.size()) return false;
  row = 0;
  for (; i < ref.size(); ++i) {
    if (ref[i] < '0' || ref[i] > '9' || row > kMaxSheetRows) return false;
    row = row * 10 + (ref[i] - '0');
  }
  --column;
  return row > 0;
}

std::optional<std::string> CellText(pugi::xml_node cell, const std::vector<std::string>& shared) {
  const std::string_view type = cell.attribute("t").value();
  if (type == "s") {
    const auto index = cell.child("v").text().as_ullong(shared.size());
    if (index < shared.size()) return shared[index];
    return std::nullopt;
  }
  if (type == "inlineStr") {
    const auto is = cell.child("is");
    std::string text = is.child("t").text().get();
    for (auto run : is.children("r")) text += run.child("t").text().get();
    return text;
  }
  return std::nullopt;
}

void SetInlineText(pugi::xml_node cell, const std::string& text) {
  while (cell.first_child()) cell.remove_child(cell.first_child());
  if (!cell.attribute("t")) cell.append_attribute("t");
  cell.attribute("t").set_value("inlineStr");
  auto t = cell.append_child("is").append_child("t");
  if (!text.empty() && (text.front() == ' ' || text.back() == ' ')) {
    t.append_attribute("xml:space") = "preserve";
  }
  t.text() = text.c_str();
}

bool ReplaceKeys(std::string& text, std::span<const SWhiteParam> pairs) {
  bool changed = false;
  for (const auto& pair : pairs) {
    const std::string mark = "{" + pair.key + "}";
    for (auto at = text.find(mark); at != std::string::npos; at = text.find(mark, at)) {
      text.replace(at, mark.size(), pair.value);
      at += pair.value.size();
      changed = true;
    }
  }
  return changed;
}

// The page length of a data marker "{数据}" / "{数据:N}"; nullopt for other text.
std::optional<int> DataMarker(const std::string& text) {
  static const std::string kOpen = "{数据";
  if (text.rfind(kOpen, 0) != 0 || text.back() != '}') return std::nullopt;
  const std::string rest = text.substr(kOpen.size(), text.size() - kOpen.size() - 1);
  if (rest.empty()) return kDefaultPageLength;
  if (rest[0] != ':' || rest.size() < 2 || rest.size() > 7) return std::nullopt;
  int length = 0;
  const char* end = rest.data() + rest.size();
  const auto [stop, error] = std::from_chars(rest.data() + 1, end, length);
  if (error != std::errc() || stop != end || length <= 0) return std::nullopt;
  return length;
}

void AppendEscaped(std::string& out, std::string_view text) {
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      default:
        // XML 1.0 holds no control characters but tab, line feed and return.
        if (static_cast<unsigned char>(c) >= 0x20 || c == '\t' || c == '\n' || c == '\r') {
          out += c;
        }
    }
  }
}

void NoTabSelection(pugi::xml_node worksheet) {
  for (auto view : worksheet.child("sheetViews").children("sheetView")) {
    view.remove_attribute("tabSelected");
  }
}

// The data row of a template sheet and what its rows are written with.
struct DataRow {
  long number = 0;
  int first_column = 0;
  int page_length = kDefaultPageLength;
  std::string row_attributes;       // of the data row, without r and spans
  std::vector<std::string> styles;  // per data column, from the first; "" for none
  long last_template_row = 0;
  // The texts of the row directly above the data row, per data column from
  // the first: the field row, when the columns are filled by name.
  std::vector<std::string> fields;
};

// Writes a sheet part to its work file through a buffer.
class RowStream {
 public:
  explicit RowStream(const FillTarget& target) : target_(target) {
    buffer_.reserve(kFlushBytes + 4096);
  }
  std::string& buffer() { return buffer_; }
  void Write(std::string_view text) {
    buffer_ += text;
    if (buffer_.size() >= kFlushBytes) Flush();
  }
  void MaybeFlush() {
    if (buffer_.size() >= kFlushBytes) Flush();
  }
  void Close() { Flush(); }

 private:
  void Flush() {
    std::size_t written = 0;
    while (written < buffer_.size()) {
      const ssize_t wrote =
          ::write(target_.out_fd, buffer_.data() + written, buffer_.size() - written);
      if (wrote < 0 && errno == EINTR) continue;
      if (wrote <= 0) {
        throw SheetError(
            fmt::format("workbook {}, sheet \"{}\": the work file cannot be written: {}",
                        target_.workbook, target_.sheet, std::strerror(errno)));
      }
      written += static_cast<std::size_t>(wrote);
    }
    buffer_.clear();
  }
  const FillTarget& target_;
  std::string buffer_;
};

class SheetFiller {
 public:
  SheetFiller(const FillTarget& target, std::span<const SWhiteParam> pairs, Paging paging,
              Columns columns)
      : target_(target), pairs_(pairs), paging_(paging), columns_(columns) {}

  void Fill(const std::string& template_xml, SheetRows& rows, PrintSetup& print) {
    const auto parsed = doc_.load_buffer(template_xml.data(), template_xml.size());
    if (!parsed) FailLayout(fmt::format("is no valid XML: {}", parsed.description()));
    auto worksheet = doc_.child("worksheet");
    auto sheet_data = worksheet.child("sheetData");
    if (!sheet_data) FailLayout("holds no sheet data");
    worksheet.remove_child("dimension");
    DropRelations(doc_);
    NoTabSelection(worksheet);
    const pugi::xml_node data_node = PrepareRows(sheet_data);
    if (!data_node) FailLayout("has no data row (a cell \"{数据}\")");
    FillHeaderFooter(worksheet.child("headerFooter"));
    ReadFieldRow(sheet_data);
    auto mark = sheet_data.insert_child_before(pugi::node_comment, data_node);
    mark.set_value(kRowsMark);
    sheet_data.remove_child(data_node);
    PrepareBreaks(worksheet);

    RowStream out(target_);
    const std::string first = SavePart(doc_);
    const std::string rows_mark = fmt::format("<!--{}-->", kRowsMark);
    out.Write(std::string_view(first).substr(0, first.find(rows_mark)));
    const long count = WriteRows(rows, out);
    ShiftFooter(sheet_data, count - 1);
    const std::string second = SavePart(doc_);
    const std::string tail = second.substr(second.find(rows_mark) + rows_mark.size());
    const std::string breaks_mark = fmt::format("<!--{}-->", kBreaksMark);
    const auto at = tail.find(breaks_mark);
    if (at == std::string::npos) {
      out.Write(tail);
    } else {
      out.Write(std::string_view(tail).substr(0, at));
      WriteBreaks(count, out);
      out.Write(std::string_view(tail).substr(at + breaks_mark.size()));
    }
    out.Close();
    SetPrint(print, count);
  }

 private:
  // A fault of the sheet's layout, named after where the layout comes from.
  [[noreturn]] void FailLayout(const std::string& what) const {
    throw SheetError(fmt::format("{}, sheet \"{}\": {}", target_.layout, target_.sheet, what));
  }
  [[noreturn]] void Fail(const std::string& what) const {
    throw SheetError(
        fmt::format("workbook {}, sheet \"{}\": {}", target_.workbook, target_.sheet, what));
  }

  // Numbers rows and cells, replaces the keys and finds the data row.
  pugi::xml_node PrepareRows(pugi::xml_node sheet_data) {
    pugi::xml_node data_node;
    long row_number = 0;
    for (auto row : sheet_data.children("row")) {
      row_number = row.attribute("r") ? row.attribute("r").as_llong() : row_number + 1;
      if (row_number <= 0 || row_number > kMaxSheetRows)
        FailLayout("has a row numbered out of range");
      if (!row.attribute("r")) row.append_attribute("r");
      row.attribute("r").set_value(static_cast<long long>(row_number));
      data_.last_template_row = row_number;
      int column = -1;
      for (auto cell : row.children("c")) {
        long ignored = 0;
        if (!cell.attribute("r") || !ParseRef(cell.attribute("r").value(), column, ignored)) {
          ++column;
          if (!cell.attribute("r")) cell.append_attribute("r");
          cell.attribute("r").set_value(
              (ColumnLetters(column) + std::to_string(row_number)).c_str());
        }
        auto text = CellText(cell, *target_.shared_strings);
        if (!text) continue;
        if (auto length = DataMarker(*text); length && !data_node) {
          data_node = row;
          data_.number = row_number;
          data_.first_column = column;
          data_.page_length = *length;
        } else if (ReplaceKeys(*text, pairs_)) {
          SetInlineText(cell, *text);
        }
      }
    }
    if (data_node) ReadDataRow(data_node);
    return data_node;
  }

  void ReadDataRow(pugi::xml_node row) {
    for (auto attribute : row.attributes()) {
      const std::string_view name = attribute.name();
      if (name == "r" || name == "spans") continue;
      data_.row_attributes += fmt::format(" {}=\"", name);
      AppendEscaped(data_.row_attributes, attribute.value());
      data_.row_attributes += '"';
    }
    for (auto cell : row.children("c")) {
      int column = 0;
      long ignored = 0;
      ParseRef(cell.attribute("r").value(), column, ignored);
      if (column < data_.first_column) continue;
      const auto index = static_cast<std::size_t>(column - data_.first_column);
      if (data_.styles.size() <= index) data_.styles.resize(index + 1);
      data_.styles[index] = cell.attribute("s").value();
    }
  }

  void ReadFieldRow(pugi::xml_node sheet_data) {
    const auto above =
        sheet_data.find_child_by_attribute("row", "r", std::to_string(data_.number - 1).c_str());
    for (auto cell : above.children("c")) {
      int column = 0;
      long ignored = 0;
      const auto text = CellText(cell, *target_.shared_strings);
      if (!text || !ParseRef(cell.attribute("r").value(), column, ignored) ||
          column < data_.first_column) {
        continue;
      }
      const auto index = static_cast<std::size_t>(column - data_.first_column);
      if (data_.fields.size() <= index) data_.fields.resize(index + 1);
      data_.fields[index] = text::Trim(*text);
    }
  }

  // For each data column from the first, the source column it is filled
  // from, or -1 for none: by position, or by the names of the field row,
  // whose every name must be a column of the source.
  std::vector<int> SourceColumns(const std::vector<std::string>& names) const {
    std::vector<int> sources;
    if (columns_ == Columns::kByPosition) {
      for (std::size_t i = 0; i < names.size(); ++i) sources.push_back(static_cast<int>(i));
      return sources;
    }
    for (std::size_t k = 0; k < data_.fields.size(); ++k) {
      const std::string& field = data_.fields[k];
      int source = -1;
      for (std::size_t i = 0; i < names.size() && source < 0 && !field.empty(); ++i) {
        if (text::IEquals(names[i], field)) source = static_cast<int>(i);
      }
      if (source < 0 && !field.empty()) {
        FailLayout(fmt::format(
            "the field row names the column \"{}\" (cell {}{}), which the source "
            "lacks",
            field, ColumnLetters(data_.first_column + static_cast<int>(k)), data_.number - 1));
      }
      sources.push_back(source);
    }
    if (std::none_of(sources.begin(), sources.end(), [](int s) { return s >= 0; })) {
      FailLayout(
          fmt::format("has no field row (the source's column names in row {}, directly above "
                      "the data row)",
                      data_.number - 1));
    }
    return sources;
  }

  void PrepareBreaks(pugi::xml_node worksheet) {
    worksheet.remove_child("rowBreaks");
    if (paging_ != Paging::kPaged) return;
    pugi::xml_node before;
    for (const char* name : kAfterRowBreaks) {
      if ((before = worksheet.child(name))) break;
    }
    auto breaks = before ? worksheet.insert_child_before("rowBreaks", before)
                         : worksheet.append_child("rowBreaks");
    breaks_ = breaks;
    breaks.append_attribute("count") = 0;
    breaks.append_attribute("manualBreakCount") = 0;
    breaks.append_child(pugi::node_comment).set_value(kBreaksMark);
  }

  long WriteRows(SheetRows& rows, RowStream& out) {
    const long footer = data_.last_template_row - data_.number;
    const long room = kMaxSheetRows - (data_.number - 1) - footer;
    const std::vector<int> sources = SourceColumns(rows.ColumnNames());
    const std::size_t columns = sources.size();
    std::vector<std::string> letters;
    for (std::size_t i = 0; i < columns; ++i) {
      letters.push_back(ColumnLetters(data_.first_column + static_cast<int>(i)));
    }
    data_.styles.resize(std::max(data_.styles.size(), columns));
    std::vector<db::Value> row;
    long count = 0;
    while (rows.Next(row)) {
      if (count == room) Refuse(rows, count + 1, room);
      const std::string number = std::to_string(data_.number + count);
      std::string& buffer = out.buffer();
      buffer += "<row r=\"" + number + '"' + data_.row_attributes + '>';
      for (std::size_t i = 0; i < columns; ++i) {
        const auto source = static_cast<std::size_t>(sources[i]);
        if (sources[i] >= 0 && source < row.size()) {
          WriteCell(buffer, letters[i], number, data_.styles[i], row[source]);
        }
      }
      buffer += "</row>";
      out.MaybeFlush();
      ++count;
    }
    return count;
  }

  [[noreturn]] void Refuse(SheetRows& rows, long counted, long room) {
    std::vector<db::Value> row;
    // Counts the rest for the message; the source is finite and read once.
    while (rows.Next(row)) ++counted;
    Fail(
        fmt::format("report \"{}\" has {} rows, more than the {} the sheet holds below its "
                    "headings; nothing written",
                    target_.sheet, counted, room));
  }

  static void WriteCell(std::string& out, const std::string& letters, const std::string& number,
                        const std::string& style, const db::Value& value) {
    const bool numeric = value.IsInteger() || (value.IsDouble() && std::isfinite(value.AsDouble()));
    if (value.IsNull() && style.empty()) return;
    out += "<c r=\"";
    out += letters;
    out += number;
    out += '"';
    if (!style.empty()) {
      out += " s=\"";
      out += style;
      out += '"';
    }
    if (value.IsNull()) {
      out += "/>";
    } else if (numeric) {
      out += "><v>";
      if (value.IsInteger()) {
        out += fmt::format_int(value.AsInteger()).c_str();
      } else {
        fmt::format_to(std::back_inserter(out), "{}", value.AsDouble());
      }
      out += "</v></c>";
    } else {
      const std::string text = value.IsText() ? std::string() : value.AsText();
      const std::string_view view = value.IsText() ? value.TextView() : std::string_view(text);
      const bool spaced = !view.empty() && (view.front() == ' ' || view.back() == ' ');
      out +=
          spaced ? " t=\"inlineStr\"><is><t xml:space=\"preserve\">" : " t=\"inlineStr\"><is><t>";
      AppendEscaped(out, view);
      out += "</t></is></c>";
    }
  }

  // The keys of the page headers and footers filled as those of the cells,
  // the ampersands of the values doubled (a lone one starts a code there).
  void FillHeaderFooter(pugi::xml_node header_footer) {
    std::vector<SWhiteParam> quoted(pairs_.begin(), pairs_.end());
    for (auto& pair : quoted) pair.value = HeaderFooterText(pair.value);
    for (auto part : header_footer.children()) {
      std::string text = part.text().get();
      if (!ReplaceKeys(text, quoted)) continue;
      const std::size_t units = text::Utf16Units(text);
      if (units > kMaxHeaderFooterUnits) {
        Fail(fmt::format(
            "the page {} holds {} characters with its keys filled, more than the "
            "{} spreadsheet programs accept; shorten the header values",
            std::string_view(part.name()).find("Header") != std::string_view::npos ? "header"
                                                                                   : "footer",
            units, kMaxHeaderFooterUnits));
      }
      part.text() = text.c_str();
    }
  }

  // The heading rows head every printed page, paged or not (the pages of a
  // wide table spread across sheets of paper need them either way), from
  // the template's first title row; a print area reaching the data row
  // takes in the rows filled.
  void SetPrint(PrintSetup& print, long count) const {
    const long last = data_.number - 1;
    const bool from_template = print.title_first_row > 0 && print.title_first_row <= last;
    print.title_first_row = last > 0 ? (from_template ? print.title_first_row : 1) : 0;
    print.title_last_row = last;
    const auto colon = print.area.find(':');
    int c1 = 0, c2 = 0;
    long r1 = 0, r2 = 0;
    if (colon == std::string::npos || !ParseRef(Bare(print.area.substr(0, colon)), c1, r1) ||
        !ParseRef(Bare(print.area.substr(colon + 1)), c2, r2)) {
      return;
    }
    if (r1 > data_.number) r1 += count - 1;
    if (r2 >= data_.number) r2 = std::max(r1, r2 + count - 1);
    print.area = fmt::format("${}${}:${}${}", ColumnLetters(c1), r1, ColumnLetters(c2), r2);
  }

  // Moves the rows below the data row, and merged ranges there, by `shift`.
  void ShiftFooter(pugi::xml_node sheet_data, long shift) {
    if (shift == 0) return;
    for (auto row : sheet_data.children("row")) {
      const long number = row.attribute("r").as_llong();
      if (number <= data_.number) continue;
      row.attribute("r").set_value(static_cast<long long>(number + shift));
      for (auto cell : row.children("c")) {
        int column = 0;
        long ignored = 0;
        ParseRef(cell.attribute("r").value(), column, ignored);
        cell.attribute("r").set_value(
            (ColumnLetters(column) + std::to_string(number + shift)).c_str());
      }
    }
    for (auto merge : doc_.child("worksheet").child("mergeCells").children("mergeCell")) {
      const std::string ref = merge.attribute("ref").value();
      const auto colon = ref.find(':');
      int c1 = 0, c2 = 0;
      long r1 = 0, r2 = 0;
      if (colon == std::string::npos || !ParseRef(ref.substr(0, colon), c1, r1) ||
          !ParseRef(ref.substr(colon + 1), c2, r2) || r1 <= data_.number) {
        continue;
      }
      merge.attribute("ref").set_value(
          fmt::format("{}{}:{}{}", ColumnLetters(c1), r1 + shift, ColumnLetters(c2), r2 + shift)
              .c_str());
    }
  }

  void WriteBreaks(long count, RowStream& out) {
    const long length = data_.page_length;
    const long breaks = count > 0 ? (count - 1) / length : 0;
    breaks_.attribute("count").set_value(static_cast<long long>(breaks));
    breaks_.attribute("manualBreakCount").set_value(static_cast<long long>(breaks));
    for (long k = 1; k <= breaks; ++k) {
      out.buffer() +=
          fmt::format("<brk id=\"{}\" max=\"16383\" man=\"1\"/>", data_.number - 1 + k * length);
      out.MaybeFlush();
    }
  }

  const FillTarget& target_;
  std::span<const SWhiteParam> pairs_;
  Paging paging_;
  Columns columns_;
  pugi::xml_document doc_;
  DataRow data_;
  pugi::xml_node breaks_;
};

}  // namespace

void DropRelations(pugi::xml_document& doc) {
  auto worksheet = doc.child("worksheet");
  for (const char* name : kRelationElements) {
    while (worksheet.child(name)) worksheet.remove_child(name);
  }
  worksheet.child("pageSetup").remove_attribute("r:id");
}

void FillSheetPart(const std::string& template_xml, SheetRows& rows,
                   std::span<const SWhiteParam> pairs, Paging paging, Columns columns,
                   const FillTarget& target, PrintSetup& print) {
  SheetFiller filler(target, pairs, paging, columns);
  filler.Fill(template_xml, rows, print);
}

std::string CopyableSheet(const std::string& template_xml, const std::string& what) {
  pugi::xml_document doc;
  const auto parsed = doc.load_buffer(template_xml.data(), template_xml.size());
  if (!parsed) throw SheetError(fmt::format("{}: is no valid XML: {}", what, parsed.description()));
  DropRelations(doc);
  NoTabSelection(doc.child("worksheet"));
  return SavePart(doc);
}

}  // namespace landstat::sheet
