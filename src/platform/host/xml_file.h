#pragma once

#include <pugixml.hpp>
#include <string>

namespace landstat::host {

// Loads an XML file as UTF-8 whatever it was written in: files of older
// programs declare GB2312 or GBK and hold such bytes, and are converted.
pugi::xml_parse_result LoadXmlFile(pugi::xml_document& document, const std::string& path);

}  // namespace landstat::host
