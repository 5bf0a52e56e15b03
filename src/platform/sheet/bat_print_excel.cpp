#include "platform/sheet/bat_print_excel.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <deque>
#include <filesystem>
#include <mutex>
#include <set>
#include <utility>

#include "platform/sheet/area_format.h"
#include "platform/sheet/sheet_fill.h"
#include "platform/sheet/workbook_package.h"

namespace landstat::sheet {
namespace {

constexpr std::size_t kMaxNameUnits = 31;  // UTF-16 units, as spreadsheet programs count
constexpr const char* kStylesPart = "xl/styles.xml";

std::mutex& OpenerMutex() {
  static std::mutex mutex;
  return mutex;
}

FileOpener& Opener() {
  static FileOpener opener;
  return opener;
}

std::string Lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

// The length of the UTF-8 sequence that starts with `lead`.
std::size_t SequenceLength(unsigned char lead) {
  if (lead >= 0xF0) return 4;
  if (lead >= 0xE0) return 3;
  if (lead >= 0xC0) return 2;
  return 1;
}

// `text` cut to at most `units` UTF-16 units, never inside a character.
std::string CutToUnits(const std::string& text, std::size_t units) {
  std::size_t used = 0;
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t length = SequenceLength(static_cast<unsigned char>(text[at]));
    const std::size_t weight = length == 4 ? 2 : 1;
    if (used + weight > units) break;
    used += weight;
    at += length;
  }
  return text.substr(0, std::min(at, text.size()));
}

// A work file that no other user can reach and that nothing leaves behind:
// made with O_EXCL in a directory of its own from mkdtemp, then unlinked
// with its directory at once, so that only the returned descriptor holds it.
int NewWorkFile(const std::string& workbook) {
  std::string folder = (std::filesystem::temp_directory_path() / "landstat-sheet-XXXXXX").string();
  if (::mkdtemp(folder.data()) == nullptr) {
    throw SheetError(fmt::format("workbook {}: no work folder can be made in {}: {}", workbook,
                                 std::filesystem::temp_directory_path().string(),
                                 std::strerror(errno)));
  }
  const std::string file = folder + "/part.xml";
  const int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  const int error = errno;
  ::unlink(file.c_str());
  ::rmdir(folder.c_str());
  if (fd < 0) {
    throw SheetError(fmt::format("workbook {}: no work file can be made in {}: {}", workbook,
                                 folder, std::strerror(error)));
  }
  return fd;
}

// Rewrites the styles so that every area shows `decimals` decimals.
void ApplyAreaDecimals(WorkbookPackage& package, int decimals) {
  if (decimals < 0) return;
  const std::string styles = package.ReadPart(kStylesPart);
  if (styles.empty()) return;
  try {
    package.ReplacePart(kStylesPart, WithAreaDecimals(styles, decimals));
  } catch (const SheetError& error) {
    throw SheetError(fmt::format("workbook {}: {}", package.Path(), error.what()));
  }
}

}  // namespace

void SetFileOpener(FileOpener opener) {
  const std::lock_guard lock(OpenerMutex());
  Opener() = std::move(opener);
}

std::string MakeSheetName(std::string_view requested, const std::vector<std::string>& taken) {
  std::string base;
  for (char c : requested) {
    const bool forbidden = std::string_view("[]:*?/\\").find(c) != std::string_view::npos;
    base += forbidden ? '_' : c;
  }
  while (!base.empty() && base.front() == '\'') base.erase(base.begin());
  while (!base.empty() && base.back() == '\'') base.pop_back();
  if (base.empty()) base = "Sheet";
  std::set<std::string> used;
  for (const auto& name : taken) used.insert(Lower(name));
  std::string name = CutToUnits(base, kMaxNameUnits);
  // Each taken name rules out at most one candidate, so this ends.
  for (std::size_t n = 2; used.count(Lower(name)) != 0 && n <= taken.size() + 2; ++n) {
    const std::string suffix = fmt::format("({})", n);
    name = CutToUnits(base, kMaxNameUnits - suffix.size()) + suffix;
  }
  return name;
}

struct BatPrintExcel::State {
  State(std::string path, std::string origin) : package(std::move(path), std::move(origin)) {}
  ~State() {
    for (int fd : work_files) ::close(fd);
  }

  SheetPart& Resolve(const std::string& name) {
    auto made = made_for.find(name);
    if (made != made_for.end() && !made->second.empty()) {
      const std::string actual = made->second.front();
      made->second.pop_front();
      return Require(actual);
    }
    return Require(name);
  }

  SheetPart& Require(const std::string& name) {
    if (SheetPart* sheet = package.Find(name)) return *sheet;
    throw SheetError(fmt::format("{}: no sheet \"{}\"", package.ContentName(), name));
  }

  // A sheet as the template holds it: its part and what of it is printed.
  struct TemplateSheet {
    std::string xml;
    PrintSetup print;
  };

  // The sheet as the template holds it, read once before it is replaced.
  const TemplateSheet& TemplateOf(const SheetPart& sheet) {
    auto found = templates.find(sheet.name);
    if (found != templates.end()) return found->second;
    return templates[sheet.name] = {
               sheet.has_new_text ? sheet.new_text : package.ReadPart(sheet.part), sheet.print};
  }

  WorkbookPackage package;
  std::map<std::string, TemplateSheet> templates;
  std::map<std::string, std::deque<std::string>> made_for;  // requested name -> sheets made
  std::set<std::string> filled;
  std::set<std::string> copied_from;
  std::vector<int> work_files;  // descriptors of nameless files
  std::string failure;          // the fill that failed, which stops the save
  int area_decimals = -1;       // the decimals every area style shows; -1: as the template has it
  bool saved = false;
};

BatPrintExcel::BatPrintExcel(std::string path, std::string template_path)
    : state_(new State(std::move(path), std::move(template_path))) {}

BatPrintExcel::~BatPrintExcel() = default;

std::vector<std::string> BatPrintExcel::SheetNames() const {
  return state_->package.SheetNames();
}

short BatPrintExcel::FillSheet(SheetRows& rows, const std::string& sheet,
                               std::span<const SWhiteParam> pairs, Paging paging, Columns columns) {
  auto& state = *state_;
  try {
    SheetPart& part = state.Resolve(sheet);
    FillTarget target;
    target.workbook = state.package.Path();
    target.layout = state.package.ContentName();
    target.sheet = part.name;
    target.shared_strings = &state.package.SharedStrings();
    target.out_fd = NewWorkFile(state.package.Path());
    state.work_files.push_back(target.out_fd);
    const State::TemplateSheet& source = state.TemplateOf(part);
    PrintSetup print = source.print;
    FillSheetPart(source.xml, rows, pairs, paging, columns, target, print);
    part.print = print;
    part.new_fd = target.out_fd;
    part.has_new_text = false;
    state.filled.insert(part.name);
  } catch (const std::exception& error) {
    state.failure = error.what();
    throw;
  }
  return 1;
}

short BatPrintExcel::FillSheet(db::Recordset& recordset, const std::string& sheet,
                               std::span<const SWhiteParam> pairs, Paging paging) {
  RecordsetRows rows(recordset);
  return FillSheet(rows, sheet, pairs, paging);
}

short BatPrintExcel::FillSheet1(gis::LayerHandle table, short kind, const std::string& sheet,
                                std::span<const SWhiteParam> pairs, Paging paging) {
  if (kind != static_cast<short>(gis::EntityKind::kTable)) {
    throw SheetError(
        fmt::format("workbook {}, sheet \"{}\": records of kind {} cannot fill a "
                    "sheet; only attribute records (7) do",
                    state_->package.Path(), sheet, kind));
  }
  AttributeTableRows rows(table);
  return FillSheet(rows, sheet, pairs, paging);
}

short BatPrintExcel::CopyAddModifySheet(const std::string& sheet,
                                        const std::vector<std::string>& names, int) {
  auto& state = *state_;
  auto& package = state.package;
  SheetPart& source = state.Require(sheet);
  const State::TemplateSheet& from = state.TemplateOf(source);
  const std::string layout =
      CopyableSheet(from.xml, fmt::format("workbook {}, sheet \"{}\"", package.Path(), sheet));
  const PrintSetup print = from.print;
  const auto local_names = source.local_names;
  state.copied_from.insert(sheet);
  std::size_t after = 0;
  for (const auto& names_now = package.Sheets(); after < names_now.size(); ++after) {
    if (names_now[after].name == sheet) break;
  }
  for (const auto& requested : names) {
    const std::string name = MakeSheetName(requested, package.SheetNames());
    // AddSheet may move the sheets; `source` is not used past this point.
    SheetPart& added = package.AddSheet(name, after++);
    added.new_text = layout;
    added.has_new_text = true;
    added.print = print;
    added.local_names = local_names;
    state.templates[name] = {layout, print};
    state.made_for[requested].push_back(name);
  }
  return static_cast<short>(names.size());
}

void BatPrintExcel::SetAreaDecimals(int decimals) {
  state_->area_decimals = decimals;
}

void BatPrintExcel::PrintOut(short view, int) {
  auto& state = *state_;
  auto& package = state.package;
  if (!state.failure.empty()) {
    throw SheetError(
        fmt::format("workbook {} not saved: a fill failed: {}", package.Path(), state.failure));
  }
  if (state.saved) throw SheetError(fmt::format("workbook {} saved twice", package.Path()));
  // The template's other reports go; what nobody filled is not part of this one.
  const std::set<std::string>& wanted = !state.filled.empty() ? state.filled : state.copied_from;
  if (!wanted.empty()) {
    for (auto& sheet : package.Sheets()) sheet.keep = wanted.count(sheet.name) != 0;
  }
  ApplyAreaDecimals(package, state.area_decimals);
  package.Save();
  state.saved = true;
  if (view == 0) ShowWorkbook(package.Path());
}

void ShowWorkbook(const std::string& path) {
  FileOpener opener;
  {
    const std::lock_guard lock(OpenerMutex());
    opener = Opener();
  }
  if (!opener) {
    throw SheetError(fmt::format("workbook {} saved, but no program is set to show it", path));
  }
  opener(path);
}

void MergeExcelEx(const std::string& target, const std::string& source) {
  WorkbookPackage into(target);
  WorkbookPackage from(source);
  for (const char* part : {"xl/styles.xml", "xl/sharedStrings.xml"}) {
    if (into.ReadPart(part) != from.ReadPart(part)) {
      throw SheetError(
          fmt::format("workbook {} cannot take the sheets of {}: not made from the "
                      "same template ({} differs)",
                      target, source, part));
    }
  }
  for (const auto& sheet : from.Sheets()) {
    if (from.HasPart(WorkbookPackage::RelsPartOf(sheet.part))) {
      throw SheetError(
          fmt::format("workbook {}, sheet \"{}\": refers to images or other parts "
                      "and cannot be merged into {}",
                      source, sheet.name, target));
    }
    const std::string name = MakeSheetName(sheet.name, into.SheetNames());
    SheetPart& added = into.AddSheet(name, into.Sheets().size());
    added.from_archive = from.Archive();
    added.from_index =
        static_cast<zip_uint64_t>(zip_name_locate(from.Archive(), sheet.part.c_str(), 0));
    added.print = sheet.print;
    added.local_names = sheet.local_names;
  }
  into.Save();
}

}  // namespace landstat::sheet
