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

// The names of the companions the plug-in of format looks for beside a picture at path (the
// companion rule), whether or not they exist: for a host that gathers them itself, as a browser
// page does with the files a user dropped. Empty where the format uses none.
Companions companionNamesOf(PictureFormat format, const std::string& path);

// The companions the plug-in of format uses beside the picture at path: those that exist with
// exactly the size the format asks for, named by the companion rule.
Companions companionsOf(PictureFormat format, const std::string& path);

}  // namespace host
