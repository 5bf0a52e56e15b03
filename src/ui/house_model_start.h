#pragma once

#include <string>

#include "platform/gis/project.h"

namespace landstat {

// The external 3D house-model program: its path is the setting "程序" of the
// section "三维模型" of host.ini.
constexpr char kHouseModelSection[] = "三维模型";
constexpr char kHouseModelKey[] = "程序";

// The program's one argument: the data sources of the layers "房屋层",
// "草坪", "道路" and "树", each followed by '|' (empty for a layer the
// project lacks).
std::string HouseModelArgument(const gis::CGisXmlPrj& project);

// Starts the program on the project's layers and returns at once; false,
// with the reason told, when the project has no houses, the setting is
// empty or names no program, or the program does not start.
bool StartHouseModel(gis::CGisXmlPrj& project);

}  // namespace landstat
