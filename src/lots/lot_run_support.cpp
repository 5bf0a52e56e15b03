#include "lots/lot_run_support.h"

#include "engine/run_log.h"
#include "platform/gis/gis_error.h"

namespace landstat {

RunReport FailedBeforeContext(const std::string& log_path, const std::string& title,
                              const std::vector<std::string>& failures) {
  StatRunLog log(log_path);
  log.OpenStatLogFile();
  for (const std::string& failure : failures) log.LogFailure(title, failure);
  RunReport report;
  report.failures = log.m_nErrCount;
  report.messages = log.m_arrFirstFailures;
  return report;
}

short ProjectLayer(gis::CGisXmlPrj& project, const char* name, std::vector<std::string>& failures) {
  try {
    return project.prjItemGetAi(name);
  } catch (const gis::GisError& error) {
    failures.push_back(error.what());
    return 0;
  }
}

}  // namespace landstat
