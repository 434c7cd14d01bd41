#include "families/motion/motion_commands.h"

namespace voxa::family::motion {
namespace {

constexpr Reg kPatternRegs[4] = {CAL0, CAL1, CAL2, CAL3};

}  // namespace

int Move(Board& c, const MotionCommand& m, int axes, const int32_t* values) {
  if (m.needs_axes && Axes(axes) == 0) return 1;
  return Motion(c, m.code, axes, CAL0, values);
}

int MoveAll(Board& c, const MotionCommand& m, int axes, int32_t value) {
  if (m.needs_axes && Axes(axes) == 0) return 1;
  SetAxisWord(c, CAL0, axes, static_cast<uint32_t>(value));
  Act(c, m.code, Axes(axes));
  return 1;
}

int Arc(Board& c, const MotionCommand& m, int axes, const int32_t* centre, const int32_t* end) {
  RequireValues(centre, axes);
  RequireValues(end, axes);
  LoadOperand(c, CAL0, axes, end);
  LoadOperand(c, CAL1, axes, centre);
  Act(c, m.code, Axes(axes));
  return 1;
}

int XMove(Board& c, int axes, const int32_t* values, int32_t p1, int32_t p2, int32_t p3, int32_t p4) {
  RequireValues(values, axes);
  LoadOperand(c, CAL0, axes, values);
  c.SetRegWord(CAL1, 0, static_cast<uint32_t>(p1));
  c.SetRegWord(CAL1, 1, static_cast<uint32_t>(p2));
  c.SetRegWord(CAL1, 2, static_cast<uint32_t>(p3) & 0xFFFF);
  c.SetRegWord(CAL1, 3, static_cast<uint32_t>(p4));
  c.WriteRegTagged(CAL1, 0x0F, c.CmdId());
  Act(c, kXMove.code, Axes(axes));
  return 1;
}

int BitPattern(Board& c, int axes, const int32_t* blocks, int32_t count) {
  // The blocks are read only for a positive count and selected axes.
  if (count > 0) RequireValues(blocks, axes);
  SetBoardField(c, kBitPatternCount, static_cast<uint32_t>(count));
  if (count <= 0) return 1;
  for (int k = 0; k < 4 && count >= 16 * k; ++k)
    LoadOperand(c, kPatternRegs[k], axes, blocks == nullptr ? nullptr : blocks + 8 * k);
  Act(c, kBitPattern.code, Axes(axes));
  return 1;
}

int SetMasterAxis(Board& c, int slaves, int master) {
  const uint8_t m = Axes(master);
  const uint32_t code = m ? static_cast<uint32_t>(__builtin_ctz(m)) + 1 : 0;
  const uint8_t s = Axes(slaves);
  for (int i = 0; i < 8; ++i)
    if (s & (1u << i)) c.SetRegField(CHIPSET, 5, 0xFu << (4 * i), code << (4 * i));
  Write(c, CHIPSET, 0x20);
  return 1;
}

int GetMasterAxis(Board& c, int axes) {
  if (Axes(axes) == 0) return 0;
  const int i = LowestAxis(axes);
  const uint32_t code = c.TestRegBits(CHIPSET, 5, 0xFu << (4 * i)) >> (4 * i);
  return code == 0 ? 0 : static_cast<int>((1u << (code - 1)) & 0xFF);
}

}  // namespace voxa::family::motion
