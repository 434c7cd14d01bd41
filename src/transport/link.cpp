#include "transport/link.h"

namespace voxa {

bool Link::Write(const uint8_t* p, uint32_t n) {
  if (!tx_.PushBlock(p, n)) return false;
  Transmit();
  return true;
}

OpenFailure Link::LastOpenFailure() const {
  const uint64_t v = open_failure_.load();
  return OpenFailure{static_cast<OpenFailureKind>(v >> 32), static_cast<int>(static_cast<uint32_t>(v))};
}

void Link::SetOpenFailure(OpenFailureKind kind, int os_error) {
  open_failure_.store((static_cast<uint64_t>(kind) << 32) | static_cast<uint32_t>(os_error));
}

}  // namespace voxa
