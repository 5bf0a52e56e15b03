#pragma once

#include <string>
#include <string_view>

namespace landstat::resources {

// Data compiled into the library: built-in SQL scripts (type "SQL", by the
// number and the name the engine asks for), the shipped land-use
// classification (type "CODE") and configuration defaults (type "INI").
// Texts are UTF-8.

// The resource's text; empty when the type is empty or there is no such
// resource.
std::string LoadResourceText(int id, const std::string& type);
std::string LoadResourceText(const std::string& name, const std::string& type);

// The national land-use classification the survey uses, as code-file lines
// ("地类代码" <tab> code <tab> name).
std::string_view LandClassCodes();

}  // namespace landstat::resources

namespace landstat {
using resources::LoadResourceText;
}
