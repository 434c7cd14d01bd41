// voxactl built without an HTTP library: the panel is not there.
#include <cstdio>

#include "panel.h"

namespace voxactl {

int RunPanel(int, char**) {
  std::fprintf(stderr,
               "voxactl: this voxactl was built without the panel (httplib.h was not found; on Debian install "
               "libcpp-httplib-dev and build again)\n");
  return 2;
}

}  // namespace voxactl
