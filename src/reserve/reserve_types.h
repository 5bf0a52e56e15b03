#pragma once

#include <string>
#include <vector>

namespace landstat {

// The reserve class of a parcel's reserve type: 1 reclaimable (types Ⅰ),
// 2 recultivable (types Ⅱ), 0 neither; by the new type scheme
// ("耕地后备资源新类型") and by the old one ("耕地后备资源原类型").
short ClassifyGdhbNewType(const std::string& type);
short ClassifyGdhbOldType(const std::string& type);
// The reserve types of a class (1 or 2) by each scheme: the types the
// functions above give that class; none for any other class.
std::vector<const char*> GdhbNewTypesOf(short reserve_class);
std::vector<const char*> GdhbOldTypesOf(short reserve_class);

}  // namespace landstat
