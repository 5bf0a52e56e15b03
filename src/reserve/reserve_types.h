#pragma once

#include <string>

namespace landstat {

// The reserve class of a parcel's reserve type: 1 reclaimable (types Ⅰ),
// 2 recultivable (types Ⅱ), 0 neither; by the new type scheme
// ("耕地后备资源新类型") and by the old one ("耕地后备资源原类型").
short ClassifyGdhbNewType(const std::string& type);
short ClassifyGdhbOldType(const std::string& type);

}  // namespace landstat
