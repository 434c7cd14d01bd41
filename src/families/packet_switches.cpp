#include "families/packet_switches.h"

namespace voxa::family {
namespace {

// The busy switch takes any nonzero flag; the others look at its low byte.
constexpr BoardBit kPacketBits[] = {
    {CHIPSET, 0, 0x10000000, Flag::Whole},
    {CHIPSET, 0, 0x20000000, Flag::LowByte},
    {CHIPSET, 0, 0x40000000, Flag::LowByte},
    {CHIPSET, 0, 0x80000000, Flag::LowByte},
};

std::atomic<uint32_t>& Counter(Board& c, Packet p) {
  switch (p) {
    case Packet::Busy: return c.counters().busy;
    case Packet::Complete: return c.counters().complete;
    case Packet::Interrupt: return c.counters().interrupt;
    default: return c.counters().event;
  }
}

// Period selector 1..8 → period code 0..7, and the code's period in ms.
constexpr uint32_t kPeriodMs[8] = {0, 25, 50, 100, 200, 250, 500, 1000};

// Contents flags 0x200 .. 0x8000 and the CHIPSET word 1 bit each switches.
struct ContentFlag {
  uint32_t flag;
  uint32_t bit;
};
constexpr ContentFlag kContents[] = {
    {0x200, 0x80}, {0x400, 0x01}, {0x800, 0x02}, {0x1000, 0x04}, {0x2000, 0x08}, {0x4000, 0x10}, {0x8000, 0x20},
};
constexpr uint32_t kRegisterField = 0x2F0000;
constexpr uint32_t kCustomContents = 0x40;

void SendWord0(Board& c) { Write(c, CHIPSET, 0x01); }
void SendWord1(Board& c) { Write(c, CHIPSET, 0x02); }

}  // namespace

int EnablePacket(Board& c, Packet p, int flag) { return SetBoardBit(c, kPacketBits[static_cast<int>(p)], flag); }
int IsPacket(Board& c, Packet p) { return GetBoardBit(c, kPacketBits[static_cast<int>(p)]); }

void SetPacketCount(Board& c, Packet p, uint32_t count) {
  platform::Locked g(c.StateLock());
  Counter(c, p).store(count);
}

uint32_t GetPacketCount(Board& c, Packet p) {
  platform::Locked g(c.StateLock());
  return Counter(c, p).load();
}

int SetStateTimer(Board& c, uint32_t flags) {
  const uint32_t s = flags & 0xF;
  if (s >= 1 && s <= 8) {
    c.SetRegField(CHIPSET, 0, 0x700, (s - 1) << 8);
    SendWord0(c);
  }
  for (const ContentFlag& f : kContents)
    if (flags & f.flag) {
      c.OrRegBits(CHIPSET, 1, f.bit);
      SendWord1(c);
    }
  const uint32_t field = (flags & kRegisterField) >> 16;
  if (field == 0) return 1;
  if (field - 1 > 31) return 0;
  c.SetRegField(CHIPSET, 1, 0x1F00, (field - 1) << 8);
  SendWord1(c);
  c.OrRegBits(CHIPSET, 1, kCustomContents);
  SendWord1(c);
  return 1;
}

int GetStateTimer(Board& c, uint32_t selector) {
  if (selector == 15) return static_cast<int>(kPeriodMs[c.TestRegBits(CHIPSET, 0, 0x700) >> 8]);
  Require((selector & kRegisterField) == kRegisterField);
  return static_cast<int>(c.TestRegBits(CHIPSET, 1, 0x1F00) >> 8);
}

int ClrStateTimer(Board& c, uint32_t flags) {
  if (flags & 0xF) {
    c.SetRegField(CHIPSET, 0, 0x700, 0);
    SendWord0(c);
  }
  for (const ContentFlag& f : kContents)
    if (flags & f.flag) {
      c.ClrRegBits(CHIPSET, 1, f.bit);
      SendWord1(c);
    }
  if ((flags & kRegisterField) == kRegisterField) {
    c.ClrRegBits(CHIPSET, 1, kCustomContents);
    SendWord1(c);
  }
  return 1;
}

int IsStateTimer(Board& c, uint32_t flags) {
  int r = 0;
  for (const ContentFlag& f : kContents)
    if (flags & f.flag) r = c.TestRegBits(CHIPSET, 1, f.bit) ? 1 : 0;
  if ((flags & kRegisterField) == kRegisterField) r = c.TestRegBits(CHIPSET, 1, kCustomContents) ? 1 : 0;
  return r;
}

}  // namespace voxa::family
