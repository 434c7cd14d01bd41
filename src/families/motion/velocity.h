// The velocity profile: velocity modes, the seven velocity registers, the
// velocity multiplier, constant linear velocity, the overrides, dwell
// times, control rate, force convergence, feed-forward and the automatic
// velocity-to-position transition.
#pragma once

#include "families/shapes.h"

namespace voxa::family::motion {

// ---- velocity mode ----
// Board-wide mode 0..3 in CHIPSET word 0; mode 3 also clears CHIPSET word 1
// bit 25. Words 0 and 1 are written together.
inline constexpr BoardField kVelModeField{CHIPSET, 0, 0x3, 0};
int SetVelMode(Board& c, int mode);
// Per-axis mode 0..2 (an empty mask lets 3 through: nothing is changed).
inline constexpr AxisField kVelModeAxis{AXISSET, 0x300, 8};
int SetVelModeAxis(Board& c, int axes, int mode);
inline constexpr BoardField kVelState{CHIPSTATUS, 0, 0xC00, 10};
inline constexpr AxisField kVelStateAxis{AXISSTATUS, 0x3, 0};

// ---- STARTVEL, DRIVEVEL, CURVEL, ACC, DEC, ACC2, DEC2 ----
// Word 0 holds the board-wide value in bits 16-31 beside axis 0's own
// value in bits 0-15; every axis's own value is bits 0-15 of its word.
constexpr BoardField BoardWide(Reg r) { return {r, 0, 0xFFFF0000u, 16}; }
constexpr AxisField PerAxis(Reg r) { return {r, 0xFFFF, 0}; }
// The board-wide drive velocity also clears DRIVEVEL word 1 bits 16-31 and
// writes words 0 and 1.
int SetDriveVel(Board& c, int value);

// ---- velocity multiplier: 1, 2, 4, 8, 16 or 32, stored as its exponent ----
inline constexpr BoardField kVelMultiplierExp{VELAUXSET, 0, 0xFF00, 8};
int SetVelMultiplier(Board& c, int value);
int GetVelMultiplier(Board& c);  // the host copy, 1 until set

// ---- constant linear velocity ----
inline constexpr BoardSwitch kCLV{CHIPSET, 0, 1u << 2, 0x6A, 0x6B};
inline constexpr BoardField kCLVAxis{VELAUXSET, 0, 0xFF, 0};

// ---- overrides: a positive value, clamped to the field's limit ----
struct Override {
  BoardField field;
  int limit;
};
inline constexpr Override kVelOverride{{VELAUXSET, 3, 0xFFFF, 0}, 60000};
inline constexpr Override kVelOverride2{{VELAUXSET, 3, 0xFFFF0000u, 16}, 60000};
inline constexpr Override kS1VelOverride{{VELAUXSET, 4, 0xFFFF, 0}, 10000};
inline constexpr Override kS2VelOverride{{VELAUXSET, 4, 0xFFFF0000u, 16}, 10000};
int SetOverride(Board& c, const Override& o, int value);
inline constexpr uint8_t kLockVelOverride = 0x79;
inline constexpr uint8_t kUnlockVelOverride = 0x7A;
inline constexpr BoardBit kVelOverrideLocked{CHIPSET, 1, 1u << 22};  // kept by the board

// ---- dwell times ----
inline constexpr BoardField kDwellTime{VELAUXSET, 0, 0xFFFF0000u, 16};
inline constexpr AxisBit kDwellTimeAxisOn{AXISSET, 1u << 21};
inline constexpr AxisField kDwellTimeAxis{AXISAUXSET, 0xFFFF0000u, 16};
inline constexpr AxisField kDwellTimeAxisRead{AXISAUXSET, 0x3FFF0000u, 16};  // the board uses 14 bits

// ---- control rate, convergence, feed-forward, auto transition ----
inline constexpr BoardField kVelCtrlHz{VELAUXSET, 2, 0xFFFF0000u, 16};
inline constexpr BoardBit kVelForceConvergence{CHIPSET, 1, 1u << 21};
inline constexpr BoardBit kFFC{CHIPSET, 1, 1u << 20};
inline constexpr BoardField kFFCPMax{VELAUXSET, 2, 0xFFFF, 0};
int SetFFCPMax(Board& c, int value);  // above 1000 becomes 1000
inline constexpr AxisBit kVelPosAutoTransition{AXISSET, 1u << 10};

}  // namespace voxa::family::motion
