// Home return settings and status.
#include "voxa/voxa.h"

#include "api/board_table.h"
#include "families/motion/home_return.h"

using namespace voxa;
using namespace voxa::api;
using namespace voxa::family;
using namespace voxa::family::motion;

extern "C" {

VOXA_API int VOXA_CALL VOXA_Set_HomeMode(int axes, int mode) {
  return Guard(0, [&](Board& c) { return SetHomeMode(c, axes, mode); });
}
VOXA_API int VOXA_CALL VOXA_Get_HomeMode(int axes) {
  return Guard(-1, [&](Board& c) { return GetHomeMode(c, axes); });
}
VOXA_API int VOXA_CALL VOXA_Set_HomeDir(int axes, int direction) {
  return Guard(0, [&](Board& c) { return SetAxisBit(c, kHomeDir, axes, direction); });
}
VOXA_API int VOXA_CALL VOXA_Is_HomeDir(int axes) {
  return Guard(0, [&](Board& c) { return GetAxisBit(c, kHomeDir, axes); });
}
VOXA_API int VOXA_CALL VOXA_Set_HomeSensorLevel(int axes, int level) {
  return Guard(0, [&](Board& c) { return SetAxisBit(c, kHomeSensorLevel, axes, level); });
}
VOXA_API int VOXA_CALL VOXA_Is_HomeSensorLevel(int axes) {
  return Guard(0, [&](Board& c) { return GetAxisBit(c, kHomeSensorLevel, axes); });
}
VOXA_API int VOXA_CALL VOXA_Is_HomeSensor(int axes) {
  return Guard(0, [&](Board& c) { return GetAxisBit(c, kHomeSensor, axes); });
}
VOXA_API int VOXA_CALL VOXA_Set_HomeSeekVel(int axes, int velocity) {
  return Guard(0, [&](Board& c) { return SetAxisField(c, kHomeSeekVel, axes, static_cast<uint32_t>(velocity)); });
}
VOXA_API int VOXA_CALL VOXA_Get_HomeSeekVel(int axes) {
  return Guard(0, [&](Board& c) { return GetAxisField(c, kHomeSeekVel, axes); });
}
VOXA_API int VOXA_CALL VOXA_Set_HomeSeekOffsetPulse(int axes, int offset) {
  return Guard(0, [&](Board& c) { return SetAxisField(c, kHomeSeekOffset, axes, static_cast<uint32_t>(offset)); });
}
VOXA_API int VOXA_CALL VOXA_Get_HomeSeekOffsetPulse(int axes) {
  return Guard(-1, [&](Board& c) { return GetAxisField(c, kHomeSeekOffset, axes); });
}
VOXA_API int VOXA_CALL VOXA_Set_HomeDev(int axes, int deviation) {
  return Guard(0, [&](Board& c) { return SetHomeDev(c, axes, deviation); });
}
VOXA_API int VOXA_CALL VOXA_Get_HomeDev(int axes) {
  return Guard(-1, [&](Board& c) { return GetHomeDev(c, axes); });
}
VOXA_API int VOXA_CALL VOXA_Enable_HomeDevAlarm(int axes, int flag) {
  return Guard(0, [&](Board& c) { return SetAxisBit(c, kHomeDevAlarm, axes, flag); });
}
VOXA_API int VOXA_CALL VOXA_Is_HomeDevAlarm(int axes) {
  return Guard(0, [&](Board& c) { return GetAxisBit(c, kHomeDevAlarm, axes); });
}
VOXA_API int VOXA_CALL VOXA_Enable_HomeReturnAutoZero(int axes, int flag) {
  return Guard(0, [&](Board& c) { return SetAxisBit(c, kHomeReturnAutoZero, axes, flag); });
}
VOXA_API int VOXA_CALL VOXA_Is_HomeReturnAutoZero(int axes) {
  return Guard(0, [&](Board& c) { return GetAxisBit(c, kHomeReturnAutoZero, axes); });
}
VOXA_API int VOXA_CALL VOXA_Enable_HomeSensorAutoZero(int axes, int flag) {
  return Guard(0, [&](Board& c) { return SetAxisBit(c, kHomeSensorAutoZero, axes, flag); });
}
VOXA_API int VOXA_CALL VOXA_Is_HomeSensorAutoZero(int axes) {
  return Guard(0, [&](Board& c) { return GetAxisBit(c, kHomeSensorAutoZero, axes); });
}
VOXA_API int VOXA_CALL VOXA_Enable_HomeServoReset(int axes, int flag) {
  return Guard(0, [&](Board& c) { return SetAxisBit(c, kHomeServoReset, axes, flag); });
}
VOXA_API int VOXA_CALL VOXA_Is_HomeServoReset(int axes) {
  return Guard(0, [&](Board& c) { return GetAxisBit(c, kHomeServoReset, axes); });
}
VOXA_API int VOXA_CALL VOXA_Is_HomeReturnExe(int axes) {
  return Guard(0, [&](Board& c) { return GetAxisBit(c, kHomeReturnExe, axes); });
}
VOXA_API int VOXA_CALL VOXA_Is_HomeReturnAlarm(int axes) {
  return Guard(0, [&](Board& c) { return GetAxisBit(c, kHomeReturnAlarm, axes); });
}
VOXA_API int VOXA_CALL VOXA_HomeLimitAxis(int axes, int flag) {
  return Guard(0, [&](Board& c) { return SetBoardAxisBits(c, kHomeLimitAxis, axes, flag); });
}
VOXA_API int VOXA_CALL VOXA_Is_HomeLimitAxis(int axes) {
  return Guard(0, [&](Board& c) { return GetBoardAxisBit(c, kHomeLimitAxis, axes); });
}
VOXA_API int VOXA_CALL VOXA_HomeBackSearchAxis(int axes, int flag) {
  return Guard(0, [&](Board& c) { return SetBoardAxisBits(c, kHomeBackSearchAxis, axes, flag); });
}
VOXA_API int VOXA_CALL VOXA_Is_HomeBackSearchAxis(int axes) {
  return Guard(0, [&](Board& c) { return GetBoardAxisBit(c, kHomeBackSearchAxis, axes); });
}

}  // extern "C"
