#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/gis/layers.h"

namespace landstat::gis {

// A survey project: the county code and the survey's layers by name, each
// with its data source. The project file is XML:
//
//   <GisProject sCode="330102" name="示例县" codes="codes.tsv">
//     <Layer name="地类图斑" source="survey.gpkg" table="地类图斑"/>
//     ...
//   </GisProject>
//
// A source is a path, relative to the project file's folder unless
// absolute; "table" names the layer inside it (the survey name when left out).
// "codes", when present, names the survey's code file the same way.
class CGisXmlPrj {
 public:
  ~CGisXmlPrj();
  CGisXmlPrj(const CGisXmlPrj&) = delete;
  CGisXmlPrj& operator=(const CGisXmlPrj&) = delete;

  // Reads a project file; raises GisError naming the file when it is
  // missing, a folder or malformed, or when its county code (sCode) is
  // given but is not six digits.
  static std::unique_ptr<CGisXmlPrj> Open(const std::string& path);

  // The handle of the project's layer of that name, opened on first use;
  // 0 when the project has no such layer. A layer that is listed but cannot
  // be opened raises GisError naming it.
  LayerHandle prjItemGetAi(const std::string& name);
  // The same, opened for writing (a layer the project opened for reading is
  // reopened so), for the repairs that write to a project's layers. Handles
  // taken before of a layer reopened so are no longer valid.
  LayerHandle prjItemGetAiForWriting(const std::string& name);
  bool HasLayer(const std::string& name) const;
  // The resolved path of the data source of the layer of that name; empty
  // when the project has no such layer.
  std::string SourceOf(const std::string& name) const;
  // The name of that layer within its data source; empty when none.
  std::string TableOf(const std::string& name) const;
  // The survey names of the layers the project lists, in name order.
  std::vector<std::string> LayerNames() const;
  // Closes the layers opened through the project.
  void CloseLayers();

  const std::string& GetFilePath() const { return path_; }
  std::string GetFolder() const;
  // The county code, attribute "sCode" of the project element.
  std::string GetCountyCode() const;
  // The county's name, attribute "name" of the project element.
  std::string GetCountyName() const;
  // Raises GisError when the code is not six digits.
  void SetCountyCode(const std::string& code);
  // The code file named by the project, resolved; empty when none is named.
  std::string GetCodeFile() const;
  // Whether the project file marks the project as a range cut out of a
  // county (attribute range="cut" of its project element, which only the
  // cut writes).
  bool IsCutRange() const;
  // Writes the project file back (after SetCountyCode).
  void Save() const;

 private:
  struct LayerEntry {
    std::string source;
    std::string table;
    LayerHandle handle = 0;
    long serial = 0;  // of the opening this project made
    bool writable = false;
  };
  struct Document;

  CGisXmlPrj() = default;
  LayerHandle OpenEntry(const std::string& name, bool writable);
  std::string path_;
  std::unique_ptr<Document> document_;
  std::map<std::string, LayerEntry> layers_;
};

// Writes a new project file listing `layers` (survey name -> source path),
// marked as a range cut out of a county when `cut_range`.
void WriteProjectFile(const std::string& path, const std::string& county_code,
                      const std::string& county_name,
                      const std::map<std::string, std::string>& layers,
                      const std::string& code_file = {}, bool cut_range = false);

}  // namespace landstat::gis
