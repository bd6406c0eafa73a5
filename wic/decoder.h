// SPDX-License-Identifier: MIT
// The bitmap decoder of one picture format and its single frame.
//
// Initialize reads the stream from its start, no further than the largest file of the format,
// and decodes it through the host library at once. When the stream tells the full path of its
// file (IStream::Stat), the companion files beside it count as they do for a picture opened by
// name (any letter case, exact size); a stream without a name decodes without them, with the
// format's own colours. The frame is the 640 x 400 picture in 4-bit indexed pixels with its
// 16-colour palette, at 96 dots per inch.
#pragma once

#include <wincodec.h>

#include "host/plugin_set.h"

namespace wic {

// A new decoder of format, as the interface riid asks.
HRESULT createDecoder(host::PictureFormat format, REFIID riid, void** object);

}  // namespace wic
