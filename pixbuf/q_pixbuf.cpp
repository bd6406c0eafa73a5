// SPDX-License-Identifier: MIT
// libpixbufloader-q.so: the gdk-pixbuf loader module of Q pictures.
#include "pixbuf/pixbuf_module.h"

extern "C" {

G_MODULE_EXPORT void fill_vtable(GdkPixbufModule* module) {
  pixbuf_module::fillVtable<host::PictureFormat::Q>(module);
}

G_MODULE_EXPORT void fill_info(GdkPixbufFormat* info) {
  pixbuf_module::describeFormat(host::PictureFormat::Q, info);
}
}
