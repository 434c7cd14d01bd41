#include <cstddef>

#include "families/io/io.h"

namespace voxa::family::io {
namespace {

constexpr uint8_t kWaitGio = 0x73;
constexpr uint8_t kPatternChunk = 0x77;
constexpr uint8_t kPatternStart = 0x78;
constexpr uint8_t kSync = 0x53;
constexpr int kChunkBits = 256;
constexpr int kChunkBytes = kChunkBits / 8;

// CHIPSET word 3: encoder inputs, extension I/O and its control code. Every
// write of it carries tag 0xE6.
constexpr int kChipWord = 3;
constexpr uint32_t kEncoderOn[2] = {0x1000, 0x2000};
constexpr BoardField kExtControl{CHIPSET, kChipWord, 0xFF0000, 16, kTagConfig};

constexpr int kUpCounterWord = 1;
constexpr int kPwmWord = 6;

uint32_t HalfWord(uint32_t word, int upper) { return upper ? word >> 16 : word & 0xFFFF; }

// The action of an output-bit or wait command carries the register-write tag.
int RegTagAction(Board& c, uint8_t code) { return c.ActionTagged(code, 0, c.RegTag()); }

}  // namespace

int OutputBits(Board& c, uint8_t action, uint32_t bits) {
  // Clearing takes its operand from CAL1, setting and pulsing from CAL0.
  const Reg operand = action == kClrBits ? CAL1 : CAL0;
  c.SetRegWord(operand, 4, bits);
  c.WriteReg(operand, 0x10);
  RegTagAction(c, action);
  return 1;
}

int WaitGio(Board& c, uint32_t a, uint32_t b, uint32_t d, int32_t e) {
  {
    platform::Locked hold(c.StateLock());
    c.SetRegWord(CAL0, 0, a);
    c.SetRegWord(CAL0, 1, b);
    c.SetRegWord(CAL0, 2, d);
    c.SetRegWord(CAL0, 3, static_cast<uint32_t>(e));
  }
  c.WriteReg(CAL0, 0x0F);
  RegTagAction(c, kWaitGio);
  return 1;
}

int SetPattern(Board& c, int n, const uint8_t* p) {
  Require(p != nullptr || n <= 0);  // no bits: no byte of the pattern is read
  c.SetRegWord(CAL0, 0, static_cast<uint32_t>(n));
  c.WriteReg(CAL0, 0x01);
  c.Action(kPatternStart, 0);
  for (int64_t offset = 0; offset < n; offset += kChunkBits) {
    const uint8_t* chunk = p + static_cast<size_t>(offset / 8);
    {
      platform::Locked hold(c.StateLock());
      for (int k = 0; k < 8; ++k) {
        const uint8_t* b = chunk + 4 * k;
        c.SetRegWord(CAL0, k, b[0] | b[1] << 8 | b[2] << 16 | static_cast<uint32_t>(b[3]) << 24);
      }
    }
    c.WriteReg(CAL0, 0xFF);
    c.Action(kPatternChunk, 0);
  }
  static_assert(kChunkBytes == 4 * 8);
  return 1;
}

int ClrPattern(Board& c, int flag) {
  c.Action(kSync, 0);
  c.Action(kPatternStart, 0);
  return OutputBits(c, IsOn(flag, Flag::LowByte) ? kSetBits : kClrBits, 1);
}

int SetUpCounter(Board& c, int index, uint32_t value) {
  Require(index == 0 || index == 1);
  const int shift = 16 * index;
  c.SetRegField(GIO, kUpCounterWord, 0xFFFFu << shift, value << shift);
  c.WriteReg(GIO, 1u << kUpCounterWord);
  return 1;
}

uint32_t GetUpCounter(Board& c, int index) {
  Require(index == 0 || index == 1);
  return HalfWord(c.GetRegWord(GIO, kUpCounterWord), index);
}

int EnableEncoder(Board& c, int index, int flag) {
  Require(index == 0 || index == 1);
  return SetBoardBit(c, BoardBit{CHIPSET, kChipWord, kEncoderOn[index], Flag::LowByte, kTagConfig}, flag);
}

int SetEncoder(Board& c, int index, uint32_t value) {
  const int i = index & 0xFFFF;
  Require(i == 0 || i == 1);
  return SetBoardWord(c, EXTIO, i, value);
}

uint32_t GetEncoder(Board& c, int index) {
  Require(index == 0 || index == 1);
  return c.GetRegWord(EXTIO, index);
}

uint32_t GetAdc(Board& c, int channel) {
  Require(channel >= 0 && channel <= 3);
  return HalfWord(c.GetRegWord(GIO, 2 + channel / 2), channel & 1);
}

int SetPwm(Board& c, int index, uint32_t period, uint32_t duty) {
  const int i = index & 0xFFFF;
  Require(i == 0 || i == 1);
  return SetBoardWord(c, GIO, kPwmWord + i, period << 16 | (duty & 0xFFFF));
}

uint32_t GetPwm(Board& c, int index, bool period) {
  const int i = index & 0xFFFF;
  const uint32_t count = (i == 0 || i == 1) ? HalfWord(c.GetRegWord(GIO, kPwmWord + i), period) : 0;
  Require(count != 0);
  return count;
}

uint32_t LinkStatus(Board& c, int slot) {
  Require(slot >= 0 && slot <= 7);
  return c.TestRegBits(AXISSTATUS, slot, 0xF0000000);
}

int IsLink(Board& c, int slot, int link) { return (LinkStatus(c, slot) >> (28 + link)) & 1; }

int ExtControl(Board& c, uint32_t code) { return SetBoardField(c, kExtControl, code); }

uint32_t GetExtWord(Board& c, int word) {
  Require(word >= 0 && word <= 7);
  return c.GetRegWord(EXTIO, word);
}

int SetExtWord(Board& c, int word, uint32_t value) {
  Require(word >= 0 && word <= 7);
  if (word < 3) return 0;  // the encoder counts and word 2 belong to the board
  return SetBoardWord(c, EXTIO, word, value, kTagConfig);
}

}  // namespace voxa::family::io
