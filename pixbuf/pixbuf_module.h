// SPDX-License-Identifier: MIT
// The gdk-pixbuf loader modules of both formats: every program built on gdk-pixbuf (image
// viewers, file choosers, thumbnailers) then opens GRA and Q pictures.
//
// gdk-pixbuf asks one module for one format, so each format has its own module
// (libpixbufloader-gra.so, libpixbufloader-q.so); both are this code, told their format. A
// module is a host of its plug-in like any other (through the host library): it recognises a
// picture with IsSupported, learns its size with GetPictureInfo and decodes it with GetPicture,
// then hands the picture to gdk-pixbuf as an RGB GdkPixbuf, with a Q picture's comment as its
// "comment" option (gdk_pixbuf_get_option).
//
// Two ways in:
//   - load(FILE*), which gdk_pixbuf_new_from_file uses. The file's name is recovered from the
//     open descriptor, and when it still names the same file, the plug-in reads the picture by
//     name, so a GRA picture's companion files beside it are used.
//   - begin_load / load_increment / stop_load, which GdkPixbufLoader uses (most viewers, the
//     thumbnailer). The bytes are collected and decoded from memory at the end; the size is
//     announced as soon as the header has arrived. With no name, a GRA picture gets the default
//     colours and no fourth plane.
#pragma once

#define GDK_PIXBUF_ENABLE_BACKEND
#include <gdk-pixbuf/gdk-pixbuf-io.h>
#undef GDK_PIXBUF_ENABLE_BACKEND

#include <cstdio>

#include "host/plugin_set.h"

namespace pixbuf_module {

using Format = host::PictureFormat;

// The module's entry points, for format.
void describeFormat(Format format, GdkPixbufFormat* info);
GdkPixbuf* load(Format format, std::FILE* file, GError** error);
gpointer beginLoad(Format format, GdkPixbufModuleSizeFunc sizeFunc,
                   GdkPixbufModulePreparedFunc preparedFunc, GdkPixbufModuleUpdatedFunc updatedFunc,
                   gpointer userData, GError** error);
gboolean loadIncrement(gpointer context, const guchar* bytes, guint size, GError** error);
gboolean stopLoad(gpointer context, GError** error);

// The vtable that fill_vtable fills: the functions above, bound to the module's format.
template <Format ModuleFormat>
void fillVtable(GdkPixbufModule* module) {
  module->load = [](std::FILE* file, GError** error) { return load(ModuleFormat, file, error); };
  module->begin_load = [](GdkPixbufModuleSizeFunc size, GdkPixbufModulePreparedFunc prepared,
                          GdkPixbufModuleUpdatedFunc updated, gpointer userData, GError** error) {
    return beginLoad(ModuleFormat, size, prepared, updated, userData, error);
  };
  module->load_increment = loadIncrement;
  module->stop_load = stopLoad;
}

}  // namespace pixbuf_module
