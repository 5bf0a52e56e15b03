#pragma once

// The rows of a summary table that a fill sums in memory, one per unit (or
// owner) code, and their writing into the table.

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace landstat {

class CStatContext;

// One unit's row, summed: its code (XZQDM), its name (XZQMC) and its areas
// by column.
struct CodedRow {
  std::string code, name;
  std::map<std::string, double> areas;
};

// How a table takes coded rows: the areas rounded to `decimals` (below 0:
// as summed); the names written, or left unset; the rows numbered in ID
// from `first_id`, or left unnumbered.
struct CodedRowsForm {
  int decimals = -1;
  bool names = true;
  std::optional<long> first_id;
};

// Writes `rows` into `target` in one go and gives 1; a failure is logged
// under `title` with the message `failure` and gives 0.
short WriteCodedRows(CStatContext& context, const std::string& target,
                     const std::vector<CodedRow>& rows, const CodedRowsForm& form,
                     const std::string& title, const std::string& failure);

}  // namespace landstat
