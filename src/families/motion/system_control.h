// Board-wide control: execution state, stops, delays, baud rates and the
// board-wide mode switches. Settings live in CHIPSET (and VELAUXSET word 1
// for the immediate-stop deceleration); the execution state is read from
// CHIPSTATUS word 0 as the board last reported it.
#pragma once

#include "families/shapes.h"

namespace voxa::family::control {

// ---- CHIPSET mode bits and fields (register writes) ----
inline constexpr BoardBit kInterruptMode{CHIPSET, 0, 1u << 13, Flag::ZeroOrOne};
inline constexpr BoardBit kExtEmgStopMode{CHIPSET, 0, 1u << 17, Flag::ZeroOrOne};
inline constexpr BoardBit kIEndComp{CHIPSET, 0, 1u << 5};
// Step execution is switched with the system tag; the board reports the
// mode it runs in CHIPSTATUS, and that is what the query reads.
inline constexpr BoardBit kStepExe{CHIPSET, 0, 1u << 3, Flag::Whole, kTagSystem};
inline constexpr BoardBit kStepExeReport{CHIPSTATUS, 0, 1u << 3};
inline constexpr BoardBit kAuxPortStateTimer{CHIPSET, 1, 1u << 13};
inline constexpr BoardBit kAuxPortStatePacket{CHIPSET, 1, 1u << 14};
inline constexpr BoardBit kAuxPortAllCommand{CHIPSET, 1, 1u << 15};
inline constexpr BoardBit kRestrictedImCmd{CHIPSET, 1, 1u << 24, Flag::LowByte};
inline constexpr BoardBit kVelMode3StartMode{CHIPSET, 1, 1u << 26, Flag::LowByte};
inline constexpr BoardBit kMainLinkAlarm{CHIPSET, 1, 1u << 27, Flag::LowByte};
inline constexpr BoardField kInportMode{CHIPSET, 3, 0x300, 8};
inline constexpr BoardField kOutportMode{CHIPSET, 3, 0xC00, 10};
inline constexpr BoardField kGIOMap{CHIPSET, 3, 0xFF000000u, 24};
inline constexpr BoardField kImStopDec{VELAUXSET, 1, 0xFFFF, 0};

// ---- link baud rates: a two-bit code per port ----
inline constexpr BoardField kMainBaudrate{CHIPSET, 0, 0x03000000u, 24};
inline constexpr BoardField kAuxBaudrate{CHIPSET, 0, 0x0C000000u, 26};
// 115200, 230400, 460800 and 921600 are codes 0..3; any other rate returns
// 0 and changes nothing (no error is recorded).
int SetBaudrate(Board& c, const BoardField& port, int baud);
int GetBaudrate(Board& c, const BoardField& port);

// ---- execution control ----
// A system command (code below 0x10) or a board-wide action (mask 0), with
// the immediate flag by the command mode and the system tag.
struct ExecCommand {
  uint8_t code;
};
inline constexpr ExecCommand kEnableExe{0x02};
inline constexpr ExecCommand kAlarmReset{0x03};
inline constexpr ExecCommand kResume{0x04};
inline constexpr ExecCommand kUpdateBaudrate{0x0B};
inline constexpr ExecCommand kImStop{0x50};
inline constexpr ExecCommand kDecStop{0x51};
inline constexpr ExecCommand kCancel{0x55};
inline constexpr ExecCommand kPause{0x57};
int Execute(Board& c, ExecCommand cmd);
// An immediate stop for a nonzero flag, else a decelerating stop.
int EStop(Board& c, int flag);
// Empties the soft queue, clears the board's queue with a command that is
// always immediate, then resets the board (by the command mode).
int Reset(Board& c);

// Continuous execution: the image bit follows the flag; the board is
// switched by action command.
inline constexpr BoardSwitch kCExe{CHIPSET, 0, 1u << 4, 0x6C, 0x6D};

// ---- delays: operands in CAL0, then action 0x56; both carry the command ID ----
int Delay(Board& c, int32_t t);
int XDelay(Board& c, int32_t p1, int32_t p2, int32_t p3, int32_t p4, int32_t p5, int32_t p6);

// ---- execution state (CHIPSTATUS word 0) ----
// Set when the bits under mask equal value.
struct ExecState {
  uint32_t mask;
  uint32_t value;
};
inline constexpr ExecState kEStopState{0x90, 0x90};  // halted and alarmed
inline constexpr ExecState kPauseState{0x90, 0x10};  // halted, no alarm
inline constexpr ExecState kAlarmState{0x80, 0x80};
inline constexpr ExecState kEmgExeState{0x10, 0x10};
inline constexpr ExecState kEnableExeState{0x20, 0x20};
int IsExecState(Board& c, ExecState s);

}  // namespace voxa::family::control
