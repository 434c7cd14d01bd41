// Axis pulse output and travel limits: AXISSET settings per axis, the
// board-wide pulse width in CHIPSET word 4, the software limit positions in
// SLIMITL/SLIMITH, and the limit, direction and alarm status the board
// reports in AXISSTATUS.
#pragma once

#include "families/shapes.h"

namespace voxa::family::motion {

// ---- pulse output ----
// Modes 0, 1, 2 are stored as codes 3, 1, 0; code 2 reads back as mode 0.
inline constexpr AxisField kPulseModeField{AXISSET, 0x3, 0};
int SetPulseMode(Board& c, int axes, int mode);
int GetPulseMode(Board& c, int axes);
inline constexpr AxisBit kPulseLevel{AXISSET, 1u << 2, Flag::ZeroOrOne};  // also the CW level
inline constexpr AxisBit kDirLevel{AXISSET, 1u << 3, Flag::ZeroOrOne};    // also the CCW level
inline constexpr BoardField kAxisPulseWidth{CHIPSET, 4, 0x7, 0};

// ---- hardware limit switches ----
inline constexpr AxisBit kLowerLimitOn{AXISSET, 1u << 16, Flag::LowByte};
inline constexpr AxisBit kUpperLimitOn{AXISSET, 1u << 17, Flag::LowByte};
inline constexpr AxisBit kLowerLimitLevel{AXISSET, 1u << 12};
inline constexpr AxisBit kUpperLimitLevel{AXISSET, 1u << 13};

// ---- software limits ----
inline constexpr AxisBit kSoftLowerLimitOn{AXISSET, 1u << 18};
inline constexpr AxisBit kSoftUpperLimitOn{AXISSET, 1u << 19};
inline constexpr Reg kSoftLowerLimit = SLIMITL;
inline constexpr Reg kSoftUpperLimit = SLIMITH;
// Modes 1, 2, 3 are stored as codes 0, 1, 2 in bits 6-7 (code 3 reads back
// as mode 0). Mode 0 switches both software limits off and keeps the code.
inline constexpr AxisField kSoftLimitModeField{AXISSET, 0xC0, 6};
int SetSoftLimitMode(Board& c, int axes, int mode);
int GetSoftLimitMode(Board& c, int axes);

// ---- status reported by the board ----
inline constexpr AxisBit kLimitL{AXISSTATUS, 1u << 2};
inline constexpr AxisBit kLimitH{AXISSTATUS, 1u << 3};
inline constexpr AxisBit kSoftLimitL{AXISSTATUS, 1u << 4};
inline constexpr AxisBit kSoftLimitH{AXISSTATUS, 1u << 5};
inline constexpr AxisBit kCounterClockwise{AXISSTATUS, 1u << 6};  // clear: clockwise
inline constexpr AxisBit kAxisAlarm{AXISSTATUS, 1u << 7};
inline constexpr AxisBit kPositionAlarm{AXISSTATUS, 1u << 12};

}  // namespace voxa::family::motion
