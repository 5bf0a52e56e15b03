#pragma once

// The county catalogue of the batch: an SQLite file that says which
// districts there are (for the region tree) and where the survey of each
// county lies, with the theme table of the surveys.
//
// Tables:
//   标准专题表 (描述, 简称)            the survey themes; the batch takes the
//                                      简称 of the first whose 描述 holds 二次调查
//   行政区域 (代码, 名称, 上级代码)    every district, its parent's code (empty
//                                      at the root)
//   县级工程 (代码, 工程文件)          each county's survey project file (a
//                                      relative path is taken from the
//                                      catalogue's folder)

#include <map>
#include <string>
#include <vector>

namespace landstat {

// The catalogue's file name in the configuration root.
extern const char* const kCountyCatalogueName;
// The catalogue of the configuration root.
std::string DefaultCountyCatalogue();

struct CatalogueRegion {
  std::string code, name, parent;
};

struct CountyCatalogue {
  std::vector<CatalogueRegion> regions;         // parents before children, by code
  std::map<std::string, std::string> projects;  // county code -> project file
};

// Reads the catalogue; raises DbError naming the file when it cannot be
// read. A project path is made absolute against the catalogue's folder.
CountyCatalogue ReadCountyCatalogue(const std::string& path);

// The short name of the second-survey theme: 简称 of the first row of
// 标准专题表 whose 描述 holds 二次调查; empty when there is none or the table
// cannot be read.
std::string ReadSecondSurveyThemes(const std::string& connection);

// Adds a county to the catalogue (made when missing): its district and
// those above it (code and name pairs, from the top), and its project.
// Raises DbError when the file cannot be written.
void AddCatalogueCounty(const std::string& path, const std::vector<CatalogueRegion>& regions,
                        const std::string& county, const std::string& project);

}  // namespace landstat
