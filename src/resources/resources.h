#pragma once

#include <string_view>

namespace landstat::resources {

// Data files compiled into the library.

// The national land-use classification the survey uses, as code-file lines
// ("地类代码" <tab> code <tab> name).
std::string_view LandClassCodes();

}  // namespace landstat::resources
