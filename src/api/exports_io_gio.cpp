// General-purpose I/O words, output-bit commands, counters, encoder inputs,
// ADC, PWM, the I/O wait and patterns, and the extension I/O modules.
#include "api/board_table.h"
#include "families/io/io.h"

using namespace voxa;
using namespace voxa::api;
using family::Board;
namespace io = voxa::family::io;

namespace {

constexpr family::BoardBit kExtIoOn{CHIPSET, 3, 0x4000, family::Flag::LowByte, kTagConfig};
constexpr family::BoardBit kExtServoIoOn{CHIPSET, 3, 0x8000, family::Flag::LowByte, kTagConfig};
constexpr uint32_t kExtReset = 1;
constexpr uint32_t kExtEmgStop = 2;
constexpr uint32_t kExtRestart = 3;

int Word(Reg r, int word) {
  return Guard(0, [&](Board& c) { return static_cast<int>(c.GetRegWord(r, word)); });
}
int OutputBits(uint8_t action, int bits) {
  return Guard(0, [&](Board& c) { return io::OutputBits(c, action, static_cast<uint32_t>(bits)); });
}
int IsLink(int slot, int link) {
  return Guard(0, [&](Board& c) { return io::IsLink(c, slot, link); });
}
int ExtControl(uint32_t code) {
  return Guard(0, [&](Board& c) { return io::ExtControl(c, code); });
}

}  // namespace

extern "C" {

VOXA_API int VOXA_CALL VOXA_Get_GIn(void) { return Word(GIO, 0); }
VOXA_API int VOXA_CALL VOXA_Get_GOut(void) { return Word(GIO, 4); }
VOXA_API int VOXA_CALL VOXA_Set_GOut(int value) {
  return Guard(0, [&](Board& c) { return family::SetBoardWord(c, GIO, 4, static_cast<uint32_t>(value)); });
}
VOXA_API int VOXA_CALL VOXA_SetBit_GOut(int bits) { return OutputBits(io::kSetBits, bits); }
VOXA_API int VOXA_CALL VOXA_ClrBit_GOut(int bits) { return OutputBits(io::kClrBits, bits); }
VOXA_API int VOXA_CALL VOXA_Pulse_GOut(int bits) { return OutputBits(io::kPulseBits, bits); }

VOXA_API int VOXA_CALL VOXA_Set_GIOUpCounter(int index, int value) {
  return Guard(0, [&](Board& c) { return io::SetUpCounter(c, index, static_cast<uint32_t>(value)); });
}
VOXA_API int VOXA_CALL VOXA_Get_GIOUpCounter(int index) {
  return Guard(0, [&](Board& c) { return static_cast<int>(io::GetUpCounter(c, index)); });
}
VOXA_API int VOXA_CALL VOXA_Enable_GIOEncoder(int index, int flag) {
  return Guard(0, [&](Board& c) { return io::EnableEncoder(c, index, flag); });
}
VOXA_API int VOXA_CALL VOXA_Set_GIOEncoder(int index, int value) {
  return Guard(0, [&](Board& c) { return io::SetEncoder(c, index, static_cast<uint32_t>(value)); });
}
VOXA_API int VOXA_CALL VOXA_Get_GIOEncoder(int index) {
  return Guard(0, [&](Board& c) { return static_cast<int>(io::GetEncoder(c, index)); });
}
VOXA_API int VOXA_CALL VOXA_Get_ADC(int channel) {
  return Guard(0, [&](Board& c) { return static_cast<int>(io::GetAdc(c, channel)); });
}
VOXA_API int VOXA_CALL VOXA_Set_PWM(int index, int period, int duty) {
  return Guard(0, [&](Board& c) {
    return io::SetPwm(c, index, static_cast<uint32_t>(period), static_cast<uint32_t>(duty));
  });
}
VOXA_API int VOXA_CALL VOXA_Get_PWMPeriodCount(int index) {
  return Guard(0, [&](Board& c) { return static_cast<int>(io::GetPwm(c, index, true)); });
}
VOXA_API int VOXA_CALL VOXA_Get_PWMDutyCount(int index) {
  return Guard(0, [&](Board& c) { return static_cast<int>(io::GetPwm(c, index, false)); });
}
VOXA_API unsigned int VOXA_CALL VOXA_Wait_GIO(unsigned int a, unsigned int b, unsigned int c, int d) {
  return Guard(0u, [&](Board& board) { return io::WaitGio(board, a, b, c, d); });
}
VOXA_API int VOXA_CALL VOXA_Set_GIOPattern(int bits, const uint8_t* pattern) {
  return Guard(0, [&](Board& c) { return io::SetPattern(c, bits, pattern); });
}
VOXA_API int VOXA_CALL VOXA_Clr_GIOPattern(int flag) {
  return Guard(0, [&](Board& c) { return io::ClrPattern(c, flag); });
}

VOXA_API int VOXA_CALL VOXA_Enable_ExtIO(int flag) {
  return Guard(0, [&](Board& c) { return family::SetBoardBit(c, kExtIoOn, flag); });
}
VOXA_API int VOXA_CALL VOXA_Is_Enable_ExtIO(void) {
  return Guard(0, [](Board& c) { return family::GetBoardBit(c, kExtIoOn); });
}
VOXA_API int VOXA_CALL VOXA_Enable_ExtServoIO(int flag) {
  return Guard(0, [&](Board& c) { return family::SetBoardBit(c, kExtServoIoOn, flag); });
}
VOXA_API int VOXA_CALL VOXA_Get_ExtIO_Link_Status(int slot) {
  return Guard(0, [&](Board& c) { return static_cast<int>(io::LinkStatus(c, slot)); });
}
VOXA_API int VOXA_CALL VOXA_Is_ExtIO_Link0(int slot) { return IsLink(slot, 0); }
VOXA_API int VOXA_CALL VOXA_Is_ExtIO_Link1(int slot) { return IsLink(slot, 1); }
VOXA_API int VOXA_CALL VOXA_Is_ExtIO_Link2(int slot) { return IsLink(slot, 2); }
VOXA_API int VOXA_CALL VOXA_Is_ExtIO_Link3(int slot) { return IsLink(slot, 3); }
VOXA_API int VOXA_CALL VOXA_Reset_ExtIO(void) { return ExtControl(kExtReset); }
VOXA_API int VOXA_CALL VOXA_EmgStop_ExtIO(void) { return ExtControl(kExtEmgStop); }
VOXA_API int VOXA_CALL VOXA_Restart_ExtIO(void) { return ExtControl(kExtRestart); }
VOXA_API int VOXA_CALL VOXA_Get_ExtIO(int word) {
  return Guard(0, [&](Board& c) { return static_cast<int>(io::GetExtWord(c, word)); });
}
VOXA_API int VOXA_CALL VOXA_Set_ExtIO(int word, int value) {
  return Guard(0, [&](Board& c) { return io::SetExtWord(c, word, static_cast<uint32_t>(value)); });
}
VOXA_API int VOXA_CALL VOXA_Get_ExtIO_MPG_Status(void) {
  return Guard(0, [](Board& c) { return static_cast<int>(c.GetRegWord(CHIPSTATUS, 6) >> 16); });
}
VOXA_API int VOXA_CALL VOXA_Get_ExtIO_MPG_Count(void) {
  return Guard(0, [](Board& c) { return static_cast<int>(c.GetRegWord(CHIPSTATUS, 2) >> 16); });
}

}  // extern "C"
