// The I/O and peripheral families: servo signals, general-purpose and
// extension I/O, comparators, alarms and capture. Plain bits and fields go
// straight through the shapes (shapes.h); what is particular to a family
// lives here. Arguments outside their accepted values raise ArgumentError
// (-50) before anything changes or is sent.
#pragma once

#include <cstdint>

#include "families/shapes.h"

namespace voxa::family::io {

// ---- servo signals ----
// The pulse time code stored for a time t (signed: t <= 1 is code 0), and
// the time a code reads back as.
uint32_t PulseTimeCode(int t);
int PulseTimeOf(uint32_t code);
// A per-axis level bit: level 0 or 1 only.
int SetLevel(Board& c, const AxisBit& d, int axes, int level);

// ---- general-purpose I/O ----
// The output-bit commands: load the operand, write it, then the action the
// board runs in its stream (tagged with the register-write tag).
constexpr uint8_t kSetBits = 0x70;
constexpr uint8_t kClrBits = 0x71;
constexpr uint8_t kPulseBits = 0x72;
int OutputBits(Board& c, uint8_t action, uint32_t bits);
int WaitGio(Board& c, uint32_t a, uint32_t b, uint32_t d, int32_t e);
// n bits in whole chunks of 256 (32 bytes of p per started chunk).
int SetPattern(Board& c, int n, const uint8_t* p);
int ClrPattern(Board& c, int flag);

int SetUpCounter(Board& c, int index, uint32_t value);
uint32_t GetUpCounter(Board& c, int index);
int EnableEncoder(Board& c, int index, int flag);
int SetEncoder(Board& c, int index, uint32_t value);
uint32_t GetEncoder(Board& c, int index);
uint32_t GetAdc(Board& c, int channel);
int SetPwm(Board& c, int index, uint32_t period, uint32_t duty);
// The period (bits 16-31) or duty (bits 0-15) count; a zero count, also
// from an unknown index, is rejected.
uint32_t GetPwm(Board& c, int index, bool period);

// ---- extension I/O ----
uint32_t LinkStatus(Board& c, int slot);  // the four link bits in place
int IsLink(Board& c, int slot, int link);
// The control code that every later write of CHIPSET word 3 carries.
int ExtControl(Board& c, uint32_t code);
uint32_t GetExtWord(Board& c, int word);
// Words 3..7 are written (1); words 0..2 are the board's and give 0 with
// nothing sent; other words are rejected.
int SetExtWord(Board& c, int word, uint32_t value);

// ---- comparators ----
struct Comparison {
  int channel;
  int type;      // 1: axis against data value, 2: swapped
  int axes;      // the axis of the lowest bit, axis 7 for none
  int32_t position;
  int kind;      // 0, 1, 2: bits 30 and 29
  int flag;      // event state packets (low 8 bits)
  bool extended = false;  // the two-value form with the next channel
  int32_t position2 = 0;
  uint32_t extra = 0;     // low 8 bits
};
int EnableComparator(Board& c, int channel, int flag);
int SetComparator(Board& c, const Comparison& s);

// ---- alarms ----
uint32_t GetAlarmOption(Board& c);
void ChangeAlarmOption(Board& c, uint32_t flags, bool set);

// ---- capture ----
int EnableCapture(Board& c, int flag, uint32_t mode);
int IsCapture(Board& c);
uint32_t CaptureCount(Board& c);
// Word `word` of a captured entry: index 0..9999 counts from the start of
// the ring (beyond 9999 reads 9999), -1 is the newest entry, back to the
// oldest the ring still holds. 0 with no capture, for a word outside 0..7
// and for an index further back than the ring reaches.
uint32_t GetCapture(Board& c, int index, int word);

// ---- PID ----
// Asks the board to report controller ch's setup, waits 100 ms for the
// report, then takes CUSTOM words 0..7 as the stored setup and copies its
// 30 setup bytes to `setup`.
int GetPidSetup(Board& c, int ch, uint8_t* setup);
uint32_t IsPidOn(Board& c, int ch);

}  // namespace voxa::family::io
