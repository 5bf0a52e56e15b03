#include "platform/host/xml_file.h"

#include "platform/text/text_encoding.h"

namespace landstat::host {

pugi::xml_parse_result LoadXmlFile(pugi::xml_document& document, const std::string& path) {
  std::string text;
  if (!text::ReadTextFile(path, text)) {
    pugi::xml_parse_result missing;
    missing.status = pugi::status_file_not_found;
    return missing;
  }
  return document.load_buffer(text.data(), text.size(), pugi::parse_default, pugi::encoding_utf8);
}

}  // namespace landstat::host
