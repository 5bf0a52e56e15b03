#pragma once

#include <string>
#include <vector>

#include "operator/county_batch.h"

namespace landstat::testing {

// A county batch of 2009 over `codes` of `catalogue`, two counties at a
// time, with its logs in `folder`: into `server` when one is given, else
// into files in `folder`.
inline CountyBatchRequest BatchRequest(const std::string& catalogue, std::vector<std::string> codes,
                                       const std::string& folder, const std::string& server) {
  CountyBatchRequest request;
  request.catalogue = catalogue;
  request.year = "2009";
  request.codes = std::move(codes);
  request.log_folder = folder;
  request.jobs = 2;
  request.server = server;
  if (server.empty()) request.folder = folder;
  return request;
}

}  // namespace landstat::testing
