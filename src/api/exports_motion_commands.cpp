// Motion commands, MI mode, the BPU value and master axes.
#include "voxa/voxa.h"

#include "api/board_table.h"
#include "families/motion/motion_commands.h"

using namespace voxa;
using namespace voxa::api;
using namespace voxa::family;
using namespace voxa::family::motion;

extern "C" {

VOXA_API int VOXA_CALL VOXA_Home(int axes, int value) {
  return Guard(0, [&](Board& c) { return MoveAll(c, kHome, axes, value); });
}
VOXA_API int VOXA_CALL VOXA_IMove(int axes, const int* values) {
  return Guard(0, [&](Board& c) { return Move(c, kIMove, axes, values); });
}
VOXA_API int VOXA_CALL VOXA_CMove(int axes, const int* values) {
  return Guard(0, [&](Board& c) { return Move(c, kCMove, axes, values); });
}
VOXA_API int VOXA_CALL VOXA_Line(int axes, const int* values) {
  return Guard(0, [&](Board& c) { return Move(c, kLine, axes, values); });
}
VOXA_API int VOXA_CALL VOXA_ArcCW(int axes, const int* centre, const int* end) {
  return Guard(0, [&](Board& c) { return Arc(c, kArcCW, axes, centre, end); });
}
VOXA_API int VOXA_CALL VOXA_ArcCCW(int axes, const int* centre, const int* end) {
  return Guard(0, [&](Board& c) { return Arc(c, kArcCCW, axes, centre, end); });
}
VOXA_API int VOXA_CALL VOXA_BitPattern(int axes, const int* blocks, int count) {
  return Guard(0, [&](Board& c) { return BitPattern(c, axes, blocks, count); });
}
VOXA_API int VOXA_CALL VOXA_Spindle(int axes, int value) {
  return Guard(0, [&](Board& c) { return MoveAll(c, kSpindle, axes, value); });
}
VOXA_API int VOXA_CALL VOXA_XMove(int axes, const int* values, int p1, int p2, int p3, int p4) {
  return Guard(0, [&](Board& c) { return XMove(c, axes, values, p1, p2, p3, p4); });
}
VOXA_API int VOXA_CALL VOXA_IHome(int axes, const int* values) {
  return Guard(0, [&](Board& c) { return Move(c, kIHome, axes, values); });
}

VOXA_API int VOXA_CALL VOXA_Enable_MI(int flag) {
  return Guard(0, [&](Board& c) { return SetBoardSwitch(c, kMI, flag); });
}
VOXA_API int VOXA_CALL VOXA_MIExe(void) {
  return Guard(0, [&](Board& c) { return BoardAction(c, kMIExe); });
}
VOXA_API int VOXA_CALL VOXA_Is_MI(void) {
  return Guard(0, [&](Board& c) { return GetBoardSwitch(c, kMI); });
}

VOXA_API int VOXA_CALL VOXA_Set_BPU(int value) {
  return Guard(0, [&](Board& c) { return SetBoardField(c, kBPU, static_cast<uint32_t>(value)); });
}
VOXA_API int VOXA_CALL VOXA_Get_BPU(void) {
  return Guard(0, [&](Board& c) { return GetBoardField(c, kBPU); });
}

VOXA_API int VOXA_CALL VOXA_Set_MasterAxis(int slaves, int master) {
  return Guard(0, [&](Board& c) { return SetMasterAxis(c, slaves, master); });
}
VOXA_API int VOXA_CALL VOXA_Get_MasterAxis(int axes) {
  return Guard(0, [&](Board& c) { return GetMasterAxis(c, axes); });
}

}  // extern "C"
