// SPDX-License-Identifier: MIT
// libpixbufloader-gra.so: the gdk-pixbuf loader module of GRA pictures.
#include "pixbuf/pixbuf_module.h"

extern "C" {

G_MODULE_EXPORT void fill_vtable(GdkPixbufModule* module) {
  pixbuf_module::fillVtable<host::PictureFormat::Gra>(module);
}

G_MODULE_EXPORT void fill_info(GdkPixbufFormat* info) {
  pixbuf_module::describeFormat(host::PictureFormat::Gra, info);
}
}
