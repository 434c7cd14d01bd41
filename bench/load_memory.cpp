// Resident memory raised by loading the library: RSS before and after
// dlopen of libvoxa.so (the eight boards, their rings and soft queues are
// built at load).
#include <dlfcn.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

namespace {

long RssKiB() {
  std::ifstream f("/proc/self/status");
  std::string line;
  while (std::getline(f, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  const char* path = argc > 1 ? argv[1] : VOXA_LIBRARY_PATH;
  const long before = RssKiB();
  void* h = dlopen(path, RTLD_NOW);
  if (!h) {
    std::fprintf(stderr, "dlopen: %s\n", dlerror());
    return 1;
  }
  const long after = RssKiB();
  std::printf("resident set before load: %ld KiB, after: %ld KiB, raised by %ld KiB (%.2f MiB)\n", before, after,
              after - before, (after - before) / 1024.0);
  dlclose(h);
  return after - before <= 4096 ? 0 : 2;
}
