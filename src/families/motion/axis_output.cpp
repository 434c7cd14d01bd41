#include "families/motion/axis_output.h"

namespace voxa::family::motion {
namespace {

constexpr uint32_t kPulseModeCode[3] = {3, 1, 0};
constexpr int kPulseModeOfCode[4] = {2, 1, 0, 0};
constexpr int kSoftLimitModeOfCode[4] = {1, 2, 3, 0};

}  // namespace

int SetPulseMode(Board& c, int axes, int mode) {
  Require(mode >= 0 && mode <= 2);
  return SetAxisField(c, kPulseModeField, axes, kPulseModeCode[mode]);
}

int GetPulseMode(Board& c, int axes) { return kPulseModeOfCode[GetAxisField(c, kPulseModeField, axes) & 3]; }

int SetSoftLimitMode(Board& c, int axes, int mode) {
  Require(mode >= 0 && mode <= 3);
  if (mode != 0) return SetAxisField(c, kSoftLimitModeField, axes, static_cast<uint32_t>(mode - 1));
  const uint8_t m = Axes(axes);
  for (int i = 0; i < 8; ++i)
    if (m & (1u << i)) c.ClrRegBits(AXISSET, i, kSoftLowerLimitOn.bit | kSoftUpperLimitOn.bit);
  if (m) Write(c, AXISSET, m);
  return 1;
}

int GetSoftLimitMode(Board& c, int axes) {
  return kSoftLimitModeOfCode[GetAxisField(c, kSoftLimitModeField, axes) & 3];
}

}  // namespace voxa::family::motion
