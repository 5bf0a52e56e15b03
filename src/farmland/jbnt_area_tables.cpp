#include "farmland/farmland_families.h"

namespace landstat::farmland {

std::vector<TableFamily> AreaTableFamilies() {
  return {};
}

}  // namespace landstat::farmland
