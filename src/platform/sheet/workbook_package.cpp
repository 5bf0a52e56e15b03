#include "platform/sheet/workbook_package.h"

#include <fmt/format.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <pugixml.hpp>
#include <sstream>
#include <utility>
#include <vector>

#include "platform/sheet/sheet_error.h"

namespace landstat::sheet {
namespace {

constexpr const char* kWorkbookPart = "xl/workbook.xml";
constexpr const char* kWorkbookRelsPart = "xl/_rels/workbook.xml.rels";
constexpr const char* kContentTypesPart = "[Content_Types].xml";
constexpr const char* kSharedStringsPart = "xl/sharedStrings.xml";
constexpr const char* kSheetType =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet";
constexpr const char* kSheetContentType =
    "application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml";
constexpr const char* kPrintTitles = "_xlnm.Print_Titles";
constexpr const char* kPrintArea = "_xlnm.Print_Area";
// The most a template part may hold when read whole: far above any template
// sheet, far below what would exhaust memory on a damaged or hostile archive.
constexpr zip_uint64_t kMaxPartBytes = 256ull << 20;
constexpr const char* kRelNamespace =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships";

// "worksheets/sheet1.xml" beside the workbook part, or "/xl/..." from the root.
std::string ResolveTarget(const std::string& target) {
  if (!target.empty() && target[0] == '/') return target.substr(1);
  return "xl/" + target;
}

// The sheet name quoted as a reference to it: 'It''s'.
std::string QuotedSheet(const std::string& name) {
  std::string quoted = "'";
  for (char c : name) {
    quoted += c;
    if (c == '\'') quoted += '\'';
  }
  return quoted + "'";
}

// One range of a print-titles text without its sheet: "$1:$3" or "1:3" as
// rows, "$A:$B" or "A:B" as columns.
bool IsRange(const std::string& range, bool digits) {
  const auto colon = range.find(':');
  if (colon == std::string::npos) return false;
  for (const std::string& end : {range.substr(0, colon), range.substr(colon + 1)}) {
    const std::string bare = !end.empty() && end[0] == '$' ? end.substr(1) : end;
    if (bare.empty() || bare.size() > 7) return false;
    for (char c : bare) {
      if (digits ? (c < '0' || c > '9') : (c < 'A' || c > 'Z')) {
        return false;
      }
    }
  }
  return true;
}

std::string Absolute(const std::string& range) {
  const auto colon = range.find(':');
  const auto dollar = [](const std::string& end) { return end[0] == '$' ? end : "$" + end; };
  return dollar(range.substr(0, colon)) + ":" + dollar(range.substr(colon + 1));
}

// The pieces of a defined name's text separated by commas outside quotes.
std::vector<std::string> Pieces(const std::string& text) {
  std::vector<std::string> pieces(1);
  bool quoted = false;
  for (char c : text) {
    if (c == '\'') quoted = !quoted;
    if (c == ',' && !quoted) {
      pieces.emplace_back();
    } else {
      pieces.back() += c;
    }
  }
  return pieces;
}

// The range of a defined name's piece "'Sheet'!$A$1:$B$2", without its sheet.
std::string RangeOf(const std::string& piece) {
  const auto bang = piece.rfind('!');
  return bang == std::string::npos ? std::string() : piece.substr(bang + 1);
}

// The number of a row end "$4" or "4"; 0 for anything else.
long RowNumber(const std::string& end) {
  const std::string bare = !end.empty() && end[0] == '$' ? end.substr(1) : end;
  long row = 0;
  const char* last = bare.data() + bare.size();
  const auto [stop, error] = std::from_chars(bare.data(), last, row);
  return error == std::errc() && stop == last ? row : 0;
}

// A cell "$A$4" or "A4" as its column letters and row digits; false for
// anything else.
bool SplitCell(const std::string& cell, std::string& letters, std::string& digits) {
  std::size_t at = !cell.empty() && cell[0] == '$' ? 1 : 0;
  const std::size_t letters_at = at;
  while (at < cell.size() && cell[at] >= 'A' && cell[at] <= 'Z') ++at;
  letters = cell.substr(letters_at, at - letters_at);
  if (at < cell.size() && cell[at] == '$') ++at;
  digits = cell.substr(at);
  return !letters.empty() && letters.size() <= 3 && RowNumber(digits) > 0 && digits[0] != '0';
}

// The print titles of a text "'Sheet'!$A:$B,'Sheet'!$4:$6": the heading
// rows and the columns; false, `print` untouched, when the text holds
// anything else.
bool ParseTitles(const std::string& text, PrintSetup& print) {
  long first_row = 0;
  long last_row = 0;
  std::string columns;
  const std::vector<std::string> pieces = Pieces(text);
  if (pieces.size() > 2) return false;
  for (const std::string& piece : pieces) {
    const std::string range = RangeOf(piece);
    const auto colon = range.find(':');
    if (IsRange(range, true)) {
      first_row = RowNumber(range.substr(0, colon));
      last_row = RowNumber(range.substr(colon + 1));
      if (first_row <= 0 || last_row < first_row) return false;
    } else if (IsRange(range, false)) {
      columns = Absolute(range);
    } else {
      return false;
    }
  }
  if (last_row == 0 && columns.empty()) return false;
  print.title_first_row = first_row;
  print.title_last_row = last_row;
  print.title_columns = columns;
  return true;
}

// The print area of a text "'Sheet'!$A$4:$X$7": one range of cells, written
// absolute; false, `print` untouched, for anything else.
bool ParseArea(const std::string& text, PrintSetup& print) {
  const std::vector<std::string> pieces = Pieces(text);
  const std::string range = RangeOf(pieces.front());
  const auto colon = range.find(':');
  if (pieces.size() != 1 || colon == std::string::npos) return false;
  std::string area;
  for (const std::string& cell : {range.substr(0, colon), range.substr(colon + 1)}) {
    std::string letters, digits;
    if (!SplitCell(cell, letters, digits)) return false;
    area += (area.empty() ? "$" : ":$") + letters + "$" + digits;
  }
  print.area = area;
  return true;
}

// The print titles of a sheet as a defined name's text; empty for none.
std::string PrintTitles(const SheetPart& sheet) {
  const std::string quoted = QuotedSheet(sheet.name);
  std::string text;
  if (!sheet.print.title_columns.empty()) text = quoted + "!" + sheet.print.title_columns;
  if (sheet.print.title_last_row > 0) {
    text += fmt::format("{}{}!${}:${}", text.empty() ? "" : ",", quoted,
                        sheet.print.title_first_row, sheet.print.title_last_row);
  }
  return text;
}

}  // namespace

std::string SavePart(const pugi::xml_document& doc) {
  std::ostringstream out;
  out << "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n";
  doc.save(out, "", pugi::format_raw | pugi::format_no_declaration);
  return out.str();
}

struct WorkbookPackage::Xml {
  pugi::xml_document workbook;
  pugi::xml_document rels;
  pugi::xml_document types;
};

WorkbookPackage::WorkbookPackage(std::string path, std::string origin)
    : path_(std::move(path)), origin_(std::move(origin)), xml_(new Xml) {
  int code = 0;
  archive_ = zip_open(path_.c_str(), 0, &code);
  if (archive_ == nullptr) {
    zip_error_t error;
    zip_error_init_with_code(&error, code);
    const std::string reason = zip_error_strerror(&error);
    zip_error_fini(&error);
    throw SheetError(Damaged("cannot be opened: " + reason));
  }
  try {
    Load();
  } catch (...) {
    zip_discard(archive_);
    archive_ = nullptr;
    throw;
  }
}

WorkbookPackage::~WorkbookPackage() {
  if (archive_ != nullptr) zip_discard(archive_);
}

std::string WorkbookPackage::Fail(const std::string& what) const {
  return fmt::format("workbook {}: {}", path_, what);
}

std::string WorkbookPackage::ContentName() const {
  return origin_.empty() ? "workbook " + path_ : "template workbook " + origin_;
}

std::string WorkbookPackage::Damaged(const std::string& what) const {
  return ContentName() + ": " + what;
}

bool WorkbookPackage::HasPart(const std::string& part) const {
  return zip_name_locate(archive_, part.c_str(), 0) >= 0;
}

std::string WorkbookPackage::ReadPart(const std::string& part) const {
  const zip_int64_t index = zip_name_locate(archive_, part.c_str(), 0);
  if (index < 0) return {};
  zip_stat_t stat;
  zip_file_t* file = zip_fopen_index(archive_, index, 0);
  if (file == nullptr || zip_stat_index(archive_, index, 0, &stat) != 0) {
    if (file != nullptr) zip_fclose(file);
    throw SheetError(
        Damaged(fmt::format("part {} cannot be read: {}", part, zip_strerror(archive_))));
  }
  if ((stat.valid & ZIP_STAT_SIZE) == 0 || stat.size > kMaxPartBytes) {
    zip_fclose(file);
    throw SheetError(
        Damaged((stat.valid & ZIP_STAT_SIZE) == 0
                    ? fmt::format("part {} does not say its size", part)
                    : fmt::format("part {} claims {} bytes, more than the {} a part may "
                                  "hold",
                                  part, stat.size, kMaxPartBytes)));
  }
  std::string text(stat.size, '\0');
  const zip_int64_t read = zip_fread(file, text.data(), stat.size);
  zip_fclose(file);
  if (read != static_cast<zip_int64_t>(stat.size)) {
    throw SheetError(Damaged(fmt::format("part {} is damaged", part)));
  }
  return text;
}

void WorkbookPackage::Load() {
  const auto parse = [&](pugi::xml_document& doc, const char* part) {
    const std::string text = ReadPart(part);
    if (text.empty())
      throw SheetError(Damaged(fmt::format("is no .xlsx workbook: {} missing", part)));
    const auto result = doc.load_buffer(text.data(), text.size());
    if (!result) {
      throw SheetError(Damaged(fmt::format("part {} is no valid XML: {} at byte {}", part,
                                           result.description(), result.offset)));
    }
  };
  parse(xml_->workbook, kWorkbookPart);
  parse(xml_->rels, kWorkbookRelsPart);
  parse(xml_->types, kContentTypesPart);

  const auto workbook = xml_->workbook.child("workbook");
  for (auto node : workbook.child("sheets").children("sheet")) {
    SheetPart sheet;
    sheet.name = node.attribute("name").value();
    sheet.sheet_id = node.attribute("sheetId").as_llong();
    sheet.relation_id = node.attribute("r:id").value();
    const auto rel = xml_->rels.child("Relationships")
                         .find_child_by_attribute("Relationship", "Id", sheet.relation_id.c_str());
    if (!rel) {
      throw SheetError(Damaged(
          fmt::format("sheet \"{}\" has no part (relation {})", sheet.name, sheet.relation_id)));
    }
    sheet.part = ResolveTarget(rel.attribute("Target").value());
    sheet.in_archive = HasPart(sheet.part);
    if (!sheet.in_archive) {
      throw SheetError(
          Damaged(fmt::format("sheet \"{}\": part {} missing", sheet.name, sheet.part)));
    }
    sheets_.push_back(std::move(sheet));
  }
  if (sheets_.empty()) throw SheetError(Damaged("holds no sheet"));

  // Names local to a sheet are kept with it, so that they follow it when
  // sheets are removed, added or merged; they are written back at save.
  auto names = workbook.child("definedNames");
  for (auto node = names.first_child(); node;) {
    const auto next = node.next_sibling();
    if (node.attribute("localSheetId")) {
      const auto index = node.attribute("localSheetId").as_ullong();
      if (index < sheets_.size()) {
        const std::string name = node.attribute("name").value();
        const std::string text = node.text().get();
        auto& sheet = sheets_[index];
        const bool parsed = (name == kPrintTitles && ParseTitles(text, sheet.print)) ||
                            (name == kPrintArea && ParseArea(text, sheet.print));
        if (!parsed) sheet.local_names.emplace_back(name, text);
      }
      names.remove_child(node);
    }
    node = next;
  }
}

SheetPart* WorkbookPackage::Find(const std::string& name) {
  for (auto& sheet : sheets_) {
    if (sheet.name == name) return &sheet;
  }
  return nullptr;
}

std::vector<std::string> WorkbookPackage::SheetNames() const {
  std::vector<std::string> names;
  for (const auto& sheet : sheets_) names.push_back(sheet.name);
  return names;
}

const std::vector<std::string>& WorkbookPackage::SharedStrings() {
  if (shared_strings_read_) return shared_strings_;
  shared_strings_read_ = true;
  const std::string text = ReadPart(kSharedStringsPart);
  if (text.empty()) return shared_strings_;
  pugi::xml_document doc;
  if (!doc.load_buffer(text.data(), text.size())) {
    throw SheetError(Damaged(fmt::format("part {} is no valid XML", kSharedStringsPart)));
  }
  for (auto item : doc.child("sst").children("si")) {
    std::string value = item.child("t").text().get();
    for (auto run : item.children("r")) value += run.child("t").text().get();
    shared_strings_.push_back(std::move(value));
  }
  return shared_strings_;
}

std::string WorkbookPackage::RelsPartOf(const std::string& part) {
  const auto slash = part.rfind('/');
  return part.substr(0, slash + 1) + "_rels/" + part.substr(slash + 1) + ".rels";
}

SheetPart& WorkbookPackage::AddSheet(const std::string& name, std::size_t after) {
  SheetPart sheet;
  sheet.name = name;
  long id = 0;
  for (const auto& other : sheets_) id = std::max(id, other.sheet_id);
  sheet.sheet_id = id + 1;
  // A part name and relation id that nothing in the package uses yet.
  const auto rels = xml_->rels.child("Relationships");
  for (long n = 1;; ++n) {
    const std::string part = fmt::format("xl/worksheets/sheet{}.xml", n);
    const bool used = HasPart(part) || std::any_of(sheets_.begin(), sheets_.end(),
                                                   [&](const auto& s) { return s.part == part; });
    if (!used) {
      sheet.part = part;
      break;
    }
  }
  for (long n = 1;; ++n) {
    const std::string id_text = fmt::format("rId{}", n);
    const bool used = rels.find_child_by_attribute("Relationship", "Id", id_text.c_str()) ||
                      std::any_of(sheets_.begin(), sheets_.end(),
                                  [&](const auto& s) { return s.relation_id == id_text; });
    if (!used) {
      sheet.relation_id = id_text;
      break;
    }
  }
  const auto at = after < sheets_.size() ? sheets_.begin() + after + 1 : sheets_.end();
  return *sheets_.insert(at, std::move(sheet));
}

void WorkbookPackage::ReplacePart(const std::string& part, std::string text) {
  const std::string& kept = Keep(std::move(text));
  AddEntry(part, zip_source_buffer(archive_, kept.data(), kept.size(), 0));
}

const std::string& WorkbookPackage::Keep(std::string text) {
  buffers_.push_back(std::move(text));
  return buffers_.back();
}

zip_source_t* WorkbookPackage::FileSource(int fd) {
  const int copy = ::dup(fd);
  std::FILE* file = copy >= 0 ? ::fdopen(copy, "rb") : nullptr;
  if (file == nullptr) {
    if (copy >= 0) ::close(copy);
    throw SheetError(
        Fail(fmt::format("a filled sheet cannot be read back: {}", std::strerror(errno))));
  }
  std::rewind(file);
  zip_source_t* source = zip_source_filep(archive_, file, 0, -1);
  if (source == nullptr) std::fclose(file);
  return source;  // the archive closes the stream with the source
}

void WorkbookPackage::AddEntry(const std::string& name, zip_source_t* source) {
  if (source == nullptr ||
      zip_file_add(archive_, name.c_str(), source, ZIP_FL_OVERWRITE | ZIP_FL_ENC_UTF_8) < 0) {
    if (source != nullptr) zip_source_free(source);
    throw SheetError(
        Fail(fmt::format("part {} cannot be written: {}", name, zip_strerror(archive_))));
  }
}

void WorkbookPackage::WriteWorkbook(const std::vector<const SheetPart*>& kept) {
  auto workbook = xml_->workbook.child("workbook");
  auto sheets = workbook.child("sheets");
  while (sheets.first_child()) sheets.remove_child(sheets.first_child());
  for (const auto* sheet : kept) {
    auto node = sheets.append_child("sheet");
    node.append_attribute("name") = sheet->name.c_str();
    node.append_attribute("sheetId") = static_cast<long long>(sheet->sheet_id);
    node.append_attribute("r:id") = sheet->relation_id.c_str();
  }
  if (!workbook.attribute("xmlns:r")) workbook.append_attribute("xmlns:r") = kRelNamespace;

  // Local names again, numbered by the sheets' new places.
  auto names = workbook.child("definedNames");
  if (!names) names = workbook.insert_child_after("definedNames", sheets);
  for (std::size_t i = 0; i < kept.size(); ++i) {
    const auto add = [&](const std::string& name, const std::string& text) {
      auto node = names.append_child("definedName");
      node.append_attribute("name") = name.c_str();
      node.append_attribute("localSheetId") = static_cast<unsigned long long>(i);
      node.text() = text.c_str();
    };
    const std::string titles = PrintTitles(*kept[i]);
    if (!titles.empty()) add(kPrintTitles, titles);
    if (!kept[i]->print.area.empty())
      add(kPrintArea, QuotedSheet(kept[i]->name) + "!" + kept[i]->print.area);
    for (const auto& [name, text] : kept[i]->local_names) add(name, text);
  }
  if (!names.first_child()) workbook.remove_child(names);
  // The first sheet is shown first; a tab number past the last sheet would
  // make the file unreadable to some programs.
  for (auto view : workbook.child("bookViews").children("workbookView")) {
    view.remove_attribute("firstSheet");
    if (auto tab = view.attribute("activeTab")) tab.set_value(0);
  }

  auto rels = xml_->rels.child("Relationships");
  for (const auto& sheet : sheets_) {
    if (auto rel = rels.find_child_by_attribute("Relationship", "Id", sheet.relation_id.c_str())) {
      rels.remove_child(rel);
    }
  }
  auto types = xml_->types.child("Types");
  for (const auto& sheet : sheets_) {
    const std::string name = "/" + sheet.part;
    if (auto type = types.find_child_by_attribute("Override", "PartName", name.c_str())) {
      types.remove_child(type);
    }
  }
  for (const auto* sheet : kept) {
    auto rel = rels.append_child("Relationship");
    rel.append_attribute("Id") = sheet->relation_id.c_str();
    rel.append_attribute("Type") = kSheetType;
    const bool beside = sheet->part.rfind("xl/", 0) == 0;
    rel.append_attribute("Target") = (beside ? sheet->part.substr(3) : "/" + sheet->part).c_str();
    auto type = types.append_child("Override");
    type.append_attribute("PartName") = ("/" + sheet->part).c_str();
    type.append_attribute("ContentType") = kSheetContentType;
  }
  for (const auto& [part, doc] :
       {std::pair{kWorkbookPart, &xml_->workbook}, std::pair{kWorkbookRelsPart, &xml_->rels},
        std::pair{kContentTypesPart, &xml_->types}}) {
    const std::string& text = Keep(SavePart(*doc));
    AddEntry(part, zip_source_buffer(archive_, text.data(), text.size(), 0));
  }
}

void WorkbookPackage::Save() {
  if (archive_ == nullptr) throw SheetError(Fail("saved twice"));
  std::vector<const SheetPart*> kept;
  for (const auto& sheet : sheets_) {
    if (sheet.keep) kept.push_back(&sheet);
  }
  if (kept.empty()) throw SheetError(Fail("no sheet would be left"));

  for (const auto& sheet : sheets_) {
    const bool replaced =
        !sheet.keep || sheet.has_new_text || sheet.new_fd >= 0 || sheet.from_archive != nullptr;
    if (sheet.in_archive && replaced) {
      // The sheet's own relationships (printer settings, drawings) go with
      // its old content: new contents refer to no other part.
      const zip_int64_t rels = zip_name_locate(archive_, RelsPartOf(sheet.part).c_str(), 0);
      if (rels >= 0) zip_delete(archive_, rels);
    }
    if (!sheet.keep) {
      if (sheet.in_archive) zip_delete(archive_, zip_name_locate(archive_, sheet.part.c_str(), 0));
      continue;
    }
    if (sheet.has_new_text) {
      const std::string& text = Keep(sheet.new_text);
      AddEntry(sheet.part, zip_source_buffer(archive_, text.data(), text.size(), 0));
    } else if (sheet.new_fd >= 0) {
      AddEntry(sheet.part, FileSource(sheet.new_fd));
    } else if (sheet.from_archive != nullptr) {
      AddEntry(sheet.part, zip_source_zip(archive_, sheet.from_archive, sheet.from_index, 0, 0, 0));
    }
  }
  WriteWorkbook(kept);
  if (zip_close(archive_) != 0) {
    const std::string reason = zip_strerror(archive_);
    zip_discard(archive_);
    archive_ = nullptr;
    throw SheetError(Fail("cannot be saved: " + reason));
  }
  archive_ = nullptr;
  buffers_.clear();
}

}  // namespace landstat::sheet
