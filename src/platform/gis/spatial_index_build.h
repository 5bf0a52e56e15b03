#pragma once

// The spatial index of a layer the range cut writes, built apart from the
// range's GeoPackage: the GeoPackage's index table of a layer takes one
// record after another, rewriting a node of its tree at each, which for
// the layers of a range took as long as writing their records. The cut
// holds the trigger that fills the index back while it writes a layer,
// builds the same tree from the records' bounds on a thread of its own
// while it writes the next layers, and puts the tree's rows in place once
// the layers are written. For the files of the cut only.

#include <future>
#include <string>
#include <vector>

namespace landstat::gis::detail {

// A record of a layer and the bounds of its geometry, as the index takes
// them.
struct IndexEntry {
  long long id = 0;
  double min_x = 0, max_x = 0, min_y = 0, max_y = 0;
};

// What the cut of one layer leaves for its index: the index table (as the
// GeoPackage names it), the statement of the insert trigger that was held
// back, and the entries of the records written with a geometry that is
// not empty.
struct LayerIndex {
  std::string table;
  std::string insert_trigger;
  std::vector<IndexEntry> entries;
};

// The rows of the three tables an index table keeps its tree in.
struct BuiltIndex {
  std::string table;
  std::string insert_trigger;
  std::vector<std::pair<long long, std::string>> nodes;  // node number, node
  std::vector<std::pair<long long, long long>> parents;  // node number, parent node
  std::vector<std::pair<long long, long long>> rowids;   // record, its leaf node
};

// The size of the pages of the SQLite database at `path`.
int PageSizeOf(const std::string& path);

// Builds the tree of `index` on a thread of its own, in a database in
// memory of pages of `page_size` bytes (those of the GeoPackage: a node
// fills a page), taking the entries in the order of their records' ids,
// as the GeoPackage builds it from the records of a layer. Raises GisError
// from the future when it cannot.
std::future<BuiltIndex> BuildIndexApart(LayerIndex index, int page_size);

// Puts the trees built into the GeoPackage at `path`, closed by GDAL, in
// one transaction: each index table's rows in place of those of its empty
// tree, and its insert trigger made again. Raises GisError when it cannot.
void WriteBuiltIndexes(const std::string& path, std::vector<std::future<BuiltIndex>>& built);

}  // namespace landstat::gis::detail
