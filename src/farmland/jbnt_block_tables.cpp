#include "farmland/farmland_families.h"

namespace landstat::farmland {

std::vector<TableFamily> BlockFamilies() {
  return {};
}

}  // namespace landstat::farmland
