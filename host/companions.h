// The companion files a plug-in uses beside a picture opened by name.
#pragma once

#include <string>

#include "host/plugin_set.h"

namespace host {

// Paths of the companions a picture uses; empty where it uses none.
struct Companions {
  std::string palette;      // a GRA picture's colours
  std::string fourthPlane;  // a GRA picture's plane 3
};

// The companions the plug-in of format uses beside the picture at path: those that exist with
// exactly the size the format asks for, named by the companion rule.
Companions companionsOf(PictureFormat format, const std::string& path);

}  // namespace host
