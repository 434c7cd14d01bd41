// Command and encoder positions, gear ratios, backlash and position modes.
#include "voxa/voxa.h"

#include "api/board_table.h"
#include "families/motion/positions.h"

using namespace voxa;
using namespace voxa::api;
using namespace voxa::family;
using namespace voxa::family::motion;

extern "C" {

VOXA_API int VOXA_CALL VOXA_Set_CurPos(int axes, int position) {
  return Guard(0, [&](Board& c) { return SetAxisWord(c, kCurPos, axes, static_cast<uint32_t>(position)); });
}
VOXA_API int VOXA_CALL VOXA_Get_CurPos(int axes) {
  return Guard(0, [&](Board& c) { return GetAxisWord(c, kCurPos, axes); });
}
VOXA_API int VOXA_CALL VOXA_Set_EncPos(int axes, int position) {
  return Guard(0, [&](Board& c) { return SetAxisWord(c, kEncPos, axes, static_cast<uint32_t>(position)); });
}
VOXA_API int VOXA_CALL VOXA_Get_EncPos(int axes) {
  return Guard(0, [&](Board& c) { return GetAxisWord(c, kEncPos, axes); });
}
VOXA_API int VOXA_CALL VOXA_Get_EncZCount(int axes) {
  return Guard(-1, [&](Board& c) { return GetAxisField(c, kEncZCount, axes); });
}
VOXA_API int VOXA_CALL VOXA_Set_GearRatio(int axes, int ratio) {
  return Guard(0, [&](Board& c) { return SetAxisWord(c, kGearRatio, axes, static_cast<uint32_t>(ratio)); });
}
VOXA_API int VOXA_CALL VOXA_Get_GearRatio(int axes) {
  return Guard(-1, [&](Board& c) { return GetAxisWord(c, kGearRatio, axes); });
}
VOXA_API int VOXA_CALL VOXA_Enable_Backlash(int axes, int flag) {
  return Guard(0, [&](Board& c) { return SetAxisBit(c, kBacklashOn, axes, flag); });
}
VOXA_API int VOXA_CALL VOXA_Set_Backlash(int axes, int amount) {
  return Guard(0, [&](Board& c) { return SetAxisField(c, kBacklash, axes, static_cast<uint32_t>(amount)); });
}
VOXA_API int VOXA_CALL VOXA_Get_Backlash(int axes) {
  return Guard(0, [&](Board& c) { return GetAxisField(c, kBacklashRead, axes); });
}
VOXA_API int VOXA_CALL VOXA_Set_PosMode(int flag) {
  return Guard(0, [&](Board& c) { return SetBoardBit(c, kPosMode, flag); });
}
VOXA_API int VOXA_CALL VOXA_Get_PosMode(void) {
  return Guard(-1, [&](Board& c) { return GetBoardBit(c, kPosMode); });
}
VOXA_API int VOXA_CALL VOXA_Set_PosDispMode(int flag) {
  return Guard(0, [&](Board& c) { return SetBoardBit(c, kPosDispMode, flag); });
}
VOXA_API int VOXA_CALL VOXA_Get_PosDispMode(void) {
  return Guard(-1, [&](Board& c) { return GetBoardBit(c, kPosDispMode); });
}

}  // extern "C"
