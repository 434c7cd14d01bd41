// The shapes every command family is made of. An export names its register,
// word, bits and flag rule in a small descriptor and calls one of these; the
// behaviour of a whole family lives here once.
//
// Setters change the register image first, then send one register write of
// the changed words (the write carries the whole words as they stand in the
// image), and return 1 whether or not the command could be queued or sent.
#pragma once

#include <cstdint>

#include "controller/controller.h"
#include "controller/errors.h"
#include "state/registers.h"

namespace voxa::family {

using Board = Controller;

// The register-write tag set by VOXA_Set_CmdID, as a descriptor's tag.
constexpr int kRegTag = -1;

// How a flag argument turns a bit on.
enum class Flag {
  Whole,      // any nonzero 32-bit value
  LowByte,    // only the low 8 bits count (0x100 is off)
  ZeroOrOne,  // must be 0 or 1; anything else is rejected (-50)
};

inline bool IsOn(int flag, Flag rule) {
  if (rule == Flag::ZeroOrOne) Require(flag == 0 || flag == 1);
  return rule == Flag::LowByte ? (flag & 0xFF) != 0 : flag != 0;
}
inline uint8_t Axes(int mask) { return static_cast<uint8_t>(mask & 0xFF); }
// The axis a per-axis getter reads: the lowest selected one, axis 7 for none.
inline int LowestAxis(int mask) { return (mask & 0xFF) ? __builtin_ctz(static_cast<unsigned>(mask & 0xFF)) : 7; }

// Sends one register write of register r for the words in mask.
int Write(Board& c, int r, uint8_t mask, int tag = kRegTag);

// ---- per-axis registers: word i belongs to axis i ----
struct AxisBit {
  Reg reg;
  uint32_t bit;
  Flag rule = Flag::Whole;
  int tag = kRegTag;
};
int SetAxisBit(Board& c, const AxisBit& d, int axes, int flag);
int GetAxisBit(Board& c, const AxisBit& d, int axes);  // 0 or 1

struct AxisField {
  Reg reg;
  uint32_t mask;  // the field's bits in place
  int shift;      // position of the field's bit 0
  int tag = kRegTag;
};
// value is unshifted; bits outside the field are dropped.
int SetAxisField(Board& c, const AxisField& d, int axes, uint32_t value);
uint32_t GetAxisField(Board& c, const AxisField& d, int axes);  // shifted down

int SetAxisWord(Board& c, Reg reg, int axes, uint32_t value, int tag = kRegTag);
uint32_t GetAxisWord(Board& c, Reg reg, int axes);
// Per-axis values from an array of eight indexed by axis; only selected
// entries are read.
void LoadAxisWords(Board& c, Reg reg, int axes, const int32_t* values);

// ---- board-wide words ----
struct BoardBit {
  Reg reg;
  int word;
  uint32_t bit;
  Flag rule = Flag::Whole;
  int tag = kRegTag;
};
int SetBoardBit(Board& c, const BoardBit& d, int flag);
int GetBoardBit(Board& c, const BoardBit& d);  // 0 or 1

struct BoardField {
  Reg reg;
  int word;
  uint32_t mask;  // in place
  int shift;
  int tag = kRegTag;
};
int SetBoardField(Board& c, const BoardField& d, uint32_t value);  // unshifted value
uint32_t GetBoardField(Board& c, const BoardField& d);               // shifted down
int SetBoardWord(Board& c, Reg reg, int word, uint32_t value, int tag = kRegTag);

// One bit per axis inside a board-wide word: axis i owns bit `first` + i.
// The setter writes the word even when no axis is selected.
struct BoardAxisBits {
  Reg reg;
  int word;
  int first;  // 0..24
  Flag rule = Flag::Whole;
  int tag = kRegTag;
};
int SetBoardAxisBits(Board& c, const BoardAxisBits& d, int axes, int flag);
int GetBoardAxisBit(Board& c, const BoardAxisBits& d, int axes);  // the lowest selected axis, 0 or 1

// A board-wide mode the board switches by action command: the image bit
// follows the flag (no register write), then on_code or off_code goes out
// with mask 0 and the command ID.
struct BoardSwitch {
  Reg reg;
  int word;
  uint32_t bit;
  uint8_t on_code;
  uint8_t off_code;
  Flag rule = Flag::Whole;
};
int SetBoardSwitch(Board& c, const BoardSwitch& d, int flag);
int GetBoardSwitch(Board& c, const BoardSwitch& d);  // 0 or 1

// ---- commands ----
// An action command by the command mode, tagged with the command ID.
inline int Act(Board& c, uint8_t code, uint8_t mask) { return c.Action(code, mask); }
// A board-wide action (mask 0, the command ID as tag); 1 whether or not it
// could be queued or sent.
inline int BoardAction(Board& c, uint8_t code) {
  Act(c, code, 0);
  return 1;
}
// Rejects (-50) a null array of values that the axes would have read; with
// no axis selected nothing is read and null is accepted.
inline void RequireValues(const int32_t* values, int axes) { Require(values != nullptr || Axes(axes) == 0); }
// A motion: load register `reg` with the selected entries of values, write
// it, then send the action addressed to the axes. A null values pointer
// with axes selected is rejected (-50) before anything changes.
int Motion(Board& c, uint8_t code, int axes, Reg reg, const int32_t* values);
// One operand register of a motion: loads the selected entries of values
// (eight, indexed by axis) into reg and writes it for the axes (no write for
// an empty mask). The caller has checked values.
void LoadOperand(Board& c, Reg reg, int axes, const int32_t* values, int tag = kRegTag);

}  // namespace voxa::family
