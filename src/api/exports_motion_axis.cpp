// Axis pulse output, limit switches, software limits and axis status.
#include "voxa/voxa.h"

#include "api/board_table.h"
#include "families/motion/axis_output.h"

using namespace voxa;
using namespace voxa::api;
using namespace voxa::family;
using namespace voxa::family::motion;

extern "C" {

// ---- pulse output ----
VOXA_API int VOXA_CALL VOXA_Set_PulseMode(int axes, int mode) {
  return Guard(0, [&](Board& c) { return SetPulseMode(c, axes, mode); });
}
VOXA_API int VOXA_CALL VOXA_Get_PulseMode(int axes) {
  return Guard(-1, [&](Board& c) { return GetPulseMode(c, axes); });
}
VOXA_API int VOXA_CALL VOXA_Set_PulseLevel(int axes, int level) {
  return Guard(0, [&](Board& c) { return SetAxisBit(c, kPulseLevel, axes, level); });
}
VOXA_API int VOXA_CALL VOXA_Get_PulseLevel(int axes) {
  return Guard(0, [&](Board& c) { return GetAxisBit(c, kPulseLevel, axes); });
}
VOXA_API int VOXA_CALL VOXA_Set_DirLevel(int axes, int level) {
  return Guard(0, [&](Board& c) { return SetAxisBit(c, kDirLevel, axes, level); });
}
VOXA_API int VOXA_CALL VOXA_Get_DirLevel(int axes) {
  return Guard(0, [&](Board& c) { return GetAxisBit(c, kDirLevel, axes); });
}
VOXA_API int VOXA_CALL VOXA_Set_CwLevel(int axes, int level) { return VOXA_Set_PulseLevel(axes, level); }
VOXA_API int VOXA_CALL VOXA_Get_CwLevel(int axes) { return VOXA_Get_PulseLevel(axes); }
VOXA_API int VOXA_CALL VOXA_Set_CcwLevel(int axes, int level) { return VOXA_Set_DirLevel(axes, level); }
VOXA_API int VOXA_CALL VOXA_Get_CcwLevel(int axes) { return VOXA_Get_DirLevel(axes); }
VOXA_API int VOXA_CALL VOXA_Set_AxisPulseWidth(int code) {
  return Guard(0, [&](Board& c) { return SetBoardField(c, kAxisPulseWidth, static_cast<uint32_t>(code)); });
}
VOXA_API int VOXA_CALL VOXA_Get_AxisPulseWidth(void) {
  return Guard(0, [&](Board& c) { return GetBoardField(c, kAxisPulseWidth); });
}

// ---- hardware limits ----
VOXA_API int VOXA_CALL VOXA_Enable_LowerLimit(int axes, int flag) {
  return Guard(0, [&](Board& c) { return SetAxisBit(c, kLowerLimitOn, axes, flag); });
}
VOXA_API int VOXA_CALL VOXA_Enable_UpperLimit(int axes, int flag) {
  return Guard(0, [&](Board& c) { return SetAxisBit(c, kUpperLimitOn, axes, flag); });
}
VOXA_API int VOXA_CALL VOXA_IsEnable_LowerLimit(int axes) {
  return Guard(0, [&](Board& c) { return GetAxisBit(c, kLowerLimitOn, axes); });
}
VOXA_API int VOXA_CALL VOXA_IsEnable_UpperLimit(int axes) {
  return Guard(0, [&](Board& c) { return GetAxisBit(c, kUpperLimitOn, axes); });
}
VOXA_API int VOXA_CALL VOXA_Set_LowerLimitLevel(int axes, int flag) {
  return Guard(0, [&](Board& c) { return SetAxisBit(c, kLowerLimitLevel, axes, flag); });
}
VOXA_API int VOXA_CALL VOXA_Set_UpperLimitLevel(int axes, int flag) {
  return Guard(0, [&](Board& c) { return SetAxisBit(c, kUpperLimitLevel, axes, flag); });
}
VOXA_API int VOXA_CALL VOXA_Get_LowerLimitLevel(int axes) {
  return Guard(0, [&](Board& c) { return GetAxisBit(c, kLowerLimitLevel, axes); });
}
VOXA_API int VOXA_CALL VOXA_Get_UpperLimitLevel(int axes) {
  return Guard(0, [&](Board& c) { return GetAxisBit(c, kUpperLimitLevel, axes); });
}

// ---- software limits ----
VOXA_API int VOXA_CALL VOXA_Enable_SoftLowerLimit(int axes, int flag) {
  return Guard(0, [&](Board& c) { return SetAxisBit(c, kSoftLowerLimitOn, axes, flag); });
}
VOXA_API int VOXA_CALL VOXA_Enable_SoftUpperLimit(int axes, int flag) {
  return Guard(0, [&](Board& c) { return SetAxisBit(c, kSoftUpperLimitOn, axes, flag); });
}
VOXA_API int VOXA_CALL VOXA_IsEnable_SoftLowerLimit(int axes) {
  return Guard(0, [&](Board& c) { return GetAxisBit(c, kSoftLowerLimitOn, axes); });
}
VOXA_API int VOXA_CALL VOXA_IsEnable_SoftUpperLimit(int axes) {
  return Guard(0, [&](Board& c) { return GetAxisBit(c, kSoftUpperLimitOn, axes); });
}
VOXA_API int VOXA_CALL VOXA_Set_SoftLowerLimit(int axes, int position) {
  return Guard(0, [&](Board& c) { return SetAxisWord(c, kSoftLowerLimit, axes, static_cast<uint32_t>(position)); });
}
VOXA_API int VOXA_CALL VOXA_Set_SoftUpperLimit(int axes, int position) {
  return Guard(0, [&](Board& c) { return SetAxisWord(c, kSoftUpperLimit, axes, static_cast<uint32_t>(position)); });
}
VOXA_API int VOXA_CALL VOXA_Get_SoftLowerLimit(int axes) {
  return Guard(0, [&](Board& c) { return GetAxisWord(c, kSoftLowerLimit, axes); });
}
VOXA_API int VOXA_CALL VOXA_Get_SoftUpperLimit(int axes) {
  return Guard(0, [&](Board& c) { return GetAxisWord(c, kSoftUpperLimit, axes); });
}
VOXA_API int VOXA_CALL VOXA_Set_SoftLimitMode(int axes, int mode) {
  return Guard(0, [&](Board& c) { return SetSoftLimitMode(c, axes, mode); });
}
VOXA_API int VOXA_CALL VOXA_Get_SoftLimitMode(int axes) {
  return Guard(-1, [&](Board& c) { return GetSoftLimitMode(c, axes); });
}

// ---- status ----
VOXA_API int VOXA_CALL VOXA_Is_LimitL(int axes) {
  return Guard(0, [&](Board& c) { return GetAxisBit(c, kLimitL, axes); });
}
VOXA_API int VOXA_CALL VOXA_Is_LimitH(int axes) {
  return Guard(0, [&](Board& c) { return GetAxisBit(c, kLimitH, axes); });
}
VOXA_API int VOXA_CALL VOXA_Is_SoftLimitL(int axes) {
  return Guard(0, [&](Board& c) { return GetAxisBit(c, kSoftLimitL, axes); });
}
VOXA_API int VOXA_CALL VOXA_Is_SoftLimitH(int axes) {
  return Guard(0, [&](Board& c) { return GetAxisBit(c, kSoftLimitH, axes); });
}
VOXA_API int VOXA_CALL VOXA_Is_CW(int axes) {
  return Guard(0, [&](Board& c) { return 1 - GetAxisBit(c, kCounterClockwise, axes); });
}
VOXA_API int VOXA_CALL VOXA_Is_CCW(int axes) {
  return Guard(0, [&](Board& c) { return GetAxisBit(c, kCounterClockwise, axes); });
}
VOXA_API int VOXA_CALL VOXA_Is_AlarmAxis(int axes) {
  return Guard(0, [&](Board& c) { return GetAxisBit(c, kAxisAlarm, axes); });
}
VOXA_API int VOXA_CALL VOXA_Is_PositionAlarm(int axes) {
  return Guard(0, [&](Board& c) { return GetAxisBit(c, kPositionAlarm, axes); });
}

}  // extern "C"
