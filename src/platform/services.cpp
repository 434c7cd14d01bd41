// The system services that are the same everywhere.
#include <cstdio>

#include "platform/platform.h"

namespace voxa::platform {

void SystemLog(const char* text) {
  std::fputs(text ? text : "", stdout);
  std::fflush(stdout);
}

}  // namespace voxa::platform
