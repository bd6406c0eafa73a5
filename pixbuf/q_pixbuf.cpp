// libpixbufloader-q.so: the gdk-pixbuf loader module of Q pictures.
#include "pixbuf/pixbuf_module.h"

extern "C" {

G_MODULE_EXPORT void fill_vtable(GdkPixbufModule* module) {
  pixbuf_module::fillVtable<pixbuf_module::Format::Q>(module);
}

G_MODULE_EXPORT void fill_info(GdkPixbufFormat* info) {
  pixbuf_module::describeFormat(pixbuf_module::Format::Q, info);
}
}
