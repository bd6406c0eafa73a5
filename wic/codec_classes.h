// SPDX-License-Identifier: MIT
// The codec's COM classes: one decoder class for each picture format, with the identifiers under
// which the system's imaging component knows it. What a format is (its names, extensions, MIME
// type, signature) comes from its description (host::descriptionOf); only the identifiers of
// this codec are stated here.
#pragma once

#include <windows.h>

#include <span>

#include "host/plugin_set.h"

namespace wic {

struct CodecClass {
  host::PictureFormat format;
  CLSID decoder;   // the decoder's class
  GUID container;  // the container format its decoder reports
};

// {0e1fa65e-cb26-48ce-9fc0-5955ed785eee}: the vendor of both decoders.
inline constexpr GUID kVendor = {
    0x0e1fa65e, 0xcb26, 0x48ce, {0x9f, 0xc0, 0x59, 0x55, 0xed, 0x78, 0x5e, 0xee}};

inline constexpr CodecClass kCodecClasses[] = {
    {host::PictureFormat::Gra,
     // {9417609e-8899-41fc-bf18-3341cbbceeb0}
     {0x9417609e, 0x8899, 0x41fc, {0xbf, 0x18, 0x33, 0x41, 0xcb, 0xbc, 0xee, 0xb0}},
     // {2b7f10a3-74c2-4a79-b4f5-9b8f5650a7b6}
     {0x2b7f10a3, 0x74c2, 0x4a79, {0xb4, 0xf5, 0x9b, 0x8f, 0x56, 0x50, 0xa7, 0xb6}}},
    {host::PictureFormat::Q,
     // {8ffe72a3-f26a-4779-93f7-8df380c5008c}
     {0x8ffe72a3, 0xf26a, 0x4779, {0x93, 0xf7, 0x8d, 0xf3, 0x80, 0xc5, 0x00, 0x8c}},
     // {999d736e-465a-4afe-91ba-189b788205c6}
     {0x999d736e, 0x465a, 0x4afe, {0x91, 0xba, 0x18, 0x9b, 0x78, 0x82, 0x05, 0xc6}}},
};

// The class whose decoder is clsid; null for none of ours.
inline const CodecClass* codecClassOf(REFCLSID clsid) {
  for (const CodecClass& c : kCodecClasses)
    if (IsEqualCLSID(c.decoder, clsid)) return &c;
  return nullptr;
}

inline const CodecClass& codecClassOf(host::PictureFormat format) {
  for (const CodecClass& c : kCodecClasses)
    if (c.format == format) return c;
  return kCodecClasses[0];
}

}  // namespace wic
