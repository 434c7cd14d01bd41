// Servo signals: outputs, active levels, automatic switches, pulse and
// in-position times, servo-on mode and the inputs.
#include "api/board_table.h"
#include "families/io/io.h"

using namespace voxa;
using namespace voxa::api;
using family::AxisBit;
using family::Board;

namespace {

// SERVOIO, word i = axis i.
constexpr AxisBit kServoOn{SERVOIO, 0x10};
constexpr AxisBit kServoReset{SERVOIO, 0x20};
constexpr AxisBit kServoEStop{SERVOIO, 0x40};
constexpr AxisBit kServoUserOut{SERVOIO, 0x80};
constexpr AxisBit kReadyLevel{SERVOIO, 0x100};
constexpr AxisBit kInposLevel{SERVOIO, 0x200};
constexpr AxisBit kAlarmLevel{SERVOIO, 0x400};
constexpr AxisBit kUserInLevel{SERVOIO, 0x800};
constexpr AxisBit kOnLevel{SERVOIO, 0x1000};
constexpr AxisBit kResetLevel{SERVOIO, 0x2000};
constexpr AxisBit kEStopLevel{SERVOIO, 0x4000};
constexpr AxisBit kUserOutLevel{SERVOIO, 0x8000};
constexpr AxisBit kReadyAuto{SERVOIO, 0x10000};
constexpr AxisBit kInposAuto{SERVOIO, 0x20000};
constexpr AxisBit kAlarmAuto{SERVOIO, 0x40000};
constexpr AxisBit kOnAuto{SERVOIO, 0x100000};
constexpr AxisBit kResetAuto{SERVOIO, 0x200000};
constexpr AxisBit kEStopAuto{SERVOIO, 0x400000};
constexpr AxisBit kUserOutAuto{SERVOIO, 0x800000};
constexpr AxisBit kInposAlarm{SERVOIO, 0x10000000, family::Flag::Whole, kTagConfig};
constexpr family::AxisField kPulseTime{SERVOIO, 0x3000000, 24};
constexpr family::AxisField kServoOnMode{SERVOIO, 0xC0000000, 30};
// One in-position time for the whole board.
constexpr family::BoardField kInposTime{PULSEOFFSET, 5, 0xFFFF, 0, kTagConfig};

// AXISSTATUS, the inputs as the board reports them.
constexpr AxisBit kReady{AXISSTATUS, 0x100};
constexpr AxisBit kInpos{AXISSTATUS, 0x200};
constexpr AxisBit kAlarm{AXISSTATUS, 0x400};
constexpr AxisBit kUserIn{AXISSTATUS, 0x800};

int SetBit(const AxisBit& d, int axes, int flag) {
  return Guard(0, [&](Board& c) { return family::SetAxisBit(c, d, axes, flag); });
}
int SetLevel(const AxisBit& d, int axes, int level) {
  return Guard(0, [&](Board& c) { return family::io::SetLevel(c, d, axes, level); });
}
int IsBit(const AxisBit& d, int axes) {
  return Guard(0, [&](Board& c) { return family::GetAxisBit(c, d, axes); });
}

}  // namespace

extern "C" {

VOXA_API int VOXA_CALL VOXA_Set_ServoOn(int axes, int flag) { return SetBit(kServoOn, axes, flag); }
VOXA_API int VOXA_CALL VOXA_Is_ServoOn(int axes) { return IsBit(kServoOn, axes); }
VOXA_API int VOXA_CALL VOXA_Set_ServoReset(int axes, int flag) { return SetBit(kServoReset, axes, flag); }
VOXA_API int VOXA_CALL VOXA_Is_ServoReset(int axes) { return IsBit(kServoReset, axes); }
VOXA_API int VOXA_CALL VOXA_Set_ServoEStop(int axes, int flag) { return SetBit(kServoEStop, axes, flag); }
VOXA_API int VOXA_CALL VOXA_Is_ServoEStop(int axes) { return IsBit(kServoEStop, axes); }
VOXA_API int VOXA_CALL VOXA_Set_ServoUserOut(int axes, int flag) { return SetBit(kServoUserOut, axes, flag); }
VOXA_API int VOXA_CALL VOXA_Is_ServoUserOut(int axes) { return IsBit(kServoUserOut, axes); }

VOXA_API int VOXA_CALL VOXA_Set_ServoReadyLevel(int axes, int level) { return SetLevel(kReadyLevel, axes, level); }
VOXA_API int VOXA_CALL VOXA_Is_ServoReadyLevel(int axes) { return IsBit(kReadyLevel, axes); }
VOXA_API int VOXA_CALL VOXA_Set_ServoInposLevel(int axes, int level) { return SetLevel(kInposLevel, axes, level); }
VOXA_API int VOXA_CALL VOXA_Is_ServoInposLevel(int axes) { return IsBit(kInposLevel, axes); }
VOXA_API int VOXA_CALL VOXA_Set_ServoAlarmLevel(int axes, int level) { return SetLevel(kAlarmLevel, axes, level); }
VOXA_API int VOXA_CALL VOXA_Is_ServoAlarmLevel(int axes) { return IsBit(kAlarmLevel, axes); }
VOXA_API int VOXA_CALL VOXA_Set_ServoUserInLevel(int axes, int level) { return SetLevel(kUserInLevel, axes, level); }
VOXA_API int VOXA_CALL VOXA_Is_ServoUserInLevel(int axes) { return IsBit(kUserInLevel, axes); }
VOXA_API int VOXA_CALL VOXA_Set_ServoOnLevel(int axes, int level) { return SetLevel(kOnLevel, axes, level); }
VOXA_API int VOXA_CALL VOXA_Is_ServoOnLevel(int axes) { return IsBit(kOnLevel, axes); }
VOXA_API int VOXA_CALL VOXA_Set_ServoResetLevel(int axes, int level) { return SetLevel(kResetLevel, axes, level); }
VOXA_API int VOXA_CALL VOXA_Is_ServoResetLevel(int axes) { return IsBit(kResetLevel, axes); }
VOXA_API int VOXA_CALL VOXA_Set_ServoEStopLevel(int axes, int level) { return SetLevel(kEStopLevel, axes, level); }
VOXA_API int VOXA_CALL VOXA_Is_ServoEStopLevel(int axes) { return IsBit(kEStopLevel, axes); }
VOXA_API int VOXA_CALL VOXA_Set_ServoUserOutLevel(int axes, int level) { return SetLevel(kUserOutLevel, axes, level); }
VOXA_API int VOXA_CALL VOXA_Is_ServoUserOutLevel(int axes) { return IsBit(kUserOutLevel, axes); }

VOXA_API int VOXA_CALL VOXA_Enable_ServoReadyAuto(int axes, int flag) { return SetBit(kReadyAuto, axes, flag); }
VOXA_API int VOXA_CALL VOXA_Is_ServoReadyAuto(int axes) { return IsBit(kReadyAuto, axes); }
VOXA_API int VOXA_CALL VOXA_Enable_ServoInposAuto(int axes, int flag) { return SetBit(kInposAuto, axes, flag); }
VOXA_API int VOXA_CALL VOXA_Is_ServoInposAuto(int axes) { return IsBit(kInposAuto, axes); }
VOXA_API int VOXA_CALL VOXA_Enable_ServoAlarmAuto(int axes, int flag) { return SetBit(kAlarmAuto, axes, flag); }
VOXA_API int VOXA_CALL VOXA_Is_ServoAlarmAuto(int axes) { return IsBit(kAlarmAuto, axes); }
VOXA_API int VOXA_CALL VOXA_Enable_ServoOnAuto(int axes, int flag) { return SetBit(kOnAuto, axes, flag); }
VOXA_API int VOXA_CALL VOXA_Is_ServoOnAuto(int axes) { return IsBit(kOnAuto, axes); }
VOXA_API int VOXA_CALL VOXA_Enable_ServoResetAuto(int axes, int flag) { return SetBit(kResetAuto, axes, flag); }
VOXA_API int VOXA_CALL VOXA_Is_ServoResetAuto(int axes) { return IsBit(kResetAuto, axes); }
VOXA_API int VOXA_CALL VOXA_Enable_ServoEStopAuto(int axes, int flag) { return SetBit(kEStopAuto, axes, flag); }
VOXA_API int VOXA_CALL VOXA_Is_ServoEStopAuto(int axes) { return IsBit(kEStopAuto, axes); }
VOXA_API int VOXA_CALL VOXA_Enable_ServoUserOutAuto(int axes, int flag) { return SetBit(kUserOutAuto, axes, flag); }
VOXA_API int VOXA_CALL VOXA_Is_ServoUserOutAuto(int axes) { return IsBit(kUserOutAuto, axes); }

VOXA_API int VOXA_CALL VOXA_Set_ServoPulseTime(int axes, int time) {
  return Guard(0, [&](Board& c) { return family::SetAxisField(c, kPulseTime, axes, family::io::PulseTimeCode(time)); });
}
VOXA_API int VOXA_CALL VOXA_Get_ServoPulseTime(int axes) {
  return Guard(0, [&](Board& c) { return family::io::PulseTimeOf(family::GetAxisField(c, kPulseTime, axes)); });
}
VOXA_API int VOXA_CALL VOXA_Set_ServoOnMode(int axes, int mode) {
  return Guard(0, [&](Board& c) {
    Require(mode >= 0 && mode <= 3);
    return family::SetAxisField(c, kServoOnMode, axes, static_cast<uint32_t>(mode));
  });
}
VOXA_API int VOXA_CALL VOXA_Get_ServoOnMode(int axes) {
  return Guard(-1, [&](Board& c) { return static_cast<int>(family::GetAxisField(c, kServoOnMode, axes)); });
}
VOXA_API int VOXA_CALL VOXA_Enable_ServoInposAlarm(int axes, int flag) { return SetBit(kInposAlarm, axes, flag); }
VOXA_API int VOXA_CALL VOXA_Is_ServoInposAlarm(int axes) { return IsBit(kInposAlarm, axes); }
VOXA_API int VOXA_CALL VOXA_Set_ServoInposTime(int, int time) {
  return Guard(0, [&](Board& c) { return family::SetBoardField(c, kInposTime, static_cast<uint32_t>(time)); });
}
VOXA_API int VOXA_CALL VOXA_Get_ServoInposTime(int) {
  return Guard(0, [](Board& c) { return static_cast<int>(family::GetBoardField(c, kInposTime)); });
}

VOXA_API int VOXA_CALL VOXA_Is_ServoReady(int axes) { return IsBit(kReady, axes); }
VOXA_API int VOXA_CALL VOXA_Is_ServoInpos(int axes) { return IsBit(kInpos, axes); }
VOXA_API int VOXA_CALL VOXA_Is_ServoAlarm(int axes) { return IsBit(kAlarm, axes); }
VOXA_API int VOXA_CALL VOXA_Is_ServoUserIn(int axes) { return IsBit(kUserIn, axes); }

}  // extern "C"
