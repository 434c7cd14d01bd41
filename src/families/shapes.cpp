#include "families/shapes.h"

namespace voxa::family {

int Write(Board& c, int r, uint8_t mask, int tag) {
  return tag == kRegTag ? c.WriteReg(r, mask) : c.WriteRegTagged(r, mask, static_cast<uint8_t>(tag));
}

int SetAxisBit(Board& c, const AxisBit& d, int axes, int flag) {
  const uint8_t m = Axes(axes);
  const bool on = IsOn(flag, d.rule);
  for (int i = 0; i < 8; ++i)
    if (m & (1u << i)) on ? c.OrRegBits(d.reg, i, d.bit) : c.ClrRegBits(d.reg, i, d.bit);
  if (m) Write(c, d.reg, m, d.tag);
  return 1;
}

int GetAxisBit(Board& c, const AxisBit& d, int axes) {
  return c.TestRegBits(d.reg, LowestAxis(axes), d.bit) ? 1 : 0;
}

int SetAxisField(Board& c, const AxisField& d, int axes, uint32_t value) {
  const uint8_t m = Axes(axes);
  for (int i = 0; i < 8; ++i)
    if (m & (1u << i)) c.SetRegField(d.reg, i, d.mask, value << d.shift);
  if (m) Write(c, d.reg, m, d.tag);
  return 1;
}

uint32_t GetAxisField(Board& c, const AxisField& d, int axes) {
  return c.TestRegBits(d.reg, LowestAxis(axes), d.mask) >> d.shift;
}

int SetAxisWord(Board& c, Reg reg, int axes, uint32_t value, int tag) {
  const uint8_t m = Axes(axes);
  for (int i = 0; i < 8; ++i)
    if (m & (1u << i)) c.SetRegWord(reg, i, value);
  if (m) Write(c, reg, m, tag);
  return 1;
}

uint32_t GetAxisWord(Board& c, Reg reg, int axes) { return c.GetRegWord(reg, LowestAxis(axes)); }

void LoadAxisWords(Board& c, Reg reg, int axes, const int32_t* values) {
  const uint8_t m = Axes(axes);
  if (values == nullptr) return;
  for (int i = 0; i < 8; ++i)
    if (m & (1u << i)) c.SetRegWord(reg, i, static_cast<uint32_t>(values[i]));
}

int SetBoardBit(Board& c, const BoardBit& d, int flag) {
  IsOn(flag, d.rule) ? c.OrRegBits(d.reg, d.word, d.bit) : c.ClrRegBits(d.reg, d.word, d.bit);
  Write(c, d.reg, static_cast<uint8_t>(1u << d.word), d.tag);
  return 1;
}

int GetBoardBit(Board& c, const BoardBit& d) { return c.TestRegBits(d.reg, d.word, d.bit) ? 1 : 0; }

int SetBoardField(Board& c, const BoardField& d, uint32_t value) {
  c.SetRegField(d.reg, d.word, d.mask, value << d.shift);
  Write(c, d.reg, static_cast<uint8_t>(1u << d.word), d.tag);
  return 1;
}

uint32_t GetBoardField(Board& c, const BoardField& d) { return c.TestRegBits(d.reg, d.word, d.mask) >> d.shift; }

int SetBoardWord(Board& c, Reg reg, int word, uint32_t value, int tag) {
  c.SetRegWord(reg, word, value);
  Write(c, reg, static_cast<uint8_t>(1u << word), tag);
  return 1;
}

int SetBoardAxisBits(Board& c, const BoardAxisBits& d, int axes, int flag) {
  const uint8_t m = Axes(axes);
  const bool on = IsOn(flag, d.rule);
  for (int i = 0; i < 8; ++i) {
    if (!(m & (1u << i))) continue;
    const uint32_t bit = 1u << (d.first + i);
    on ? c.OrRegBits(d.reg, d.word, bit) : c.ClrRegBits(d.reg, d.word, bit);
  }
  Write(c, d.reg, static_cast<uint8_t>(1u << d.word), d.tag);
  return 1;
}

int GetBoardAxisBit(Board& c, const BoardAxisBits& d, int axes) {
  return c.TestRegBits(d.reg, d.word, 1u << (d.first + LowestAxis(axes))) ? 1 : 0;
}

int SetBoardSwitch(Board& c, const BoardSwitch& d, int flag) {
  const bool on = IsOn(flag, d.rule);
  on ? c.OrRegBits(d.reg, d.word, d.bit) : c.ClrRegBits(d.reg, d.word, d.bit);
  Act(c, on ? d.on_code : d.off_code, 0);
  return 1;
}

int GetBoardSwitch(Board& c, const BoardSwitch& d) { return c.TestRegBits(d.reg, d.word, d.bit) ? 1 : 0; }

void LoadOperand(Board& c, Reg reg, int axes, const int32_t* values, int tag) {
  LoadAxisWords(c, reg, axes, values);
  if (Axes(axes)) Write(c, reg, Axes(axes), tag);
}

int Motion(Board& c, uint8_t code, int axes, Reg reg, const int32_t* values) {
  RequireValues(values, axes);
  LoadOperand(c, reg, axes, values);
  Act(c, code, Axes(axes));
  return 1;
}

}  // namespace voxa::family
