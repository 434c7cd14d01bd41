// The velocity profile: modes, velocities and accelerations, multiplier,
// constant linear velocity, overrides, dwell times and velocity control.
#include "voxa/voxa.h"

#include "api/board_table.h"
#include "families/motion/velocity.h"

using namespace voxa;
using namespace voxa::api;
using namespace voxa::family;
using namespace voxa::family::motion;

namespace {

uint32_t U(int v) { return static_cast<uint32_t>(v); }

}  // namespace

extern "C" {

// ---- velocity mode and state ----
VOXA_API int VOXA_CALL VOXA_Set_VelMode(int mode) {
  return Guard(0, [&](Board& c) { return SetVelMode(c, mode); });
}
VOXA_API int VOXA_CALL VOXA_Get_VelMode(void) {
  return Guard(-1, [&](Board& c) { return GetBoardField(c, kVelModeField); });
}
VOXA_API int VOXA_CALL VOXA_Set_VelModeAxis(int axes, int mode) {
  return Guard(0, [&](Board& c) { return SetVelModeAxis(c, axes, mode); });
}
VOXA_API int VOXA_CALL VOXA_Get_VelModeAxis(int axes) {
  return Guard(0, [&](Board& c) { return GetAxisField(c, kVelModeAxis, axes); });
}
VOXA_API int VOXA_CALL VOXA_Get_VelState(void) {
  return Guard(0, [&](Board& c) { return GetBoardField(c, kVelState); });
}
VOXA_API int VOXA_CALL VOXA_Get_VelStateAxis(int axes) {
  return Guard(0, [&](Board& c) { return GetAxisField(c, kVelStateAxis, axes); });
}

// ---- start velocity ----
VOXA_API int VOXA_CALL VOXA_Set_StartVel(int value) {
  return Guard(0, [&](Board& c) { return SetBoardField(c, BoardWide(STARTVEL), U(value)); });
}
VOXA_API int VOXA_CALL VOXA_Get_StartVel(void) {
  return Guard(0, [&](Board& c) { return GetBoardField(c, BoardWide(STARTVEL)); });
}
VOXA_API int VOXA_CALL VOXA_Set_StartVelAxis(int axes, int value) {
  return Guard(0, [&](Board& c) { return SetAxisField(c, PerAxis(STARTVEL), axes, U(value)); });
}
VOXA_API int VOXA_CALL VOXA_Get_StartVelAxis(int axes) {
  return Guard(0, [&](Board& c) { return GetAxisField(c, PerAxis(STARTVEL), axes); });
}

// ---- drive velocity ----
VOXA_API int VOXA_CALL VOXA_Set_DriveVel(int value) {
  return Guard(0, [&](Board& c) { return SetDriveVel(c, value); });
}
VOXA_API int VOXA_CALL VOXA_Get_DriveVel(void) {
  return Guard(0, [&](Board& c) { return GetBoardField(c, BoardWide(DRIVEVEL)); });
}
VOXA_API int VOXA_CALL VOXA_Set_DriveVelAxis(int axes, int value) {
  return Guard(0, [&](Board& c) { return SetAxisField(c, PerAxis(DRIVEVEL), axes, U(value)); });
}
VOXA_API int VOXA_CALL VOXA_Get_DriveVelAxis(int axes) {
  return Guard(0, [&](Board& c) { return GetAxisField(c, PerAxis(DRIVEVEL), axes); });
}

// ---- current velocity (reported by the board) ----
VOXA_API int VOXA_CALL VOXA_Get_CurVel(void) {
  return Guard(0, [&](Board& c) { return GetBoardField(c, BoardWide(CURVEL)); });
}
VOXA_API int VOXA_CALL VOXA_Get_CurVelAxis(int axes) {
  return Guard(0, [&](Board& c) { return GetAxisField(c, PerAxis(CURVEL), axes); });
}

// ---- accelerations and decelerations ----
VOXA_API int VOXA_CALL VOXA_Set_Acc(int value) {
  return Guard(0, [&](Board& c) { return SetBoardField(c, BoardWide(ACC), U(value)); });
}
VOXA_API int VOXA_CALL VOXA_Get_Acc(void) {
  return Guard(0, [&](Board& c) { return GetBoardField(c, BoardWide(ACC)); });
}
VOXA_API int VOXA_CALL VOXA_Set_AccAxis(int axes, int value) {
  return Guard(0, [&](Board& c) { return SetAxisField(c, PerAxis(ACC), axes, U(value)); });
}
VOXA_API int VOXA_CALL VOXA_Get_AccAxis(int axes) {
  return Guard(0, [&](Board& c) { return GetAxisField(c, PerAxis(ACC), axes); });
}
VOXA_API int VOXA_CALL VOXA_Set_Dec(int value) {
  return Guard(0, [&](Board& c) { return SetBoardField(c, BoardWide(DEC), U(value)); });
}
VOXA_API int VOXA_CALL VOXA_Get_Dec(void) {
  return Guard(0, [&](Board& c) { return GetBoardField(c, BoardWide(DEC)); });
}
VOXA_API int VOXA_CALL VOXA_Set_DecAxis(int axes, int value) {
  return Guard(0, [&](Board& c) { return SetAxisField(c, PerAxis(DEC), axes, U(value)); });
}
VOXA_API int VOXA_CALL VOXA_Get_DecAxis(int axes) {
  return Guard(0, [&](Board& c) { return GetAxisField(c, PerAxis(DEC), axes); });
}
VOXA_API int VOXA_CALL VOXA_Set_Acc2(int value) {
  return Guard(0, [&](Board& c) { return SetBoardField(c, BoardWide(ACC2), U(value)); });
}
VOXA_API int VOXA_CALL VOXA_Get_Acc2(void) {
  return Guard(0, [&](Board& c) { return GetBoardField(c, BoardWide(ACC2)); });
}
VOXA_API int VOXA_CALL VOXA_Set_Acc2Axis(int axes, int value) {
  return Guard(0, [&](Board& c) { return SetAxisField(c, PerAxis(ACC2), axes, U(value)); });
}
VOXA_API int VOXA_CALL VOXA_Get_Acc2Axis(int axes) {
  return Guard(0, [&](Board& c) { return GetAxisField(c, PerAxis(ACC2), axes); });
}
VOXA_API int VOXA_CALL VOXA_Set_Dec2(int value) {
  return Guard(0, [&](Board& c) { return SetBoardField(c, BoardWide(DEC2), U(value)); });
}
VOXA_API int VOXA_CALL VOXA_Get_Dec2(void) {
  return Guard(0, [&](Board& c) { return GetBoardField(c, BoardWide(DEC2)); });
}
VOXA_API int VOXA_CALL VOXA_Set_Dec2Axis(int axes, int value) {
  return Guard(0, [&](Board& c) { return SetAxisField(c, PerAxis(DEC2), axes, U(value)); });
}
VOXA_API int VOXA_CALL VOXA_Get_Dec2Axis(int axes) {
  return Guard(0, [&](Board& c) { return GetAxisField(c, PerAxis(DEC2), axes); });
}

// ---- multiplier and constant linear velocity ----
VOXA_API int VOXA_CALL VOXA_Set_VelMultiplier(int value) {
  return Guard(0, [&](Board& c) { return SetVelMultiplier(c, value); });
}
VOXA_API int VOXA_CALL VOXA_Get_VelMultiplier(void) {
  return Guard(0, [&](Board& c) { return GetVelMultiplier(c); });
}
VOXA_API int VOXA_CALL VOXA_Enable_CLV(int flag) {
  return Guard(0, [&](Board& c) { return SetBoardSwitch(c, kCLV, flag); });
}
VOXA_API int VOXA_CALL VOXA_Is_CLV(void) {
  return Guard(0, [&](Board& c) { return GetBoardSwitch(c, kCLV); });
}
VOXA_API int VOXA_CALL VOXA_Set_CLVAxis(int axes) {
  return Guard(0, [&](Board& c) { return SetBoardField(c, kCLVAxis, U(axes)); });
}
VOXA_API int VOXA_CALL VOXA_Get_CLVAxis(void) {
  return Guard(0, [&](Board& c) { return GetBoardField(c, kCLVAxis); });
}

// ---- overrides ----
VOXA_API int VOXA_CALL VOXA_Set_VelOverride(int value) {
  return Guard(0, [&](Board& c) { return SetOverride(c, kVelOverride, value); });
}
VOXA_API int VOXA_CALL VOXA_Get_VelOverride(void) {
  return Guard(0, [&](Board& c) { return GetBoardField(c, kVelOverride.field); });
}
VOXA_API int VOXA_CALL VOXA_Set_VelOverride2(int value) {
  return Guard(0, [&](Board& c) { return SetOverride(c, kVelOverride2, value); });
}
VOXA_API int VOXA_CALL VOXA_Get_VelOverride2(void) {
  return Guard(0, [&](Board& c) { return GetBoardField(c, kVelOverride2.field); });
}
VOXA_API int VOXA_CALL VOXA_Set_S1VelOverride(int value) {
  return Guard(0, [&](Board& c) { return SetOverride(c, kS1VelOverride, value); });
}
VOXA_API int VOXA_CALL VOXA_Get_S1VelOverride(void) {
  return Guard(0, [&](Board& c) { return GetBoardField(c, kS1VelOverride.field); });
}
VOXA_API int VOXA_CALL VOXA_Set_S2VelOverride(int value) {
  return Guard(0, [&](Board& c) { return SetOverride(c, kS2VelOverride, value); });
}
VOXA_API int VOXA_CALL VOXA_Get_S2VelOverride(void) {
  return Guard(0, [&](Board& c) { return GetBoardField(c, kS2VelOverride.field); });
}
VOXA_API int VOXA_CALL VOXA_Lock_VelOverride(void) {
  return Guard(0, [&](Board& c) { return BoardAction(c, kLockVelOverride); });
}
VOXA_API int VOXA_CALL VOXA_Unlock_VelOverride(void) {
  return Guard(0, [&](Board& c) { return BoardAction(c, kUnlockVelOverride); });
}
VOXA_API int VOXA_CALL VOXA_Is_Lock_VelOverride(void) {
  return Guard(0, [&](Board& c) { return GetBoardBit(c, kVelOverrideLocked); });
}

// ---- dwell times ----
VOXA_API int VOXA_CALL VOXA_Set_DwellTime(int value) {
  return Guard(0, [&](Board& c) { return SetBoardField(c, kDwellTime, U(value)); });
}
VOXA_API int VOXA_CALL VOXA_Get_DwellTime(void) {
  return Guard(-1, [&](Board& c) { return GetBoardField(c, kDwellTime); });
}
VOXA_API int VOXA_CALL VOXA_Enable_DwellTimeAxis(int axes, int flag) {
  return Guard(0, [&](Board& c) { return SetAxisBit(c, kDwellTimeAxisOn, axes, flag); });
}
VOXA_API int VOXA_CALL VOXA_Set_DwellTimeAxis(int axes, int value) {
  return Guard(0, [&](Board& c) { return SetAxisField(c, kDwellTimeAxis, axes, U(value)); });
}
VOXA_API int VOXA_CALL VOXA_Get_DwellTimeAxis(int axes) {
  return Guard(-1, [&](Board& c) { return GetAxisField(c, kDwellTimeAxisRead, axes); });
}

// ---- control rate, convergence, feed-forward, auto transition ----
VOXA_API int VOXA_CALL VOXA_Set_VelCtrlHz(int value) {
  return Guard(0, [&](Board& c) { return SetBoardField(c, kVelCtrlHz, U(value)); });
}
VOXA_API int VOXA_CALL VOXA_Get_VelCtrlHz(void) {
  return Guard(-1, [&](Board& c) { return GetBoardField(c, kVelCtrlHz); });
}
VOXA_API int VOXA_CALL VOXA_Enable_VelForceConvergence(int flag) {
  return Guard(0, [&](Board& c) { return SetBoardBit(c, kVelForceConvergence, flag); });
}
VOXA_API int VOXA_CALL VOXA_Is_VelForceConvergence(void) {
  return Guard(0, [&](Board& c) { return GetBoardBit(c, kVelForceConvergence); });
}
VOXA_API int VOXA_CALL VOXA_Enable_FFC(int flag) {
  return Guard(0, [&](Board& c) { return SetBoardBit(c, kFFC, flag); });
}
VOXA_API int VOXA_CALL VOXA_Is_FFC(void) {
  return Guard(0, [&](Board& c) { return GetBoardBit(c, kFFC); });
}
VOXA_API int VOXA_CALL VOXA_Set_FFC_PMax(int value) {
  return Guard(0, [&](Board& c) { return SetFFCPMax(c, value); });
}
VOXA_API int VOXA_CALL VOXA_Enable_VelPosAutoTransition(int axes, int flag) {
  return Guard(0, [&](Board& c) { return SetAxisBit(c, kVelPosAutoTransition, axes, flag); });
}
VOXA_API int VOXA_CALL VOXA_Is_VelPosAutoTransition(int axes) {
  return Guard(0, [&](Board& c) { return GetAxisBit(c, kVelPosAutoTransition, axes); });
}

}  // extern "C"
