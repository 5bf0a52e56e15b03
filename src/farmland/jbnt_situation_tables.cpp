#include "farmland/farmland_families.h"

namespace landstat::farmland {

std::vector<TableFamily> SituationFamilies() {
  return {};
}

}  // namespace landstat::farmland
