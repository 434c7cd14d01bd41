#include "families/io/io.h"

namespace voxa::family::io {

uint32_t PulseTimeCode(int t) {
  if (t <= 1) return 0;
  if (t <= 10) return 1;
  if (t <= 100) return 2;
  return 3;
}

int PulseTimeOf(uint32_t code) {
  static constexpr int kTimes[4] = {1, 10, 100, 500};
  return kTimes[code & 3];
}

int SetLevel(Board& c, const AxisBit& d, int axes, int level) {
  Require(level == 0 || level == 1);
  return SetAxisBit(c, d, axes, level);
}

}  // namespace voxa::family::io
