#include "farmland/farmland_families.h"

namespace landstat::farmland {

std::vector<TableFamily> AdjustableFamilies() {
  return {};
}

}  // namespace landstat::farmland
