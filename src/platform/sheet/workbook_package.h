#pragma once

#include <zip.h>

#include <list>
#include <memory>
#include <string>
#include <vector>

namespace pugi {
class xml_document;
}

namespace landstat::sheet {

// The text of an XML part as the package stores it: declaration, no indent.
std::string SavePart(const pugi::xml_document& doc);

// What of a sheet is printed: the rows and columns repeated on every
// printed page and the printed cells.
struct PrintSetup {
  long title_first_row = 0;  // rows repeated on every page, the first and the last; 0 for none
  long title_last_row = 0;
  std::string title_columns;  // columns repeated on every page, "$A:$B"; "" for none
  std::string area;           // the printed cells, "$A$4:$X$40"; "" for the whole sheet
};

// One worksheet of a workbook package and what becomes of it at save.
struct SheetPart {
  std::string name;
  std::string part;  // path inside the archive, "xl/worksheets/sheet1.xml"
  std::string relation_id;
  long sheet_id = 0;
  PrintSetup print;
  // Names local to the sheet other than its print titles and area: name and text.
  std::vector<std::pair<std::string, std::string>> local_names;
  bool keep = true;
  bool in_archive = false;  // the part exists in the opened archive
  // New content at save, one of: a text, an open file (the descriptor stays
  // the caller's; the archive reads a duplicate), an entry of another archive.
  std::string new_text;
  bool has_new_text = false;
  int new_fd = -1;
  zip_t* from_archive = nullptr;
  zip_uint64_t from_index = 0;
};

// An .xlsx file opened for change: the workbook part, its relationships and
// content types are held parsed (they are small); sheet parts stay in the
// archive until they are replaced. Save writes every change at once (the
// archive is rewritten into a temporary file and renamed over the old one),
// so a workbook either has all changes or none. Errors raise SheetError
// naming the file.
class WorkbookPackage {
 public:
  // `origin`, when given, is the template the file was copied from: faults
  // of the content (a damaged archive, a part that is no XML) name it.
  explicit WorkbookPackage(std::string path, std::string origin = {});
  ~WorkbookPackage();
  WorkbookPackage(const WorkbookPackage&) = delete;
  WorkbookPackage& operator=(const WorkbookPackage&) = delete;

  const std::string& Path() const { return path_; }
  // "template workbook ORIGIN", or "workbook PATH" when no origin was given.
  std::string ContentName() const;
  std::vector<SheetPart>& Sheets() { return sheets_; }
  SheetPart* Find(const std::string& name);
  std::vector<std::string> SheetNames() const;
  zip_t* Archive() { return archive_; }

  // The text of a part, or empty when the archive lacks it.
  std::string ReadPart(const std::string& part) const;
  bool HasPart(const std::string& part) const;
  const std::vector<std::string>& SharedStrings();
  // The relationships part that belongs to a sheet part.
  static std::string RelsPartOf(const std::string& part);

  // Gives a part other than the sheets' and the workbook's own (the styles,
  // say) new text at save.
  void ReplacePart(const std::string& part, std::string text);

  // A new sheet placed after the sheet at `after` (at the end when out of
  // range), with its own part name, relation id and sheet id.
  SheetPart& AddSheet(const std::string& name, std::size_t after);

  // Writes every change and closes the archive.
  void Save();

 private:
  struct Xml;
  void Load();
  std::string Fail(const std::string& what) const;
  std::string Damaged(const std::string& what) const;
  const std::string& Keep(std::string text);
  void AddEntry(const std::string& name, zip_source_t* source);
  zip_source_t* FileSource(int fd);
  void WriteWorkbook(const std::vector<const SheetPart*>& kept);

  std::string path_;
  std::string origin_;
  zip_t* archive_ = nullptr;
  std::vector<SheetPart> sheets_;
  std::vector<std::string> shared_strings_;
  bool shared_strings_read_ = false;
  std::unique_ptr<Xml> xml_;
  std::list<std::string> buffers_;  // texts handed to the archive, alive until it closes
};

}  // namespace landstat::sheet
