#include "families/io/io.h"

namespace voxa::family::io {
namespace {

constexpr int kChannels = 4;
constexpr uint32_t kSourceAxis = 6;  // an axis position
constexpr uint32_t kSourceData = 25;  // a COMPARE data word

constexpr uint32_t kOperandA = 0xFF;
constexpr uint32_t kOperandB = 0xFF00;
constexpr uint32_t kExtra = 0xFF0000;
constexpr uint32_t kForm = 0x7000000;
constexpr uint32_t kTypeBits = 0x18000000;
constexpr uint32_t kKindBit29 = 0x20000000;
constexpr uint32_t kKindBit30 = 0x40000000;
constexpr uint32_t kChannelOn = 0x80000000;
constexpr BoardBit kEventPackets{CHIPSET, 0, 0x80000000, Flag::LowByte};

uint32_t Operand(uint32_t source, int index) { return source << 3 | (static_cast<uint32_t>(index) & 7); }
uint8_t WordBit(int w) { return static_cast<uint8_t>(1u << w); }

void SetField(Board& c, int word, uint32_t mask, uint32_t value) {
  c.SetRegField(COMPARE, word, mask, value);
  c.WriteReg(COMPARE, WordBit(word));
}

// One operand of `word` from the data word `data`, written with it.
void SetDataOperand(Board& c, int word, uint32_t operand_mask, int data, int32_t position) {
  {
    platform::Locked hold(c.StateLock());
    const int shift = operand_mask == kOperandA ? 0 : 8;
    c.SetRegField(COMPARE, word, operand_mask, Operand(kSourceData, data) << shift);
    c.SetRegWord(COMPARE, data, static_cast<uint32_t>(position));
  }
  c.WriteReg(COMPARE, WordBit(word) | WordBit(data));
}

// Alarm option flags and the CHIPSET word 0 bits they stand for, in the
// order they are applied.
struct AlarmOption {
  uint32_t flag;
  uint32_t bit;
};
constexpr AlarmOption kAlarmOptions[] = {
    {0x10, 0x20000}, {0x400, 0x40000}, {0x1000, 0x10000}, {0x10000, 0x100000}};

constexpr int kCaptureWord = 4;
constexpr uint32_t kCaptureOn = 0x10;
constexpr uint32_t kCaptureSync = 0x20;
constexpr uint32_t kCaptureMode = 0xC0;

}  // namespace

int EnableComparator(Board& c, int channel, int flag) {
  Require(channel >= 0 && channel < kChannels);
  return SetBoardBit(c, BoardBit{COMPARE, channel, kChannelOn, Flag::LowByte}, flag);
}

int SetComparator(Board& c, const Comparison& s) {
  const int ch = s.channel;
  Require(ch >= 0 && ch < kChannels);
  // The two-value form takes the next channel's operand B and data word;
  // channel 3 has no next channel.
  Require(!s.extended || ch + 1 < kChannels);
  const int data = ch + kChannels;
  const uint32_t axis = static_cast<uint32_t>(LowestAxis(s.axes));

  SetField(c, ch, kForm, (s.extended ? 1u : 0u) << 24);
  if (s.type == 1 || s.type == 2) {
    SetField(c, ch, kTypeBits, 0);
    if (s.type == 1) {
      SetField(c, ch, kOperandA, Operand(kSourceAxis, static_cast<int>(axis)));
      SetDataOperand(c, ch, kOperandB, data, s.position);
    } else {
      SetField(c, ch, kOperandB, Operand(kSourceAxis, static_cast<int>(axis)) << 8);
      SetDataOperand(c, ch, kOperandA, data, s.position);
    }
  }
  if (s.kind >= 0 && s.kind <= 2) {
    SetField(c, ch, kKindBit30, s.kind >= 1 ? kKindBit30 : 0);
    SetField(c, ch, kKindBit29, s.kind == 2 ? kKindBit29 : 0);
  }
  if (s.extended) {
    SetDataOperand(c, ch + 1, kOperandB, data + 1, s.position2);
    SetField(c, ch, kExtra, (s.extra & 0xFF) << 16);
  }
  SetBoardBit(c, kEventPackets, s.flag);
  return 1;
}

uint32_t GetAlarmOption(Board& c) {
  const uint32_t w = c.GetRegWord(CHIPSET, 0);
  uint32_t flags = 0;
  for (const AlarmOption& o : kAlarmOptions)
    if (w & o.bit) flags |= o.flag;
  return flags;
}

void ChangeAlarmOption(Board& c, uint32_t flags, bool set) {
  for (const AlarmOption& o : kAlarmOptions) {
    if (!(flags & o.flag)) continue;
    set ? c.OrRegBits(CHIPSET, 0, o.bit) : c.ClrRegBits(CHIPSET, 0, o.bit);
    c.WriteReg(CHIPSET, 0x01);
  }
}

int EnableCapture(Board& c, int flag, uint32_t mode) {
  {
    platform::Locked hold(c.StateLock());
    if (IsOn(flag, Flag::LowByte)) {
      c.OrRegBits(CHIPSET, kCaptureWord, kCaptureOn);
      c.SetRegField(CHIPSET, kCaptureWord, kCaptureMode, (mode & 3) << 6);
    } else {
      c.ClrRegBits(CHIPSET, kCaptureWord, kCaptureOn);
    }
  }
  c.WriteReg(CHIPSET, WordBit(kCaptureWord));
  return 1;
}

int IsCapture(Board& c) { return c.TestRegBits(CHIPSET, kCaptureWord, kCaptureOn | kCaptureSync) ? 1 : 0; }

uint32_t CaptureCount(Board& c) {
  platform::Locked hold(c.StateLock());
  return static_cast<uint32_t>(c.mirror().capture_count);
}

uint32_t GetCapture(Board& c, int index, int word) {
  constexpr int kEntries = StateMirror::kCaptureEntries;
  StateMirror& m = c.mirror();
  platform::Locked hold(c.StateLock());
  if (m.capture_count == 0) return 0;
  int at = index;
  if (at < 0) {
    at += m.capture_index;  // no overflow: the write index is 0..9999
    if (at < 0) at += kEntries;
    if (at < 0) return 0;  // further back than the ring reaches
  } else if (at > kEntries - 1) {
    at = kEntries - 1;
  }
  if (word < 0 || word > 7) return 0;
  return m.CaptureEntry(at)[word];
}

}  // namespace voxa::family::io
