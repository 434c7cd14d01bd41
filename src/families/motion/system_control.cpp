#include "families/motion/system_control.h"

namespace voxa::family::control {
namespace {

constexpr int kBaudRates[4] = {115200, 230400, 460800, 921600};

}  // namespace

int SetBaudrate(Board& c, const BoardField& port, int baud) {
  for (uint32_t code = 0; code < 4; ++code)
    if (kBaudRates[code] == baud) return SetBoardField(c, port, code);
  return 0;
}

int GetBaudrate(Board& c, const BoardField& port) { return kBaudRates[GetBoardField(c, port) & 3]; }

int Execute(Board& c, ExecCommand cmd) {
  // The system tag is no command ID. A stop or cancel ends what runs: a
  // completion reported after it is no arrival.
  if (cmd.code == kImStop.code || cmd.code == kDecStop.code || cmd.code == kCancel.code) c.NoteHostStop();
  c.SendCommand(static_cast<uint8_t>((cmd.code & 0x7F) | c.ImmediateFlag()), 0, kTagSystem);
  return 1;
}

int EStop(Board& c, int flag) { return Execute(c, flag ? kImStop : kDecStop); }

int Reset(Board& c) {
  c.NoteHostStop();
  c.ClearSoftQueue();
  c.SendCommand(0x08 | kImmediate, 0, kTagSystem);
  c.System(0x00, kTagSystem);
  return 1;
}

int Delay(Board& c, int32_t t) {
  c.SetRegWord(CAL0, 0, static_cast<uint32_t>(t));
  c.SetRegWord(CAL0, 1, 0);
  c.SetRegWord(CAL0, 2, 0);
  const uint8_t id = c.CmdId();
  c.WriteRegTagged(CAL0, 0x07, id);
  c.ActionTagged(0x56, 0, id);
  return 1;
}

int XDelay(Board& c, int32_t p1, int32_t p2, int32_t p3, int32_t p4, int32_t p5, int32_t p6) {
  c.SetRegWord(CAL0, 0, static_cast<uint32_t>(p1));
  c.SetRegWord(CAL0, 1, static_cast<uint32_t>(p2) | 0x800C0000u);
  c.SetRegWord(CAL0, 2, (static_cast<uint32_t>(p4) << 16) | (static_cast<uint32_t>(p3) & 0xFF));
  c.SetRegWord(CAL0, 3, static_cast<uint32_t>(p5));
  c.SetRegWord(CAL0, 4, static_cast<uint32_t>(p6));
  const uint8_t id = c.CmdId();
  c.WriteRegTagged(CAL0, 0x1F, id);
  c.ActionTagged(0x56, 0, id);
  return 1;
}

int IsExecState(Board& c, ExecState s) { return c.TestRegBits(CHIPSTATUS, 0, s.mask) == s.value ? 1 : 0; }

}  // namespace voxa::family::control
