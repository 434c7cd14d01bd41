// Comparators, PID controllers, alarms and capture.
#include "api/board_table.h"
#include "families/io/io.h"
#include "families/io/pid.h"

using namespace voxa;
using namespace voxa::api;
using family::Board;
namespace io = voxa::family::io;

namespace {

constexpr family::AxisBit kStopRotateByAlarm{AXISSET, 0x800};
constexpr int kCaptureRing = StateMirror::kCaptureEntries;

static_assert(sizeof(VOXA_PID_SETUP) == io::kPidSetupBytes, "the setup structure is packed");

int Pid(int pid, uint8_t code) {
  return Guard(0, [&](Board& c) { return io::PidCommand(c, pid, code); });
}

}  // namespace

extern "C" {

VOXA_API int VOXA_CALL VOXA_Enable_Comparator(int channel, int flag) {
  return Guard(0, [&](Board& c) { return io::EnableComparator(c, channel, flag); });
}
VOXA_API int VOXA_CALL VOXA_Set_PosComparator(int channel, int type, int axes, int position, int kind, int flag) {
  return Guard(0, [&](Board& c) { return io::SetComparator(c, {channel, type, axes, position, kind, flag}); });
}
VOXA_API int VOXA_CALL VOXA_Set_PosComparatorX(int channel, int type, int axes, int position, int kind,
                                               int position2, int extra, int flag) {
  return Guard(0, [&](Board& c) {
    return io::SetComparator(c, {channel, type, axes, position, kind, flag, true, position2, static_cast<uint32_t>(extra)});
  });
}

VOXA_API int VOXA_CALL VOXA_Off_PID(int pid) { return Pid(pid, io::kPidOff); }
VOXA_API int VOXA_CALL VOXA_Reset_PID(int pid) { return Pid(pid, io::kPidReset); }
VOXA_API int VOXA_CALL VOXA_Run_PID(int pid) { return Pid(pid, io::kPidRun); }
VOXA_API int VOXA_CALL VOXA_Set_PIDSV(int pid, int value) {
  return Guard(0, [&](Board& c) { return io::PidCommandWith(c, pid, io::kPidSetValue, static_cast<uint16_t>(value)); });
}
VOXA_API int VOXA_CALL VOXA_Setup_PID(int pid, const VOXA_PID_SETUP* setup) {
  return Guard(0, [&](Board& c) {
    Require(setup != nullptr);
    return io::SetupPid(c, pid, io::RecordFromSetup(reinterpret_cast<const uint8_t*>(setup)));
  });
}
VOXA_API int VOXA_CALL VOXA_Get_PID_Setup(int pid, VOXA_PID_SETUP* setup) {
  return Guard(0, [&](Board& c) { return io::GetPidSetup(c, pid, reinterpret_cast<uint8_t*>(setup)); });
}
VOXA_API int VOXA_CALL VOXA_Is_PID_On(int pid) {
  return Guard(0, [&](Board& c) { return static_cast<int>(io::IsPidOn(c, pid)); });
}

VOXA_API int VOXA_CALL VOXA_Get_Alarm(void) {
  return Guard(0, [](Board& c) { return static_cast<int>(c.GetRegWord(CHIPSTATUS, 0) >> 16); });
}
VOXA_API int VOXA_CALL VOXA_Get_AlarmOption(void) {
  return Guard(0, [](Board& c) { return static_cast<int>(io::GetAlarmOption(c)); });
}
VOXA_API void VOXA_CALL VOXA_Set_AlarmOption(int flags) {
  GuardVoid([&](Board& c) { io::ChangeAlarmOption(c, static_cast<uint32_t>(flags), true); });
}
VOXA_API void VOXA_CALL VOXA_Clr_AlarmOption(int flags) {
  GuardVoid([&](Board& c) { io::ChangeAlarmOption(c, static_cast<uint32_t>(flags), false); });
}
VOXA_API void VOXA_CALL VOXA_Enable_StopRotateByAlarm(int axes, int flag) {
  GuardVoid([&](Board& c) { family::SetAxisBit(c, kStopRotateByAlarm, axes, flag); });
}
VOXA_API int VOXA_CALL VOXA_Is_StopRotateByAlarm(int axes) {
  return Guard(0, [&](Board& c) { return family::GetAxisBit(c, kStopRotateByAlarm, axes); });
}

VOXA_API int VOXA_CALL VOXA_Enable_CaptureMode(int flag, int mode) {
  return Guard(0, [&](Board& c) {
    io::EnableCapture(c, flag, static_cast<uint32_t>(mode));
    return flag;
  });
}
VOXA_API unsigned int VOXA_CALL VOXA_CaptureSync(unsigned int flag, unsigned int mode) {
  return Guard(0u, [&](Board& c) { return io::EnableCapture(c, static_cast<int>(flag), mode); });
}
VOXA_API int VOXA_CALL VOXA_Is_CaptureMode(void) {
  return Guard(0, [](Board& c) { return io::IsCapture(c); });
}
VOXA_API unsigned int VOXA_CALL VOXA_Is_CaptureSync(void) {
  return Guard(0u, [](Board& c) { return io::IsCapture(c); });
}
// No board guard: a selected slot's ring is cleared whether or not it is
// open; with no board selected there is nothing to clear.
VOXA_API int VOXA_CALL VOXA_Init_Capture(void) {
  const int32_t b = SelectedBoard();
  if (b < 0 || b >= kBoards) return 0;
  BoardAt(b).mirror().ClearCapture();
  return kCaptureRing;
}
VOXA_API int VOXA_CALL VOXA_Get_CaptureCnt(void) {
  return Guard(0, [](Board& c) { return static_cast<int>(io::CaptureCount(c)); });
}
VOXA_API int VOXA_CALL VOXA_Get_Capture(int index, int word) {
  return Guard(0, [&](Board& c) { return static_cast<int>(io::GetCapture(c, index, word)); });
}

}  // extern "C"
