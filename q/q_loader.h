// QLoader: the format loader of the Q plug-in.
#pragma once

#include "framework/image_loader.h"

class QLoader : public ImageLoader {
 public:
  QLoader() = default;
};

#ifndef _WIN32
template <>
struct NativeModuleOf<QLoader> {
  static const NativeModule module;
};
#endif
