// Prints what GetPluginInfo answers for both plug-ins.
#include <cstdio>

#include "framework/plugin_exports.h"
#include "gra/gra_loader.h"
#include "q/q_loader.h"

template <class Loader>
void show(const char* module) {
  std::printf("%s\n", module);
  for (int n = 0; n < 4; ++n) {
    char text[80];
    int length = PluginExports<Loader>::getPluginInfo(n, text, sizeof text);
    std::printf("  %d: \"%s\" (%d characters)\n", n, text, length);
  }
}

int main() {
  show<GraLoader>("gradec.spi");
  show<QLoader>("qdec.spi");
}
