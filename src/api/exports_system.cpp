// System control: board-wide modes, execution control, stops, delays and
// the execution state.
#include "voxa/voxa.h"

#include "api/board_table.h"
#include "families/motion/system_control.h"

using namespace voxa;
using namespace voxa::api;
using namespace voxa::family;
using namespace voxa::family::control;

extern "C" {

// ---- board-wide modes ----
VOXA_API int VOXA_CALL VOXA_Set_InterruptMode(int mode) {
  return Guard(0, [&](Board& c) { return SetBoardBit(c, kInterruptMode, mode); });
}
VOXA_API int VOXA_CALL VOXA_Get_InterruptMode(void) {
  return Guard(-1, [&](Board& c) { return GetBoardBit(c, kInterruptMode); });
}
VOXA_API int VOXA_CALL VOXA_Set_ExtEmgStopMode(int mode) {
  return Guard(0, [&](Board& c) { return SetBoardBit(c, kExtEmgStopMode, mode); });
}
VOXA_API int VOXA_CALL VOXA_Get_ExtEmgStopMode(void) {
  return Guard(-1, [&](Board& c) { return GetBoardBit(c, kExtEmgStopMode); });
}
VOXA_API int VOXA_CALL VOXA_Enable_IEndComp(int on) {
  return Guard(0, [&](Board& c) { return SetBoardBit(c, kIEndComp, on); });
}
VOXA_API int VOXA_CALL VOXA_Is_IEndComp(void) {
  return Guard(0, [&](Board& c) { return GetBoardBit(c, kIEndComp); });
}
VOXA_API int VOXA_CALL VOXA_Enable_StepExe(int on) {
  return Guard(0, [&](Board& c) { return SetBoardBit(c, kStepExe, on); });
}
VOXA_API int VOXA_CALL VOXA_Is_StepExe(void) {
  return Guard(0, [&](Board& c) { return GetBoardBit(c, kStepExeReport); });
}
VOXA_API int VOXA_CALL VOXA_Set_MainBaudrate(int baud) {
  return Guard(0, [&](Board& c) { return SetBaudrate(c, kMainBaudrate, baud); });
}
VOXA_API int VOXA_CALL VOXA_Get_MainBaudrate(void) {
  return Guard(0, [&](Board& c) { return GetBaudrate(c, kMainBaudrate); });
}
VOXA_API int VOXA_CALL VOXA_Set_AuxBaudrate(int baud) {
  return Guard(0, [&](Board& c) { return SetBaudrate(c, kAuxBaudrate, baud); });
}
VOXA_API int VOXA_CALL VOXA_Get_AuxBaudrate(void) {
  return Guard(0, [&](Board& c) { return GetBaudrate(c, kAuxBaudrate); });
}
VOXA_API int VOXA_CALL VOXA_Enable_AuxPortStateTimer(int on) {
  return Guard(0, [&](Board& c) { return SetBoardBit(c, kAuxPortStateTimer, on); });
}
VOXA_API int VOXA_CALL VOXA_Enable_AuxPortStatePacket(int on) {
  return Guard(0, [&](Board& c) { return SetBoardBit(c, kAuxPortStatePacket, on); });
}
VOXA_API int VOXA_CALL VOXA_Enable_AuxPortAllCommand(int on) {
  return Guard(0, [&](Board& c) { return SetBoardBit(c, kAuxPortAllCommand, on); });
}
VOXA_API int VOXA_CALL VOXA_Enable_RestrictedImCmd(int on) {
  return Guard(0, [&](Board& c) { return SetBoardBit(c, kRestrictedImCmd, on); });
}
VOXA_API int VOXA_CALL VOXA_Is_RestrictedImCmd(void) {
  return Guard(0, [&](Board& c) { return GetBoardBit(c, kRestrictedImCmd); });
}
VOXA_API int VOXA_CALL VOXA_Set_VelMode3StartMode(int on) {
  return Guard(0, [&](Board& c) { return SetBoardBit(c, kVelMode3StartMode, on); });
}
VOXA_API int VOXA_CALL VOXA_Get_VelMode3StartMode(void) {
  return Guard(0, [&](Board& c) { return GetBoardBit(c, kVelMode3StartMode); });
}
VOXA_API int VOXA_CALL VOXA_MainLinkAlarmOn(int on) {
  return Guard(0, [&](Board& c) { return SetBoardBit(c, kMainLinkAlarm, on); });
}
VOXA_API int VOXA_CALL VOXA_Is_MainLinkAlarmOn(void) {
  return Guard(0, [&](Board& c) { return GetBoardBit(c, kMainLinkAlarm); });
}
VOXA_API int VOXA_CALL VOXA_Set_InportMode(int mode) {
  return Guard(0, [&](Board& c) { return SetBoardField(c, kInportMode, static_cast<uint32_t>(mode)); });
}
VOXA_API int VOXA_CALL VOXA_Get_InportMode(void) {
  return Guard(0, [&](Board& c) { return GetBoardField(c, kInportMode); });
}
VOXA_API int VOXA_CALL VOXA_Set_OutportMode(int mode) {
  return Guard(0, [&](Board& c) { return SetBoardField(c, kOutportMode, static_cast<uint32_t>(mode)); });
}
VOXA_API int VOXA_CALL VOXA_Get_OutportMode(void) {
  return Guard(0, [&](Board& c) { return GetBoardField(c, kOutportMode); });
}
VOXA_API int VOXA_CALL VOXA_Set_GIOMap(int map) {
  return Guard(0, [&](Board& c) { return SetBoardField(c, kGIOMap, static_cast<uint32_t>(map)); });
}
VOXA_API int VOXA_CALL VOXA_Get_GIOMap(void) {
  return Guard(0, [&](Board& c) { return GetBoardField(c, kGIOMap); });
}
VOXA_API int VOXA_CALL VOXA_Set_ImStopDec(int value) {
  return Guard(0, [&](Board& c) { return SetBoardField(c, kImStopDec, static_cast<uint32_t>(value)); });
}
VOXA_API int VOXA_CALL VOXA_Get_ImStopDec(void) {
  return Guard(-1, [&](Board& c) { return GetBoardField(c, kImStopDec); });
}

// ---- execution control ----
VOXA_API int VOXA_CALL VOXA_Reset(void) {
  return Guard(0, [&](Board& c) { return Reset(c); });
}
VOXA_API int VOXA_CALL VOXA_Enable_Exe(void) {
  return Guard(0, [&](Board& c) { return Execute(c, kEnableExe); });
}
VOXA_API int VOXA_CALL VOXA_AlarmReset(void) {
  return Guard(0, [&](Board& c) { return Execute(c, kAlarmReset); });
}
VOXA_API int VOXA_CALL VOXA_Resume(void) {
  return Guard(0, [&](Board& c) { return Execute(c, kResume); });
}
VOXA_API int VOXA_CALL VOXA_Update_Baudrate(void) {
  return Guard(0, [&](Board& c) { return Execute(c, kUpdateBaudrate); });
}
VOXA_API int VOXA_CALL VOXA_Pause(void) {
  return Guard(0, [&](Board& c) { return Execute(c, kPause); });
}
VOXA_API int VOXA_CALL VOXA_Cancel(void) {
  return Guard(0, [&](Board& c) { return Execute(c, kCancel); });
}
VOXA_API int VOXA_CALL VOXA_ImStop(void) {
  return Guard(0, [&](Board& c) { return Execute(c, kImStop); });
}
VOXA_API int VOXA_CALL VOXA_DecStop(void) {
  return Guard(0, [&](Board& c) { return Execute(c, kDecStop); });
}
VOXA_API int VOXA_CALL VOXA_EStop(int flag) {
  return Guard(0, [&](Board& c) { return EStop(c, flag); });
}
VOXA_API int VOXA_CALL VOXA_Enable_CExe(int on) {
  return Guard(0, [&](Board& c) { return SetBoardSwitch(c, kCExe, on); });
}
VOXA_API int VOXA_CALL VOXA_Is_CExe(void) {
  return Guard(0, [&](Board& c) { return GetBoardSwitch(c, kCExe); });
}
VOXA_API int VOXA_CALL VOXA_Delay(int t) {
  return Guard(0, [&](Board& c) { return Delay(c, t); });
}
VOXA_API int VOXA_CALL VOXA_XDelay(int p1, int p2, int p3, int p4, int p5, int p6) {
  return Guard(0, [&](Board& c) { return XDelay(c, p1, p2, p3, p4, p5, p6); });
}

// ---- execution state ----
VOXA_API int VOXA_CALL VOXA_Is_EStop(void) {
  return Guard(0, [&](Board& c) { return IsExecState(c, kEStopState); });
}
VOXA_API int VOXA_CALL VOXA_Is_Pause(void) {
  return Guard(0, [&](Board& c) { return IsExecState(c, kPauseState); });
}
VOXA_API int VOXA_CALL VOXA_Is_Alarm(void) {
  return Guard(0, [&](Board& c) { return IsExecState(c, kAlarmState); });
}
VOXA_API int VOXA_CALL VOXA_Is_EmgExe(void) {
  return Guard(0, [&](Board& c) { return IsExecState(c, kEmgExeState); });
}
VOXA_API int VOXA_CALL VOXA_Is_EnableExe(void) {
  return Guard(0, [&](Board& c) { return IsExecState(c, kEnableExeState); });
}

}  // extern "C"
