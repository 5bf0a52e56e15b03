#include "resources/resources.h"

namespace landstat::resources {

// Generated from the files under src/resources by the build.
extern const unsigned char kLandClassCodes[];
extern const unsigned long kLandClassCodesSize;

std::string_view LandClassCodes() {
  return {reinterpret_cast<const char*>(kLandClassCodes), kLandClassCodesSize};
}

}  // namespace landstat::resources
