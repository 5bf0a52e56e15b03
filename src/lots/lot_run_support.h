#pragma once

// What the lot runs (the town-lot run and the rural ownership-lot run)
// share on their way in.

#include <string>
#include <vector>

#include "engine/run_report.h"
#include "platform/gis/project.h"

namespace landstat {

// The report of a run that ended before its context was made: the failures
// are written to the run's log under `title` all the same.
RunReport FailedBeforeContext(const std::string& log_path, const std::string& title,
                              const std::vector<std::string>& failures);

// A layer of the project by name; 0 when the project has none, and a layer
// listed but not opened is remembered in `failures` with the reason.
short ProjectLayer(gis::CGisXmlPrj& project, const char* name, std::vector<std::string>& failures);

}  // namespace landstat
