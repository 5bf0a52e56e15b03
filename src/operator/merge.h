#pragma once

// The merge of a rural and a town statistics database: the rows of each
// base table that belong to it put into one, and the unit copies and the
// land-use summary tables rebuilt on it.

#include <string>

#include "engine/run_report.h"

namespace landstat {

namespace gis {
class RuralCode;
}

// Where the merged statistics go.
enum MergeMode : short {
  kMergeIntoRural = 1,  // replace the rural database
  kMergeIntoTown = 2,   // replace the town database
  kMergeToNew = 3,      // a new file named as the rural one, in an output folder
};

struct MergeRequest {
  std::string rural, town;    // the two statistics files
  std::string output_folder;  // read in kMergeToNew only
  gis::RuralCode* codes = nullptr;
  short mode = kMergeIntoRural;
  std::string log_path;  // the log of the rebuilt tables' failures; optional
};

struct MergeResult {
  RunReport report;
  // What the operator is told, as the dialog shows it: "合并完成！" or
  // the message of the step that failed ("参数传递错误！", "合并数据失败！",
  // "连接数据失败！", "连接农村数据statdata失败！", "连接城镇数据statdata失败！",
  // "合并失败！", "选择的数据相同！", "选择输出数据路径！", "没有数据字典,无法合并！").
  std::string message;
  std::string target;  // the file written
};

// Merges the rural rows (城镇用地 other than 1, null included) of the
// rural base table and the town rows (城镇用地 1, as a number or as text)
// of the town one into a scratch copy of the receiving database, made
// beside the target under its scratch prefix, rebuilds on it the unit
// copies and the twelve land-use summary families, records the merge in
// StatRuns (kind "merge") and puts it in the target's place by one rename.
// The other database is only read. The target's job lock is held from
// before the copy is made until the result is in place; a copy that a
// killed merge left is swept by the next job on the target.
// Refused before anything is made: two base tables whose columns differ
// (naming the first column that differs), an input whose last job did not
// finish, and in mode kMergeToNew a new file that would be one of the
// inputs. A merge that fails leaves both inputs and any earlier output as
// they were, and no scratch copy behind.
MergeResult MergeStatistics(const MergeRequest& request);

// The exported form: runs the merge and shows its message; 1 after
// "合并完成！", 0 after a failure.
short MergeStatData(const std::string& rural, const std::string& town, const std::string& out,
                    gis::RuralCode* codes, short mode);

// Deletes the town rows (城镇用地 1) of the base table of the database a
// connection string names; 1 when done, 0 on a database error.
short DeleteTownStatRows(const std::string& connect);
// Deletes every row of the base table but the town rows (城镇用地 1);
// 1 when done, 0 on a database error.
short DeleteNonTownStatRows(const std::string& connect);

}  // namespace landstat
