#include "families/motion/velocity.h"

#include <algorithm>

namespace voxa::family::motion {

int SetVelMode(Board& c, int mode) {
  Require(mode >= 0 && mode <= 3);
  c.SetRegField(CHIPSET, 0, kVelModeField.mask, static_cast<uint32_t>(mode));
  if (mode == 3) c.ClrRegBits(CHIPSET, 1, 1u << 25);
  Write(c, CHIPSET, 0x03);
  return 1;
}

int SetVelModeAxis(Board& c, int axes, int mode) {
  Require(mode >= 0 && mode <= 3);
  Require(mode != 3 || Axes(axes) == 0);
  return SetAxisField(c, kVelModeAxis, axes, static_cast<uint32_t>(mode));
}

int SetDriveVel(Board& c, int value) {
  const BoardField f = BoardWide(DRIVEVEL);
  c.SetRegField(DRIVEVEL, 0, f.mask, static_cast<uint32_t>(value) << f.shift);
  c.ClrRegBits(DRIVEVEL, 1, 0xFFFF0000u);
  Write(c, DRIVEVEL, 0x03);
  return 1;
}

int SetVelMultiplier(Board& c, int value) {
  Require(value > 0 && value <= 32 && (value & (value - 1)) == 0);
  const int e = __builtin_ctz(static_cast<unsigned>(value));
  c.SetRegField(VELAUXSET, 0, kVelMultiplierExp.mask, static_cast<uint32_t>(e) << kVelMultiplierExp.shift);
  c.motion_state().vel_multiplier.store(1 << e);
  Write(c, VELAUXSET, 0x01);
  return 1;
}

int GetVelMultiplier(Board& c) { return c.motion_state().vel_multiplier.load(); }

int SetOverride(Board& c, const Override& o, int value) {
  Require(value > 0);
  return SetBoardField(c, o.field, static_cast<uint32_t>(std::min(value, o.limit)));
}

int SetFFCPMax(Board& c, int value) { return SetBoardField(c, kFFCPMax, static_cast<uint32_t>(std::min(value, 1000))); }

}  // namespace voxa::family::motion
