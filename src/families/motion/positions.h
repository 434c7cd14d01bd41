// Command and encoder positions, the encoder index count, gear ratios,
// backlash compensation and the two board-wide position mode flags. The
// board reports CURPOS, ENCPOS and FEEDBACK; a value just set stands in the
// image until the next report replaces it.
#pragma once

#include "families/shapes.h"

namespace voxa::family::motion {

inline constexpr Reg kCurPos = CURPOS;
inline constexpr Reg kEncPos = ENCPOS;
inline constexpr Reg kGearRatio = GEARRATIO;
inline constexpr AxisField kEncZCount{FEEDBACK, 0xFFFF, 0};

inline constexpr AxisBit kBacklashOn{AXISSET, 1u << 20, Flag::LowByte};
// Bits 16-31 of the same word hold the per-axis dwell time.
inline constexpr AxisField kBacklash{AXISAUXSET, 0xFFFF, 0};
inline constexpr AxisField kBacklashRead{AXISAUXSET, 0x3FFF, 0};  // the board uses 14 bits

inline constexpr BoardBit kPosMode{CHIPSET, 0, 1u << 14, Flag::ZeroOrOne};
inline constexpr BoardBit kPosDispMode{CHIPSET, 0, 1u << 15, Flag::ZeroOrOne};

}  // namespace voxa::family::motion
