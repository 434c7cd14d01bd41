// Commands that start motion. Each loads its operands into CAL0..CAL3 of
// the register image, writes each operand register for the selected axes,
// then sends its action addressed to the axes. The host passes the operand
// values through unchanged; the board interprets them.
#pragma once

#include "families/shapes.h"

namespace voxa::family::motion {

struct MotionCommand {
  uint8_t code;
  bool needs_axes = false;  // an empty mask sends nothing at all
};
inline constexpr MotionCommand kHome{0x58};
inline constexpr MotionCommand kIMove{0x59, true};
inline constexpr MotionCommand kCMove{0x5A, true};
inline constexpr MotionCommand kLine{0x5B};
inline constexpr MotionCommand kArcCW{0x5C};
inline constexpr MotionCommand kArcCCW{0x5D};
inline constexpr MotionCommand kBitPattern{0x5E};
inline constexpr MotionCommand kSpindle{0x5F};
inline constexpr MotionCommand kXMove{0x60};
inline constexpr MotionCommand kIHome{0x61};

// values: eight entries indexed by axis, into CAL0.
int Move(Board& c, const MotionCommand& m, int axes, const int32_t* values);
// One value for every selected axis, into CAL0.
int MoveAll(Board& c, const MotionCommand& m, int axes, int32_t value);
// End points into CAL0 (written first), centres into CAL1.
int Arc(Board& c, const MotionCommand& m, int axes, const int32_t* centre, const int32_t* end);
// End points into CAL0; the four parameter words into CAL1 words 0-3 (the
// third keeps its low 16 bits), written with the command ID.
int XMove(Board& c, int axes, const int32_t* values, int32_t p1, int32_t p2, int32_t p3, int32_t p4);
// The count goes to PULSEOFFSET word 1 bits 16-31 first. A positive count
// then loads pattern block k (eight words, indexed by axis) into CALk for
// every block it reaches (16 bits a block; blocks 1..3 from counts 16, 32
// and 48) and sends the action.
inline constexpr BoardField kBitPatternCount{PULSEOFFSET, 1, 0xFFFF0000u, 16};
int BitPattern(Board& c, int axes, const int32_t* blocks, int32_t count);

// ---- MI mode ----
inline constexpr BoardSwitch kMI{CHIPSET, 0, 1u << 6, 0x64, 0x65};
inline constexpr uint8_t kMIExe = 0x63;

// ---- BPU value ----
inline constexpr BoardField kBPU{PULSEOFFSET, 1, 0xFFFF, 0};

// ---- master axes: CHIPSET word 5 holds a nibble per axis, 0 for none or
// 1 + the master's index ----
int SetMasterAxis(Board& c, int slaves, int master);
int GetMasterAxis(Board& c, int axes);  // the master as a one-bit mask, 0 for none

}  // namespace voxa::family::motion
