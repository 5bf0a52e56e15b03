#include "platform/gis/project_cut.h"

#include "platform/gis/gis_error.h"

namespace landstat::gis {

CutReport CutProject(const std::string& project_path, const std::string&, const std::string&) {
  throw GisError("cutting a range out of " + project_path + " is not available yet");
}

}  // namespace landstat::gis
