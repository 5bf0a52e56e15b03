#pragma once

#include <stdexcept>
#include <string>

namespace landstat::gis {

// Raised for bad GIS input: a missing data source, layer or field, a layer
// of the wrong kind, a broken geometry. The message names what failed.
class GisError : public std::runtime_error {
 public:
  explicit GisError(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace landstat::gis
