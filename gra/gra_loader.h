// GraLoader: the format loader of the GRA plug-in.
#pragma once

#include "framework/image_loader.h"

class GraLoader : public ImageLoader {
 public:
  GraLoader() = default;
};

#ifndef _WIN32
template <>
struct NativeModuleOf<GraLoader> {
  static const NativeModule module;
};
#endif
